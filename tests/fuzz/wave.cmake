# Wave file headers.
lw_fuzz(wave_header_fuzz ${CMAKE_CURRENT_LIST_DIR}/wave_header_fuzz.cc)
