lw_fuzz(fuzz_reg_file ${CMAKE_CURRENT_SOURCE_DIR}/reg_file_fuzz.cc
        ${CMAKE_CURRENT_SOURCE_DIR}/seeds/reg)
