# Unit tests of the PATH search (common/search_path, library tssearchpath).
add_executable(common_search_path_tests ${CMAKE_CURRENT_LIST_DIR}/search_path_test.cpp)
target_link_libraries(common_search_path_tests PRIVATE tssearchpath GTest::gtest_main)
add_unit_tests(common_search_path_tests)
