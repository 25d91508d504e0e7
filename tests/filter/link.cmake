# The 3 x 3 median's column steps are tested directly, each kernel against
# the plain loops on every instruction set this processor runs, through the
# internal object library.
target_link_libraries(kxtest_${name} PRIVATE kxpre_internal)
