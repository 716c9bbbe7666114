# The web server's request reader and dispatch.
lw_fuzz(web_request_fuzz ${CMAKE_CURRENT_LIST_DIR}/web_request_fuzz.cc)
