# Wave file headers, and the repair of recordings cut off by a crash.
lw_fuzz(wave_header_fuzz ${CMAKE_CURRENT_LIST_DIR}/wave_header_fuzz.cc)
lw_fuzz(wave_repair_fuzz ${CMAKE_CURRENT_LIST_DIR}/wave_repair_fuzz.cc)
