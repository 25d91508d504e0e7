# The selectors on worked histograms, the multi-level search against its
# exhaustive walk and the local threshold's row decision against the plain
# loop are tested directly, through the internal object library.
target_link_libraries(kxtest_${name} PRIVATE kxpre_internal)
