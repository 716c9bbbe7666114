lw_bench(bench_web ${CMAKE_CURRENT_SOURCE_DIR}/web_bench.cc)
lw_bench(bench_web_app ${CMAKE_CURRENT_SOURCE_DIR}/web_app_bench.cc)
