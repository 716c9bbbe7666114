# Frames of the simulated line's socket protocol.
lw_fuzz(simline_fuzz ${CMAKE_CURRENT_LIST_DIR}/simline_fuzz.cc)
