# Unit tests of the table framing, of the topology records and of the look-up
# of a vlun by name.
add_executable(tool_records_tests tsprint_test.cpp tstopology_test.cpp tsname_test.cpp)
target_link_libraries(tool_records_tests PRIVATE tsexcore GTest::gtest_main)
add_unit_tests(tool_records_tests)
