# The code shared by the tools (image files, the operation table, the
# pipeline), also linked into the tests of tests/tools.
if(NOT TARGET kxtools)
  set(_kxtools_dir ${CMAKE_CURRENT_LIST_DIR})
  add_library(kxtools STATIC
    ${_kxtools_dir}/imageio.cpp ${_kxtools_dir}/operations.cpp ${_kxtools_dir}/pipe.cpp
    ${_kxtools_dir}/page.cpp)
  kx_strict(kxtools)
  target_include_directories(kxtools PUBLIC ${_kxtools_dir})
  target_link_libraries(kxtools PUBLIC kxpre kxio)
endif()
