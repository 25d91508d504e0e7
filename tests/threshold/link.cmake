# The selectors and the multi-level search are pure functions of a histogram,
# compared with plain loops directly through the internal object library.
target_link_libraries(kxtest_${name} PRIVATE kxpre_internal)
