# Properties for the tests that gtest_discover_tests finds. They go into a
# file that CTest reads after the lists of discovered tests, since
# gtest_discover_tests passes no list values on (LABELS "a;b", ENVIRONMENT).
#   discovered_tests_properties(LIST "PROPERTY VALUE ...")
# sets them on every test of the TEST_LIST named LIST. The caller adds the
# file to TEST_INCLUDE_FILES after its last gtest_discover_tests.
set(properties ${CMAKE_CURRENT_BINARY_DIR}/discovered_test_properties.cmake)
file(WRITE ${properties} "")
function(discovered_tests_properties list text)
  file(APPEND ${properties} "if(${list})\n  set_tests_properties(\${${list}} PROPERTIES ${text})\nendif()\n")
endfunction()
