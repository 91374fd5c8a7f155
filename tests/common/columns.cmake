# Unit tests of the column table (common/column_table, library tscolumns).
add_executable(common_columns_tests ${CMAKE_CURRENT_LIST_DIR}/column_table_test.cpp)
target_link_libraries(common_columns_tests PRIVATE tscolumns GTest::gtest_main)
gtest_discover_tests(common_columns_tests DISCOVERY_TIMEOUT 60)
