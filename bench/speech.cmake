lw_bench(bench_speech ${CMAKE_CURRENT_SOURCE_DIR}/speech_bench.cc)
