lw_bench(bench_mail ${CMAKE_CURRENT_SOURCE_DIR}/mail_bench.cc)
target_compile_definitions(bench_mail PRIVATE LW_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
