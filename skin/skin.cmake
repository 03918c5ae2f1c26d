# The in-memory module loader (portable core) and its Linux host.
add_library(sellmeter_skin STATIC
  ${CMAKE_CURRENT_LIST_DIR}/pe_format.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mapped_image.cpp
  ${CMAKE_CURRENT_LIST_DIR}/memory_module.cpp
  ${CMAKE_CURRENT_LIST_DIR}/skin_startup.cpp)
target_include_directories(sellmeter_skin PUBLIC ${PROJECT_SOURCE_DIR})

add_library(sellmeter_skin_linux STATIC
  ${CMAKE_CURRENT_LIST_DIR}/linux/mmap_host.cpp
  ${CMAKE_CURRENT_LIST_DIR}/linux/no_engine_image.cpp)
target_link_libraries(sellmeter_skin_linux PUBLIC sellmeter_skin)
target_link_libraries(sellmeter_skin INTERFACE sellmeter_skin_linux)
