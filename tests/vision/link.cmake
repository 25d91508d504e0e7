# The vision tests compare the library with direct OpenCV calls.
target_link_libraries(kxtest_${name} PRIVATE KxOpenCV::imgproc KxOpenCV::core)
# g++ 12 at -O2 reports a false free-nonheap-object on byte vectors built and
# released inside inlined test helpers (a known optimiser false positive).
target_compile_options(kxtest_${name} PRIVATE -Wno-free-nonheap-object)
