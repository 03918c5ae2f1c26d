# The application shell: the stored layout and the start-up order (portable), the Qt Widgets
# window and framework (Linux layer), the program and its screenshot companion.
find_package(Qt6 REQUIRED COMPONENTS Widgets)

add_library(sellmeter_app STATIC
  ${CMAKE_CURRENT_LIST_DIR}/main_layout.cpp
  ${CMAKE_CURRENT_LIST_DIR}/program.cpp)
target_include_directories(sellmeter_app PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(sellmeter_app PUBLIC sellmeter_run_query sellmeter_skin
                      INTERFACE sellmeter_app_linux)

add_library(sellmeter_app_linux STATIC
  ${CMAKE_CURRENT_LIST_DIR}/linux/qt_main_window.cpp
  ${CMAKE_CURRENT_LIST_DIR}/linux/qt_timer_api.cpp
  ${CMAKE_CURRENT_LIST_DIR}/linux/qt_framework.cpp)
target_link_libraries(sellmeter_app_linux PUBLIC sellmeter_app sellmeter_text
                      sellmeter_pumping_delay_linux Qt6::Widgets)

add_executable(sellmeter ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
target_link_libraries(sellmeter PRIVATE sellmeter_app)

add_executable(sellmeter-screenshot ${CMAKE_CURRENT_LIST_DIR}/linux/screenshot_main.cpp)
target_link_libraries(sellmeter-screenshot PRIVATE sellmeter_app)
