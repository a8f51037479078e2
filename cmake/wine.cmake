# wine (included by tests/CMakeLists.txt): the e2e program again, each case
# told by CAMFIX_UNDER_TEST to start camfix.exe under wine64 in a scratch
# 64-bit prefix of this tree, and the installer test. The test names say
# which camfix.exe runs:
#   wine32.<case>           the shipped 32-bit build/windows/camfix.exe. wine64
#                           hands it to wine's 32-bit loader, which runs where
#                           the kernel runs IA-32 code or, where it does not,
#                           under qemu-i386-static (scripts/install-prereqs.sh
#                           registers it as root); wine's own helpers run natively.
#   wine64_stand_in.<case>  the fallback where neither can be had (no root, no
#                           binfmt_misc): the same sources built by the windows64
#                           preset. The tests wine32:shipped_camfix.exe and
#                           installer then skip, saying that the shipped program
#                           was not run.
#   wine.<case>             wine is not installed: every case skips, saying so.
# CAMFIX_WINE_PRESET names the preset to build (`make test` reads it). The e2e
# program starts `wine`: this tree's, first in PATH, which starts wine64.
# Huge.* cases carry the label huge as well (`ctest -LE huge` leaves them out).
find_program(CAMFIX_WINE32 wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(CAMFIX_WINE64 wine64 PATHS /usr/lib/wine)
execute_process(COMMAND ${CAMFIX_WINE32} --version RESULT_VARIABLE wine32_status
  OUTPUT_QUIET ERROR_QUIET)
set(exe ${CAMFIX_WINDOWS_BUILD_DIR}/camfix.exe)
set(preset windows)
if(NOT CAMFIX_WINE64)
  set(prefix wine.)
  set(preset "")
  set(skip "wine is not installed (scripts/install-prereqs.sh installs it)")
  message(NOTICE "The wine and installer tests skip: ${skip}")
elseif(wine32_status EQUAL 0)
  set(prefix wine32.)
  message(STATUS "The wine tests run the shipped 32-bit ${exe}")
else()
  set(prefix wine64_stand_in.)
  set(exe ${CAMFIX_WINDOWS64_BUILD_DIR}/camfix.exe)
  set(preset windows64)
  set(skip "wine's 32-bit loader does not run on this host (no IA-32 emulation in the kernel, \
no qemu-i386 entry in binfmt_misc: run scripts/install-prereqs.sh as root)")
  message(NOTICE "The wine tests run the 64-bit stand-in ${exe}, NOT the shipped 32-bit "
    "camfix.exe, and the installer test skips: ${skip}")
endif()
set(CAMFIX_WINE_PRESET "${preset}" CACHE INTERNAL "The preset whose camfix.exe the wine tests run")

set(bin ${CMAKE_BINARY_DIR}/wine-bin)
file(WRITE ${bin}/wine "#!/bin/sh\nexec ${CAMFIX_WINE64} \"$@\"\n")
file(CHMOD ${bin}/wine PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
  GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# No display; no Mono, Gecko, menu entries or debugger (a crash ends the
# program instead of waiting for an answer).
set(env "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix" WINEARCH=win64 WINEDEBUG=-all DISPLAY=
  "WINEDLLOVERRIDES=mscoree,mshtml,winemenubuilder.exe,winedbg.exe=")
set(path PATH=path_list_prepend:${bin})

gtest_discover_tests(camfix_e2e_tests DISCOVERY_TIMEOUT 30 NO_PRETTY_VALUES
  TEST_PREFIX ${prefix} TEST_LIST wine_tests)
if(prefix STREQUAL wine.)
  discovered_tests_properties(wine_tests "LABELS wine ENVIRONMENT \"CAMFIX_SKIP_REASON=${skip}\"
    SKIP_REGULAR_EXPRESSION \"wine is not installed\"")
else()
  discovered_tests_properties(wine_tests "LABELS wine FIXTURES_REQUIRED wine
    ENVIRONMENT \"${env};CAMFIX_UNDER_TEST=${exe}\" ENVIRONMENT_MODIFICATION ${path}")
endif()
discovered_tests_properties(wine_tests "LABELS \"wine;huge\" RESOURCE_LOCK huge" "^${prefix}Huge\\\\.")

# The installer (cmake/packaging.cmake) and the program it installs, both
# 32-bit, under wine, with a newer installer (the next patch version) for
# the upgrade. Where they cannot run, it skips, saying why.
math(EXPR patch "${PROJECT_VERSION_PATCH} + 1")
if(skip)
  set(not_run sh -c "echo \"not run: $0\" && exit 77" "${skip}")
  add_test(NAME installer COMMAND ${not_run})
  set_tests_properties(installer PROPERTIES SKIP_RETURN_CODE 77)
  if(preset STREQUAL windows64)
    add_test(NAME wine32:shipped_camfix.exe COMMAND ${not_run})
    set_tests_properties(wine32:shipped_camfix.exe PROPERTIES LABELS wine SKIP_RETURN_CODE 77)
  endif()
else()
  add_test(NAME installer COMMAND ${PROJECT_SOURCE_DIR}/tests/package/installer_check.sh
    ${CMAKE_BINARY_DIR}/packages ${PROJECT_VERSION}
    ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${patch} ${CAMFIX_WINDOWS_BUILD_DIR}
    $<TARGET_FILE:camfix> ${PROJECT_SOURCE_DIR}/examples/board)
  set_tests_properties(installer PROPERTIES FIXTURES_REQUIRED packages
    ENVIRONMENT "${env}" ENVIRONMENT_MODIFICATION ${path})
endif()
set_tests_properties(installer PROPERTIES LABELS installer)
if(prefix STREQUAL wine.)
  return()
endif()

# The fixture: its setup makes the prefix on first use, keeps one wineserver
# up while the wine tests run and says which camfix.exe they run; its cleanup
# stops the server, unless it has ended by itself (a minute unused: wineserver
# -k then finds none and fails).
add_test(NAME wine_prefix COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-prefix.sh ${exe})
add_test(NAME wine_server_stop COMMAND sh -c "wineserver -k 2> /dev/null || true")
set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine)
set_tests_properties(wine_server_stop PROPERTIES FIXTURES_CLEANUP wine)
set_tests_properties(wine_prefix wine_server_stop PROPERTIES LABELS wine
  ENVIRONMENT "${env}" ENVIRONMENT_MODIFICATION ${path})
