# Calls on 8 threads at once give the serial results (tests/tsan).  In every
# build the comparison runs as it is; tests/tsan/run.sh builds it with
# ThreadSanitizer in a folder of its own (<build>/tsan), which the test
# "threads_tsan" does where the compiler has the ThreadSanitizer runtime (in
# the release flavours, not the Debug one: once per tree).
add_executable(kxtest_tsan ${CMAKE_CURRENT_SOURCE_DIR}/tsan/tsan.cpp)
kx_strict(kxtest_tsan)
kx_uses_export_calls(kxtest_tsan)
target_include_directories(kxtest_tsan PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/support)
find_package(Threads REQUIRED)
target_link_libraries(kxtest_tsan PRIVATE kxpre kxmask kxthreads GTest::gtest GTest::gtest_main Threads::Threads)
kx_discover_tests(kxtest_tsan 600)

if(NOT KX_TSAN AND NOT KX_FUZZ AND NOT CMAKE_BUILD_TYPE STREQUAL "Debug")
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libtsan.so
                  OUTPUT_VARIABLE _kx_tsan_rt OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(IS_ABSOLUTE "${_kx_tsan_rt}" AND EXISTS "${_kx_tsan_rt}")
    add_test(NAME threads_tsan COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/tsan/run.sh)
    set_tests_properties(threads_tsan PROPERTIES TIMEOUT 1200
      ENVIRONMENT "KX_TSAN_BUILD=${PROJECT_BINARY_DIR}/tsan;CC=${CMAKE_C_COMPILER};CXX=${CMAKE_CXX_COMPILER}")
  endif()
endif()
