lw_bench(bench_controller ${CMAKE_CURRENT_SOURCE_DIR}/controller_bench.cc)
