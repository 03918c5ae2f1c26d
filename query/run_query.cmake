# The query command. The service host is a build setting (SELLMETER_SERVICE_HOST).
add_library(sellmeter_run_query STATIC ${CMAKE_CURRENT_LIST_DIR}/run_query.cpp)
target_include_directories(sellmeter_run_query PUBLIC ${PROJECT_SOURCE_DIR})
target_compile_definitions(sellmeter_run_query PRIVATE
                           SELLMETER_SERVICE_HOST="${SELLMETER_SERVICE_HOST}")
target_link_libraries(sellmeter_run_query PUBLIC
  sellmeter_http sellmeter_download sellmeter_extraction sellmeter_pictures sellmeter_regex
  sellmeter_text sellmeter_pumping_delay)
