# The selectors, the multi-level search and the local threshold's row
# decision are compared with plain loops directly, through the internal
# object library.
target_link_libraries(kxtest_${name} PRIVATE kxpre_internal)
