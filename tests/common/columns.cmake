# Unit tests of the column table (common/column_table, library tscolumns).
add_executable(common_columns_tests ${CMAKE_CURRENT_LIST_DIR}/column_table_test.cpp)
target_link_libraries(common_columns_tests PRIVATE tscolumns GTest::gtest_main)
add_unit_tests(common_columns_tests)

# Unit tests of the JSON writer (common/json_writer, library tsjson); the
# documents are parsed back with nlohmann-json3-dev.
find_package(nlohmann_json 3 REQUIRED)
add_executable(common_json_tests ${CMAKE_CURRENT_LIST_DIR}/json_writer_test.cpp)
target_link_libraries(common_json_tests PRIVATE tsjson nlohmann_json::nlohmann_json GTest::gtest_main)
add_unit_tests(common_json_tests)
