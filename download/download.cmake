# The picture download: URL splitting and InetRequest over the WinInet-shaped interface.
add_library(sellmeter_download STATIC
  ${CMAKE_CURRENT_LIST_DIR}/url_split.cpp
  ${CMAKE_CURRENT_LIST_DIR}/inet_request.cpp)
target_include_directories(sellmeter_download PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(sellmeter_download PUBLIC sellmeter_http_text sellmeter_text
                      INTERFACE sellmeter_download_linux)

# WinInet's calls on the libcurl transport shared with the request engine.
add_library(sellmeter_download_linux STATIC ${CMAKE_CURRENT_LIST_DIR}/linux/linux_wininet.cpp)
target_link_libraries(sellmeter_download_linux PUBLIC sellmeter_download PRIVATE sellmeter_curl)
