# The translation file.
lw_fuzz(translation_fuzz ${CMAKE_CURRENT_LIST_DIR}/translation_fuzz.cc)
