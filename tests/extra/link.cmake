# The companion library's tests call it and compare it with OpenCV.
target_link_libraries(kxtest_${name} PRIVATE kxextra KxOpenCV::imgproc KxOpenCV::core)
