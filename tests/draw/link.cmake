target_link_libraries(kxtest_${name} PRIVATE kxtext)
# The inside-test counter (draw_test.cpp) must be visible to the libraries'
# dynamic symbol lookup.
set_target_properties(kxtest_${name} PROPERTIES ENABLE_EXPORTS ON)
target_link_libraries(kxtest_${name} PRIVATE ${CMAKE_DL_LIBS})
