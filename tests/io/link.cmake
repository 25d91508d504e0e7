# The image-file tests read the corpus in tests/data, and write TIFF layouts
# and hostile PNG headers with libtiff and zlib themselves.
find_package(TIFF REQUIRED)
find_package(ZLIB REQUIRED)
target_link_libraries(kxtest_${name} PRIVATE kxio TIFF::TIFF ZLIB::ZLIB)
target_compile_definitions(kxtest_${name} PRIVATE KX_TEST_DATA="${PROJECT_SOURCE_DIR}/tests/data")
