# The contact file.
lw_fuzz(contacts_fuzz ${CMAKE_CURRENT_LIST_DIR}/contacts_fuzz.cc)
