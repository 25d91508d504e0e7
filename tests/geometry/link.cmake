# The rotation engine's row kernels are internal to the library; the tests
# compile them in to compare them with the exact route directly.
target_sources(kxtest_${name} PRIVATE ${PROJECT_SOURCE_DIR}/src/geometry/rotate_fast.cpp)
