# The web request engine (portable core) and its Linux layer: WinHTTP on the libcurl transport
# and the charset stream on ICU.
add_library(sellmeter_http STATIC
  ${CMAKE_CURRENT_LIST_DIR}/web_request.cpp
  ${CMAKE_CURRENT_LIST_DIR}/charset_step.cpp)
target_include_directories(sellmeter_http PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(sellmeter_http PUBLIC sellmeter_http_text sellmeter_regex sellmeter_text
                                            sellmeter_message_pump)

find_package(ICU REQUIRED COMPONENTS uc)
add_library(sellmeter_http_linux STATIC
  ${CMAKE_CURRENT_LIST_DIR}/linux/winhttp_linux.cpp
  ${CMAKE_CURRENT_LIST_DIR}/linux/ado_stream_icu.cpp)
target_link_libraries(sellmeter_http_linux PUBLIC sellmeter_http PRIVATE sellmeter_curl ICU::uc)

target_link_libraries(sellmeter_http INTERFACE sellmeter_http_linux)
