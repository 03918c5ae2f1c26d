# Report page extraction: the two patterns over a RegexObject.
add_library(sellmeter_extraction STATIC ${CMAKE_CURRENT_LIST_DIR}/report_extraction.cpp)
target_include_directories(sellmeter_extraction PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(sellmeter_extraction PUBLIC sellmeter_regex)
