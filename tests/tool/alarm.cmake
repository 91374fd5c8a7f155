# Unit tests of the alarm analysis over hand-built lists.
add_executable(tool_alarm_tests alarm_test.cpp)
target_link_libraries(tool_alarm_tests PRIVATE tsexcore GTest::gtest_main)
add_unit_tests(tool_alarm_tests)
