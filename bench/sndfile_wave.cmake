lw_bench(bench_sndfile_wave ${CMAKE_SOURCE_DIR}/src/drivers/sndfile_wave/sndfile_wave_bench.cc)
