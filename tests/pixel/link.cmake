# The byte-table kernels are tested directly, each against the plain lookup
# on every instruction set this processor runs, through the internal object
# library.
target_link_libraries(kxtest_${name} PRIVATE kxpre_internal)
