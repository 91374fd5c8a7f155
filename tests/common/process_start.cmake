# Unit tests of a program's start (common/process_start).
add_executable(common_process_start_tests ${CMAKE_CURRENT_LIST_DIR}/process_start_test.cpp)
target_link_libraries(common_process_start_tests PRIVATE tsprocessstart GTest::gtest_main)
add_unit_tests(common_process_start_tests)
