# wine (included by tests/CMakeLists.txt): the e2e program again, each case
# as wine.<case>, told by CAMFIX_UNDER_TEST to start camfix.exe under wine in
# a scratch prefix of this tree. Which camfix.exe: the 32-bit one of the
# windows preset where wine's 32-bit loader runs; where it cannot (a kernel
# without IA-32 emulation) the same sources built by the windows64 preset,
# under wine64 in a 64-bit prefix. CAMFIX_WINE_PRESET names the preset to
# build (`make test` reads it). The e2e program starts `wine`; the one of this
# tree, first in PATH, starts the chosen loader (Debian's /usr/bin/wine starts
# the 32-bit one whenever it is installed, whether it can run or not).
find_program(CAMFIX_WINE32 wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(CAMFIX_WINE64 wine64 PATHS /usr/lib/wine)
execute_process(COMMAND ${CAMFIX_WINE32} --version RESULT_VARIABLE wine32_status
  OUTPUT_QUIET ERROR_QUIET)
if(wine32_status EQUAL 0)
  set(bits 32)
  set(loader ${CAMFIX_WINE32})
  set(CAMFIX_WINE_PRESET windows CACHE INTERNAL "The preset whose camfix.exe the wine tests run")
  set(exe ${CAMFIX_WINDOWS_BUILD_DIR}/camfix.exe)
  message(STATUS "The wine tests run the 32-bit ${exe}")
else()
  set(bits 64)
  set(loader ${CAMFIX_WINE64})
  set(CAMFIX_WINE_PRESET windows64 CACHE INTERNAL "The preset whose camfix.exe the wine tests run")
  set(exe ${CAMFIX_WINDOWS64_BUILD_DIR}/camfix.exe)
  message(NOTICE "This host cannot run 32-bit x86 programs: the wine tests run the 64-bit build "
    "${exe} under wine64 (the 32-bit camfix.exe is built and packaged, not run)")
endif()

set(bin ${CMAKE_BINARY_DIR}/wine-bin)
file(WRITE ${bin}/wine "#!/bin/sh\nexec ${loader} \"$@\"\n")
file(CHMOD ${bin}/wine PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
  GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(env "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix${bits}" WINEARCH=win${bits} WINEDEBUG=-all
  DISPLAY= "WINEDLLOVERRIDES=mscoree,mshtml=")
set(path PATH=path_list_prepend:${bin})

gtest_discover_tests(camfix_e2e_tests DISCOVERY_TIMEOUT 30 NO_PRETTY_VALUES
  TEST_PREFIX wine. TEST_LIST wine_tests)
discovered_tests_properties(wine_tests "LABELS wine FIXTURES_REQUIRED wine
  ENVIRONMENT \"${env};CAMFIX_UNDER_TEST=${exe}\" ENVIRONMENT_MODIFICATION ${path}")

# The fixture: its setup makes the prefix on first use and keeps one
# wineserver up while the wine tests run; its cleanup stops it.
add_test(NAME wine_prefix COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-prefix.sh)
add_test(NAME wine_server_stop COMMAND wineserver -k)
set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine)
set_tests_properties(wine_server_stop PROPERTIES FIXTURES_CLEANUP wine)
set_tests_properties(wine_prefix wine_server_stop PROPERTIES LABELS wine
  ENVIRONMENT "${env}" ENVIRONMENT_MODIFICATION ${path})
