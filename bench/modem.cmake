if(LW_WITH_VOICE_MODEM)
  lw_bench(bench_modem ${CMAKE_CURRENT_SOURCE_DIR}/modem_bench.cc)
  target_link_libraries(bench_modem PRIVATE lw_modemsim)
  target_include_directories(bench_modem PRIVATE
    ${CMAKE_SOURCE_DIR}/tools/modemsim)
endif()
