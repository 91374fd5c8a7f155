# tsioctrl: decoders, helpers and command senders without a device
# (tool_ioctrl_tests, over a scripted pass-through), and identification through the
# real ioctl on the simulated host of hosts/ioctrl.json (tool_ioctrl_sim_tests,
# one ctest case run inside `sansim run`).
add_executable(tool_ioctrl_tests ${CMAKE_CURRENT_LIST_DIR}/tsioctrl_test.cpp)
target_link_libraries(tool_ioctrl_tests PRIVATE tsexcore GTest::gtest_main)
add_unit_tests(tool_ioctrl_tests)

add_executable(tool_ioctrl_sim_tests ${CMAKE_CURRENT_LIST_DIR}/tsioctrl_sim_test.cpp)
target_link_libraries(tool_ioctrl_sim_tests PRIVATE tsexcore sansim_target GTest::gtest_main)
add_test(NAME tool_ioctrl_sim
  COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/run_sim_tests.sh $<TARGET_FILE:sansim>
    ${CMAKE_CURRENT_LIST_DIR}/hosts/ioctrl.json ${CMAKE_CURRENT_BINARY_DIR}/ioctrl_audit.log
    $<TARGET_FILE:tool_ioctrl_sim_tests>)
set_tests_properties(tool_ioctrl_sim PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300 LABELS sim)

# Developer's probe: prints every field of the DevInfo identified from a node.
#   sansim run tests/tool/hosts/ioctrl.json -- devinfo_probe [--strict] /dev/sdh
add_executable(devinfo_probe ${CMAKE_CURRENT_LIST_DIR}/devinfo_probe.cpp)
target_link_libraries(devinfo_probe PRIVATE tsexcore)
