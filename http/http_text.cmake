# Header composition, TextBetween, the method table and the cookie texts: portable, shared with
# the picture download.
add_library(sellmeter_http_text STATIC
  ${CMAKE_CURRENT_LIST_DIR}/text_between.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cookies.cpp
  ${CMAKE_CURRENT_LIST_DIR}/compose_headers.cpp)
target_include_directories(sellmeter_http_text PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(sellmeter_http_text PUBLIC sellmeter_text)
