find_package(JPEG REQUIRED)
find_package(PNG REQUIRED)
find_package(GIF REQUIRED)
add_library(sellmeter_pictures STATIC
  ${CMAKE_CURRENT_LIST_DIR}/picture.cpp
  ${CMAKE_CURRENT_LIST_DIR}/picture_bmp.cpp
  ${CMAKE_CURRENT_LIST_DIR}/picture_gif.cpp
  ${CMAKE_CURRENT_LIST_DIR}/picture_jpeg.cpp
  ${CMAKE_CURRENT_LIST_DIR}/picture_png.cpp)
target_include_directories(sellmeter_pictures PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(sellmeter_pictures PRIVATE JPEG::JPEG PNG::PNG GIF::GIF)
