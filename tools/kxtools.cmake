# The code shared by the tools (image files, the operation table, the
# pipeline), also linked into the tests of tests/tools.
if(NOT TARGET kxtools)
  set(_kxtools_dir ${CMAKE_CURRENT_LIST_DIR})
  include(${_kxtools_dir}/manifest/manifest.cmake)
  # kxpipe's steps, generated from the export manifest.
  set(_kxtools_generated ${PROJECT_BINARY_DIR}/generated/kxtools)
  kx_generate_from_manifest(pipe-table ${PROJECT_SOURCE_DIR}/include/kxpre-exports.toml
                            ${_kxtools_generated}/kxpre_operations.inc)
  # and the companion library's (libkxextra).
  kx_generate_from_manifest(pipe-table ${PROJECT_SOURCE_DIR}/extra/kxextra-exports.toml
                            ${_kxtools_generated}/kxextra_operations.inc)
  add_library(kxtools STATIC
    ${_kxtools_dir}/imageio.cpp ${_kxtools_dir}/operations.cpp ${_kxtools_dir}/pipe.cpp
    ${_kxtools_dir}/page.cpp ${_kxtools_generated}/kxpre_operations.inc
    ${_kxtools_generated}/kxextra_operations.inc)
  kx_strict(kxtools)
  target_include_directories(kxtools PUBLIC ${_kxtools_dir} PRIVATE ${_kxtools_generated})
  target_compile_definitions(kxtools PUBLIC KX_VERSION="${PROJECT_VERSION}")
  target_link_libraries(kxtools PUBLIC kxpre kxio kxextra)
endif()
