# Run by ctest through the file corvane_add_test_suites generates: lists the program's test
# suites and writes one add_test per suite into CORVANE_TESTS_FILE.
execute_process(
  COMMAND "${CORVANE_PROGRAM}" --gtest_list_tests
  WORKING_DIRECTORY "${CORVANE_WORKING_DIRECTORY}"
  TIMEOUT 60
  OUTPUT_VARIABLE listing
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "Listing the tests of ${CORVANE_PROGRAM} failed (${result}):\n${listing}")
endif()

# Square brackets (in parameter values) would stop CMake splitting the list; suite names
# have none.
string(REGEX REPLACE "[][;]" "_" listing "${listing}")
string(REPLACE "\n" ";" lines "${listing}")
set(script "")
foreach(line IN LISTS lines)
  # Suite lines start in the first column ("Suite." or "Prefix/Suite/0.  # TypeParam = ...");
  # the cases below them are indented, and a main may print a line of its own first.
  if(NOT line MATCHES "^[A-Za-z_][A-Za-z0-9_/]*\\.( *#.*)?$")
    continue()
  endif()
  string(REGEX REPLACE "\\.( *#.*)?$" "" suite "${line}")
  set(name "${CORVANE_LABEL}:${suite}")
  string(APPEND script
    "add_test([==[${name}]==] [==[${CORVANE_PROGRAM}]==] [==[--gtest_filter=${suite}.*]==])\n"
    "set_tests_properties([==[${name}]==] PROPERTIES"
    " WORKING_DIRECTORY [==[${CORVANE_WORKING_DIRECTORY}]==]"
    " LABELS [==[${CORVANE_LABEL}]==] TIMEOUT ${CORVANE_TIMEOUT})\n")
  if(suite MATCHES "(^|/)DISABLED_")
    string(APPEND script "set_tests_properties([==[${name}]==] PROPERTIES DISABLED TRUE)\n")
  endif()
endforeach()
file(WRITE "${CORVANE_TESTS_FILE}" "${script}")
