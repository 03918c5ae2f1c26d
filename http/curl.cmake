# The libcurl transport both Linux request layers build on.
find_package(CURL REQUIRED)
add_library(sellmeter_curl STATIC ${CMAKE_CURRENT_LIST_DIR}/linux/curl_transport.cpp)
target_include_directories(sellmeter_curl PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(sellmeter_curl PRIVATE CURL::libcurl)
