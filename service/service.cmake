find_package(PkgConfig REQUIRED)
pkg_check_modules(CPP_HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
find_package(Threads REQUIRED)

# Pages and pictures, without the HTTP layer (the tests read them directly).
add_library(sellmeter_service_pages STATIC ${CMAKE_CURRENT_LIST_DIR}/report_page.cpp)
target_include_directories(sellmeter_service_pages PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(sellmeter_service_pages PUBLIC sellmeter_service_pictures)

add_library(sellmeter_service STATIC ${CMAKE_CURRENT_LIST_DIR}/service.cpp)
target_include_directories(sellmeter_service PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(sellmeter_service PUBLIC sellmeter_service_pages PRIVATE PkgConfig::CPP_HTTPLIB Threads::Threads)

add_executable(sellmeter-service ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
target_link_libraries(sellmeter-service PRIVATE sellmeter_service)
