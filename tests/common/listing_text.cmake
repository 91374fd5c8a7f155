# Unit tests of the listing text and of the line reader under it
# (common/listing_text, common/listing_line, library tslistingtext).
add_executable(common_listing_text_tests ${CMAKE_CURRENT_LIST_DIR}/listing_text_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/listing_line_test.cpp)
target_link_libraries(common_listing_text_tests PRIVATE tslistingtext GTest::gtest_main)
add_unit_tests(common_listing_text_tests)
