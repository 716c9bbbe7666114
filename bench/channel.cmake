lw_bench(bench_channel ${CMAKE_CURRENT_SOURCE_DIR}/channel_bench.cc)
