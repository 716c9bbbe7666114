lw_bench(bench_calls ${CMAKE_CURRENT_SOURCE_DIR}/calls_bench.cc)
