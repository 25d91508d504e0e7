# The rotation engine's row kernels and the scaler's integer forms are
# internal to the library; the tests compile them in to compare them with
# the exact routes directly.
target_sources(kxtest_${name} PRIVATE
  ${PROJECT_SOURCE_DIR}/src/geometry/rotate_fast.cpp
  ${PROJECT_SOURCE_DIR}/src/geometry/scale_fast.cpp)
