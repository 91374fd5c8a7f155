# Unit tests of the run's deadline journal (common/query_process, library
# tsqueryproc): recorded and replayed runs, journals cut anywhere.
add_executable(common_query_process_tests ${CMAKE_CURRENT_LIST_DIR}/query_process_test.cpp)
target_link_libraries(common_query_process_tests PRIVATE tsqueryproc GTest::gtest_main)
add_unit_tests(common_query_process_tests)
