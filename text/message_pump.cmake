add_library(sellmeter_message_pump STATIC ${CMAKE_CURRENT_LIST_DIR}/message_pump.cpp)
target_include_directories(sellmeter_message_pump PUBLIC ${PROJECT_SOURCE_DIR})
