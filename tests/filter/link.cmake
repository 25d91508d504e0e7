# The 3 x 3 median's column steps are tested directly, each kernel against
# the plain loops, on every instruction set this processor runs.
target_sources(kxtest_${name} PRIVATE ${PROJECT_SOURCE_DIR}/src/filter/median_columns.cpp)
