# The selectors and the multi-level search are pure functions of a histogram;
# the tests compile them in to compare them with plain loops directly.
target_sources(kxtest_${name} PRIVATE
  ${PROJECT_SOURCE_DIR}/src/threshold/selectors.cpp
  ${PROJECT_SOURCE_DIR}/src/threshold/multilevel_search.cpp)
# The local threshold's row decision: the vector kernel against the plain
# loop on arbitrary window sums.
target_sources(kxtest_${name} PRIVATE ${PROJECT_SOURCE_DIR}/src/threshold/local_rows.cpp)
