# The image-file tests read the corpus in tests/data.
target_link_libraries(kxtest_${name} PRIVATE kxio)
target_compile_definitions(kxtest_${name} PRIVATE KX_TEST_DATA="${PROJECT_SOURCE_DIR}/tests/data")
