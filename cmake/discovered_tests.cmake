# Properties for the tests that gtest_discover_tests finds. They go into a
# file that CTest reads after the lists of discovered tests, since
# gtest_discover_tests passes no list values on (LABELS "a;b", ENVIRONMENT).
#   discovered_tests_properties(LIST "PROPERTY VALUE ..." [REGEX [EXCLUDE]])
# sets them on every test of the TEST_LIST named LIST (with REGEX: on those
# whose names match it, or with EXCLUDE on the others). The caller adds the file to
# TEST_INCLUDE_FILES after its last gtest_discover_tests.
set(properties ${CMAKE_CURRENT_BINARY_DIR}/discovered_test_properties.cmake)
file(WRITE ${properties} "")
function(discovered_tests_properties list text)
  file(APPEND ${properties} "set(tests \${${list}})\n")
  if(ARGC GREATER 3)
    file(APPEND ${properties} "list(FILTER tests ${ARGV3} REGEX \"${ARGV2}\")\n")
  elseif(ARGC GREATER 2)
    file(APPEND ${properties} "list(FILTER tests INCLUDE REGEX \"${ARGV2}\")\n")
  endif()
  file(APPEND ${properties} "if(tests)\n  set_tests_properties(\${tests} PROPERTIES ${text})\nendif()\n")
endfunction()
