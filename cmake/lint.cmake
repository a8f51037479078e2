# lint: clang-tidy (the checks in .clang-tidy) on every source file of camfix,
# one CTest test per file, and cppcheck over the same files (the tests left
# out), with the compile commands of this tree; any finding fails. clang-tidy
# checks the *_win32.cpp files with the Windows tree's compile commands, as
# the MinGW build compiles them.
find_program(CAMFIX_CLANG_TIDY clang-tidy)
find_program(CAMFIX_CPPCHECK cppcheck)
include(${CMAKE_CURRENT_LIST_DIR}/missing_tool.cmake)
foreach(tool clang-tidy cppcheck)
  string(TOUPPER ${tool} variable)
  string(REPLACE "-" "_" variable CAMFIX_${variable})
  if(NOT ${variable})
    missing_tool_test(lint lint ${tool})
    return()
  endif()
endforeach()

set(linux_sources "")
foreach(target camfix_core camfix)
  get_target_property(dir ${target} SOURCE_DIR)
  get_target_property(sources ${target} SOURCES)
  list(FILTER sources INCLUDE REGEX "\\.cpp$")
  list(TRANSFORM sources PREPEND ${dir}/)
  list(APPEND linux_sources ${sources})
endforeach()
set(tidy ${CAMFIX_CLANG_TIDY} --quiet --warnings-as-errors=*)
foreach(file ${linux_sources})
  file(RELATIVE_PATH name ${PROJECT_SOURCE_DIR}/src ${file})
  add_test(NAME lint_clang_tidy:${name} COMMAND ${tidy} -p ${CMAKE_BINARY_DIR} ${file})
  set_tests_properties(lint_clang_tidy:${name} PROPERTIES LABELS lint)
endforeach()

# Not flagged by cppcheck: a raw loop that sums or upper-cases (clearer here
# than std::accumulate), and readdir (readdir_r is the deprecated one).
cmake_host_system_information(RESULT cores QUERY NUMBER_OF_LOGICAL_CORES)
add_test(NAME lint_cppcheck
  COMMAND ${CAMFIX_CPPCHECK} --project=${CMAKE_BINARY_DIR}/compile_commands.json
    -i${PROJECT_SOURCE_DIR}/tests/ --std=c++20 --library=posix
    --enable=warning,style,performance,portability --suppress=useStlAlgorithm
    --suppress=readdirCalled --inline-suppr --error-exitcode=1 --quiet -j ${cores})
set_tests_properties(lint_cppcheck PROPERTIES LABELS lint)

if(NOT CAMFIX_WINDOWS_BUILD_DIR)
  return()
endif()
# clang-tidy takes the MinGW target and, as it does not find them itself, the
# MinGW compiler's C++ header folders.
find_program(CAMFIX_MINGW_CXX i686-w64-mingw32-g++-posix)
execute_process(COMMAND ${CAMFIX_MINGW_CXX} -xc++ -E -v - INPUT_FILE /dev/null
  OUTPUT_QUIET ERROR_VARIABLE search)
string(REGEX MATCHALL "\n (/[^\n ]*/include/c\\+\\+[^\n ]*)" cxx_dirs "${search}")
list(TRANSFORM cxx_dirs REPLACE "^\n " "--extra-arg=-isystem")
file(GLOB_RECURSE windows_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/*_win32.cpp)
foreach(file ${windows_sources})
  file(RELATIVE_PATH name ${PROJECT_SOURCE_DIR}/src ${file})
  add_test(NAME lint_clang_tidy_windows:${name}
    COMMAND ${tidy} -p ${CAMFIX_WINDOWS_BUILD_DIR} --extra-arg=--target=i686-w64-mingw32 ${cxx_dirs} ${file})
  set_tests_properties(lint_clang_tidy_windows:${name} PROPERTIES LABELS lint)
endforeach()
