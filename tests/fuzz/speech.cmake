# Speech commands of the desktop application.
lw_fuzz(speech_command_fuzz ${CMAKE_CURRENT_LIST_DIR}/speech_command_fuzz.cc)
