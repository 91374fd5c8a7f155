# Unit tests of the atomic file replacement (common/atomic_file).
add_executable(common_atomic_file_tests ${CMAKE_CURRENT_LIST_DIR}/atomic_file_test.cpp)
target_link_libraries(common_atomic_file_tests PRIVATE tsatomicfile GTest::gtest_main)
add_unit_tests(common_atomic_file_tests)
