# Line commands of the desktop application, in every state of a call.
lw_fuzz(line_command_fuzz ${CMAKE_CURRENT_LIST_DIR}/line_command_fuzz.cc)
