# Unit tests of the pool of device queries (common/job_pool, library tsjobs).
add_executable(common_job_pool_tests ${CMAKE_CURRENT_LIST_DIR}/job_pool_test.cpp)
target_link_libraries(common_job_pool_tests PRIVATE tsjobs GTest::gtest_main)
add_unit_tests(common_job_pool_tests)
