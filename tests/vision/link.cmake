# The vision tests compare the library with direct OpenCV calls.
target_link_libraries(kxtest_${name} PRIVATE KxOpenCV::imgproc KxOpenCV::core)
