target_link_libraries(kxtest_${name} PRIVATE kxthreads)
