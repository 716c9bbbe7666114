lw_bench(bench_settings ${CMAKE_CURRENT_SOURCE_DIR}/settings_bench.cc)
