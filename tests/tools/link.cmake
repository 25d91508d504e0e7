# The tools' shared code (image files, operation table, pipeline).
include(${PROJECT_SOURCE_DIR}/tools/kxtools.cmake)
target_link_libraries(kxtest_${name} PRIVATE kxtools)
