# The message-pumping delay and its waitable-timer interface; the Linux timers are timerfds.
add_library(sellmeter_pumping_delay STATIC ${CMAKE_CURRENT_LIST_DIR}/pumping_delay.cpp)
target_include_directories(sellmeter_pumping_delay PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(sellmeter_pumping_delay PUBLIC sellmeter_message_pump
                      INTERFACE sellmeter_pumping_delay_linux)

add_library(sellmeter_pumping_delay_linux STATIC ${CMAKE_CURRENT_LIST_DIR}/linux/timer_api_linux.cpp)
target_link_libraries(sellmeter_pumping_delay_linux PUBLIC sellmeter_pumping_delay)
