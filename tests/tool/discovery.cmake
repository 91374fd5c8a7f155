# Discovery: the listing cutters, the phypath merge, the device copies and the
# name checks without a device (tool_discovery_tests, one ctest case),
# and multipath and /sys/block discovery on the simulated hosts of
# hosts/discovery*.json (the Sim* suites of the same program, one ctest case
# per host, each run inside `sansim run`).
set(DISCOVERY_SAMPLES_DIR ${CMAKE_SOURCE_DIR}/../shared/samples)

add_executable(tool_discovery_tests ${CMAKE_CURRENT_LIST_DIR}/discovery_test.cpp)
target_link_libraries(tool_discovery_tests PRIVATE tsexcore GTest::gtest_main)
target_compile_definitions(tool_discovery_tests PRIVATE
  DISCOVERY_SAMPLES_DIR="${DISCOVERY_SAMPLES_DIR}")
add_unit_tests(tool_discovery_tests --gtest_filter=-Sim*)

set(_discovery_hosts
  main discovery.json SimMain
  canned discovery-canned.json SimCanned
  nompath discovery-nompath.json SimNoMultipath
  listfails discovery-listfails.json SimListFails
  nostart discovery-nostart.json SimNoStart)

# The real listings beside the repository, one after the other, make a host
# whose nodes are every dm and sd name they show; the test reads the listings
# themselves from the samples folder.
file(GLOB _discovery_samples ${DISCOVERY_SAMPLES_DIR}/mpath-*.txt)
if(_discovery_samples)
  set(_discovery_listing ${CMAKE_CURRENT_BINARY_DIR}/discovery-samples.listing)
  file(WRITE ${_discovery_listing} "")
  foreach(_sample IN LISTS _discovery_samples)
    file(READ ${_sample} _text)
    file(APPEND ${_discovery_listing} "${_text}\n")
  endforeach()
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/discovery-samples.json
    "{\n  \"comment\": \"Discovery tests: nodes for every name of the sample listings.\",\n"
    "  \"multipath\": { \"canned_listing\": \"discovery-samples.listing\" }\n}\n")
  list(APPEND _discovery_hosts samples ${CMAKE_CURRENT_BINARY_DIR}/discovery-samples.json SimSamples)
endif()

while(_discovery_hosts)
  list(POP_FRONT _discovery_hosts _name _topology _suite)
  if(NOT IS_ABSOLUTE ${_topology})
    set(_topology ${CMAKE_CURRENT_LIST_DIR}/hosts/${_topology})
  endif()
  add_test(NAME tool_discovery_sim_${_name}
    COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/run_sim_tests.sh $<TARGET_FILE:sansim> ${_topology}
      ${CMAKE_CURRENT_BINARY_DIR}/discovery_${_name}_audit.log
      $<TARGET_FILE:tool_discovery_tests> --gtest_filter=${_suite}.*)
  set_tests_properties(tool_discovery_sim_${_name} PROPERTIES
    SKIP_RETURN_CODE 77 TIMEOUT 300 LABELS sim ENVIRONMENT DISCOVERY_ON_SIM_HOST=1)
endwhile()
