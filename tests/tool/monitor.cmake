# Unit tests of the monitoring forms' texts.
add_executable(tool_monitor_tests monitor_test.cpp)
target_link_libraries(tool_monitor_tests PRIVATE tsexcore GTest::gtest_main)
add_unit_tests(tool_monitor_tests)
