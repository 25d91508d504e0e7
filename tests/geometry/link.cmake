# The rotation engine's row kernels and the scaler's integer forms are
# internal to the library; the tests compare them with the exact routes
# directly through the internal object library.
target_link_libraries(kxtest_${name} PRIVATE kxpre_internal)
