target_link_libraries(kxtest_${name} PRIVATE kxthreads)
# The public header compiles as C.
add_executable(kxtest_threads_header_c ${CMAKE_CURRENT_LIST_DIR}/header_c.c)
target_compile_options(kxtest_threads_header_c PRIVATE -Wall -Wextra -Werror -pedantic -std=c99)
target_link_libraries(kxtest_threads_header_c PRIVATE kxthreads)
add_test(NAME threads_header_compiles_as_c COMMAND kxtest_threads_header_c)
