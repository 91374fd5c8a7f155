# Unit tests of the tables: empty lists, whole tables, the vlun row merge.
add_executable(tool_tables_tests tables_test.cpp)
target_link_libraries(tool_tables_tests PRIVATE tsexcore GTest::gtest_main)
add_unit_tests(tool_tables_tests)
