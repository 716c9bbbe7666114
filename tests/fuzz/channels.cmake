# Channel message framing.
lw_fuzz(message_text_fuzz ${CMAKE_CURRENT_LIST_DIR}/message_text_fuzz.cc)
