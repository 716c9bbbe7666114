lw_bench(bench_simline ${CMAKE_CURRENT_SOURCE_DIR}/simline_bench.cc)
