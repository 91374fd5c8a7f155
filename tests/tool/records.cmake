# Unit tests of the table framing and of the topology records.
add_executable(tool_records_tests tsprint_test.cpp tstopology_test.cpp)
target_link_libraries(tool_records_tests PRIVATE tsexcore GTest::gtest_main)
add_unit_tests(tool_records_tests)
