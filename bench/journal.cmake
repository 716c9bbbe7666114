lw_bench(bench_journal ${CMAKE_CURRENT_SOURCE_DIR}/journal_bench.cc)
