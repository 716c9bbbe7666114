lw_bench(bench_callstore ${CMAKE_CURRENT_SOURCE_DIR}/callstore_bench.cc)
