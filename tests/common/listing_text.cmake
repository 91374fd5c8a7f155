# Unit tests of the listing text (common/listing_text, library tslistingtext).
add_executable(common_listing_text_tests ${CMAKE_CURRENT_LIST_DIR}/listing_text_test.cpp)
target_link_libraries(common_listing_text_tests PRIVATE tslistingtext GTest::gtest_main)
add_unit_tests(common_listing_text_tests)
