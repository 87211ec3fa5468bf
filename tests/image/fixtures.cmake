# The fixture maker, shared by the image tests, the image benchmarks and the
# fuzz corpus writer; whichever folder comes first defines it.
if(NOT TARGET image_fixtures)
  if(NOT TARGET PkgConfig::JPEG)
    pkg_check_modules(JPEG REQUIRED IMPORTED_TARGET GLOBAL libjpeg)
  endif()
  add_library(image_fixtures STATIC ${CMAKE_SOURCE_DIR}/tests/image/fixtures.cpp)
  target_include_directories(image_fixtures PUBLIC ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(image_fixtures PUBLIC PkgConfig::TURBOJPEG PkgConfig::JPEG PkgConfig::PNG PkgConfig::TIFF
    PkgConfig::HEIF)
  quelltrine_warnings(image_fixtures)
endif()
