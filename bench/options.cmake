lw_bench(bench_options ${CMAKE_CURRENT_SOURCE_DIR}/options_bench.cc)
