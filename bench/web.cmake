lw_bench(bench_web ${CMAKE_CURRENT_SOURCE_DIR}/web_bench.cc)
