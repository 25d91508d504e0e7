# Injected allocation failures (tests/failinject).  Debug builds abort on a
# failed allocation's report, so the program runs in release flavours only.
if(NOT CMAKE_BUILD_TYPE STREQUAL "Debug")
  add_executable(kxtest_failinject ${CMAKE_CURRENT_SOURCE_DIR}/failinject/failinject.cpp)
  kx_strict(kxtest_failinject)
  kx_uses_export_calls(kxtest_failinject)
  # The wrappers must be visible to the libraries' dynamic symbol lookup.
  set_target_properties(kxtest_failinject PROPERTIES ENABLE_EXPORTS ON)
  target_link_libraries(kxtest_failinject PRIVATE kxpre kxmask GTest::gtest GTest::gtest_main ${CMAKE_DL_LIBS})
  kx_discover_tests(kxtest_failinject 600)
endif()
