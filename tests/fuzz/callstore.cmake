# Call store readers: data file, latest-call list, contact file.
lw_fuzz(callstore_fuzz ${CMAKE_CURRENT_LIST_DIR}/callstore_fuzz.cc)
