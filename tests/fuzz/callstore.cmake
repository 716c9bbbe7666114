# Call store readers: data file, latest-call list, contact file.
lw_fuzz(callstore_fuzz ${CMAKE_CURRENT_SOURCE_DIR}/callstore_fuzz.cc
        ${CMAKE_CURRENT_SOURCE_DIR}/callstore_seeds)
