# Fails unless the suites of the test binary BINARY are exactly SUITES (comma
# separated): the suites registered with ctest one by one.
execute_process(COMMAND ${BINARY} --gtest_list_tests
  OUTPUT_VARIABLE listing RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${BINARY} --gtest_list_tests failed: ${result}")
endif()

string(REGEX MATCHALL "(^|\n)[A-Za-z0-9_]+\\." found "${listing}")
list(TRANSFORM found REPLACE "[\n.]" "")
list(SORT found)
string(REPLACE "," ";" expected "${SUITES}")
list(SORT expected)
if(NOT found STREQUAL expected)
  message(FATAL_ERROR "suites in the binary: ${found}\nsuites registered with ctest: ${expected}")
endif()
message(STATUS "all ${SUITES} registered")
