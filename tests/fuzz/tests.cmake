# A short run of every fuzz harness (tests/fuzz/run.sh short: a fixed number
# of executions each, about 20 s, the export harness again under each
# instruction-level cap; after
# building the clang flavour in <build>/fuzz); only where clang 14 and its
# libFuzzer runtime are installed, and once per tree: in the release
# flavours, not the Debug one.
option(KX_FUZZ_SHORT "Run the fuzz harnesses briefly in ctest where clang 14 is installed" ON)
if(KX_FUZZ_SHORT AND NOT KX_FUZZ AND NOT CMAKE_BUILD_TYPE STREQUAL "Debug")
  find_program(KX_CLANG clang-14)
  find_program(KX_CLANGXX clang++-14)
  set(_kx_fuzzer_rt "")
  if(KX_CLANGXX)
    execute_process(COMMAND ${KX_CLANGXX} -print-file-name=libclang_rt.fuzzer-x86_64.a
                    OUTPUT_VARIABLE _kx_fuzzer_rt OUTPUT_STRIP_TRAILING_WHITESPACE)
  endif()
  if(KX_CLANG AND IS_ABSOLUTE "${_kx_fuzzer_rt}" AND EXISTS "${_kx_fuzzer_rt}")
    string(REPLACE ";" " " _kx_fuzz_levels "${KX_CAPPED_LEVELS}")
    add_test(NAME fuzz_short COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/run.sh short)
    set_tests_properties(fuzz_short PROPERTIES TIMEOUT 1200 RUN_SERIAL TRUE
      ENVIRONMENT "CC=${KX_CLANG};CXX=${KX_CLANGXX};KX_FUZZ_BUILD=${PROJECT_BINARY_DIR}/fuzz;KX_FUZZ_LEVELS=${_kx_fuzz_levels}")
  else()
    message(STATUS "kxpre: no clang-14 with libFuzzer (libclang-rt-14-dev); the fuzz harnesses are not run")
  endif()
endif()

# The faults the export fuzzer found are replayed from its corpus (seeds
# such as exports/*-unusable-destination) on every short run, and checked in
# every build, with or without clang, by these regression tests.
add_executable(kxtest_fuzz_regressions ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/unusable_destination_test.cpp)
kx_strict(kxtest_fuzz_regressions)
target_link_libraries(kxtest_fuzz_regressions PRIVATE kxpre GTest::gtest GTest::gtest_main)
kx_discover_tests(kxtest_fuzz_regressions 300)
