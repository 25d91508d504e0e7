# The tools' shared code (image files, operation table, pipeline).
include(${PROJECT_SOURCE_DIR}/tools/kxtools.cmake)
target_link_libraries(kxtest_${name} PRIVATE kxtools)
# The names libkxpre exports, generated from the export manifest.
add_dependencies(kxtest_${name} kxpre_exports_list)
target_compile_definitions(kxtest_${name} PRIVATE KX_EXPORTS_LIST="${PROJECT_BINARY_DIR}/generated/kxpre.exports")
