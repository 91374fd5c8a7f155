# The --json document of the checks, read back with the JSON header package.
find_package(nlohmann_json 3 REQUIRED)
add_executable(tool_json_tests ${CMAKE_CURRENT_LIST_DIR}/json_check_test.cpp)
target_link_libraries(tool_json_tests PRIVATE tsexcore nlohmann_json::nlohmann_json
  GTest::gtest_main)
add_unit_tests(tool_json_tests)
