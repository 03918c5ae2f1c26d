# The regex object and its seams (portable), and the Linux layer: COM bookkeeping and the
# RegExp engine on PCRE2.
find_package(PkgConfig REQUIRED)
pkg_check_modules(PCRE2_16 REQUIRED IMPORTED_TARGET libpcre2-16)

add_library(sellmeter_regex STATIC ${CMAKE_CURRENT_LIST_DIR}/regex_object.cpp)
target_include_directories(sellmeter_regex PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(sellmeter_regex PUBLIC sellmeter_text)

add_library(sellmeter_regex_linux STATIC
  ${CMAKE_CURRENT_LIST_DIR}/linux/com_api_linux.cpp
  ${CMAKE_CURRENT_LIST_DIR}/linux/pcre2_regexp.cpp)
target_link_libraries(sellmeter_regex_linux PUBLIC sellmeter_regex PRIVATE PkgConfig::PCRE2_16)

target_link_libraries(sellmeter_regex INTERFACE sellmeter_regex_linux)
