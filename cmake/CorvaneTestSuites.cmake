# corvane_add_test_suites(<target> LABEL <label> [TIMEOUT <seconds>])
#
# Registers a GoogleTest program with CTest as one test per test suite, found when ctest runs
# (like gtest_discover_tests in PRE_TEST mode). A suite's cases share one process, so a
# sanitizer's start-up and exit checks are paid once per suite rather than once per case and a
# fixture shared across a suite (SetUpTestSuite) is set up once. Tests are named
# "<label>:<suite>"; run one case with the program's own --gtest_filter.
set(CORVANE_TEST_SUITES_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/corvane_test_suites_impl.cmake)

function(corvane_add_test_suites target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "LABEL;TIMEOUT" "")
  if(NOT arg_LABEL)
    set(arg_LABEL ${target})
  endif()
  if(NOT arg_TIMEOUT)
    set(arg_TIMEOUT 600)
  endif()
  set(base ${CMAKE_CURRENT_BINARY_DIR}/${target})
  set(include_file ${base}_suites_include.cmake)
  set(tests_file ${base}_suites.cmake)
  file(GENERATE OUTPUT ${include_file} CONTENT
"set(corvane_program [==[$<TARGET_FILE:${target}>]==])
set(corvane_tests_file [==[${tests_file}]==])
if(EXISTS \"\${corvane_program}\")
  if(NOT EXISTS \"\${corvane_tests_file}\" OR
     NOT \"\${corvane_tests_file}\" IS_NEWER_THAN \"\${corvane_program}\" OR
     NOT \"\${corvane_tests_file}\" IS_NEWER_THAN \"\${CMAKE_CURRENT_LIST_FILE}\" OR
     NOT \"\${corvane_tests_file}\" IS_NEWER_THAN [==[${CORVANE_TEST_SUITES_SCRIPT}]==])
    set(CORVANE_PROGRAM \"\${corvane_program}\")
    set(CORVANE_TESTS_FILE \"\${corvane_tests_file}\")
    set(CORVANE_WORKING_DIRECTORY [==[${CMAKE_CURRENT_BINARY_DIR}]==])
    set(CORVANE_LABEL [==[${arg_LABEL}]==])
    set(CORVANE_TIMEOUT [==[${arg_TIMEOUT}]==])
    include([==[${CORVANE_TEST_SUITES_SCRIPT}]==])
  endif()
  include(\"\${corvane_tests_file}\")
else()
  add_test(${target}_NOT_BUILT ${target}_NOT_BUILT)
endif()
")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${include_file})
endfunction()
