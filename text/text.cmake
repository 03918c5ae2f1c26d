find_package(ICU REQUIRED COMPONENTS uc)

add_library(sellmeter_text STATIC
  ${CMAKE_CURRENT_LIST_DIR}/codepage.cpp
  ${CMAKE_CURRENT_LIST_DIR}/url_encode.cpp
  ${CMAKE_CURRENT_LIST_DIR}/gbk_text.cpp)
target_include_directories(sellmeter_text PUBLIC ${PROJECT_SOURCE_DIR})

add_library(sellmeter_text_linux STATIC ${CMAKE_CURRENT_LIST_DIR}/linux/linux_codepage.cpp)
target_link_libraries(sellmeter_text_linux PUBLIC sellmeter_text PRIVATE ICU::uc)
# Whatever links the core gets the platform's PlatformCodePageApi().
target_link_libraries(sellmeter_text INTERFACE sellmeter_text_linux)
