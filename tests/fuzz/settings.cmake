# Registry export files; stored values as the line options read them.
lw_fuzz(reg_file_fuzz ${CMAKE_CURRENT_LIST_DIR}/reg_file_fuzz.cc)
lw_fuzz(option_value_fuzz ${CMAKE_CURRENT_LIST_DIR}/option_value_fuzz.cc)
