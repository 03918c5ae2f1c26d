# The encoders and the picture generator of the stand-in service (also the picture tests'
# fixture maker).
find_package(JPEG REQUIRED)
find_package(PNG REQUIRED)
find_package(GIF REQUIRED)
add_library(sellmeter_service_pictures STATIC ${CMAKE_CURRENT_LIST_DIR}/picture_maker.cpp)
target_include_directories(sellmeter_service_pictures PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(sellmeter_service_pictures PUBLIC sellmeter_pictures PRIVATE JPEG::JPEG PNG::PNG GIF::GIF)
