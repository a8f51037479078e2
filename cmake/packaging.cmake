# Installation and packages. CPack makes, from a Linux tree, the Debian
# package camfix_<version>_<arch>.deb (camfix, its manual page, copyright and
# changelog) and, from the Windows tree, camfix-<version>-win32.zip (camfix.exe
# and README-windows.txt with CR LF line ends) and the installer
# camfix-<version>-setup.exe (NSIS, from packaging/NSIS.template.in, with
# Debian's makensis; docs/design.md says why). `make package` runs both
# (package presets release and windows); the package tests of the release tree
# do the same and check the results. The version comes from project(); it
# shows in the package metadata, the manual page and README-windows.txt, and
# on the console only for `camfix --version`.
set(CPACK_PACKAGE_NAME camfix)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Ivesmarch)
set(CPACK_PACKAGE_CONTACT "Ivesmarch <camfix@ivesmarch.example>")
set(CPACK_PACKAGE_HOMEPAGE_URL https://ivesmarch.example/camfix)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "repair a PCB design package's CAM output for the fab")

if(WIN32)
  install(TARGETS camfix RUNTIME DESTINATION .)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/README-windows.txt.in
    ${PROJECT_BINARY_DIR}/README-windows.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${PROJECT_BINARY_DIR}/README-windows.txt DESTINATION .)
  set(CPACK_GENERATOR ZIP NSIS)
  # The names follow the version given to cpack (-R), as the installer tests'
  # newer installer does: camfix-<version>-win32.zip, camfix-<version>-setup.exe.
  file(WRITE ${PROJECT_BINARY_DIR}/CPackNames.cmake [[
set(CPACK_PACKAGE_FILE_NAME camfix-${CPACK_PACKAGE_VERSION}-win32)
if(CPACK_GENERATOR STREQUAL NSIS)
  set(CPACK_PACKAGE_FILE_NAME camfix-${CPACK_PACKAGE_VERSION}-setup)
endif()
]])
  set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/CPackNames.cmake)
  list(APPEND CMAKE_MODULE_PATH ${PROJECT_SOURCE_DIR}/packaging)  # NSIS.template.in
  set(CPACK_NSIS_COMPRESSOR "/SOLID lzma")
  set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/src/program/camfix.ico)
  include(CPack)
  return()
endif()

install(TARGETS camfix RUNTIME DESTINATION bin)

# Debian wants the manual page and the changelog compressed with gzip -9n (no
# name, no time stamp: the same bytes on every build).
configure_file(${PROJECT_SOURCE_DIR}/man/camfix.1.in ${PROJECT_BINARY_DIR}/camfix.1 @ONLY)
add_custom_command(OUTPUT camfix.1.gz changelog.gz
  COMMAND gzip -9nkf camfix.1
  COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/CHANGELOG.md changelog
  COMMAND gzip -9nf changelog
  DEPENDS ${PROJECT_BINARY_DIR}/camfix.1 ${PROJECT_SOURCE_DIR}/CHANGELOG.md
  WORKING_DIRECTORY ${PROJECT_BINARY_DIR}
  VERBATIM)
add_custom_target(compressed_docs ALL DEPENDS camfix.1.gz changelog.gz)
install(FILES ${PROJECT_BINARY_DIR}/camfix.1.gz DESTINATION share/man/man1)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${PROJECT_BINARY_DIR}/changelog.gz
  DESTINATION share/doc/camfix)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_DESCRIPTION
  "camfix repairs the CAM output in the working folder so that fabrication
software reads it right: Gerber files get FSL instead of FSD format
statements, Excellon drill files get an INCH,LZ header with the tool
definitions from the drill report, every rewritten file gets CR LF line
ends, and gerber.bat is launched. A file is replaced only once its new
content is completely written.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Ivesmarch <camfix@ivesmarch.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)

# The package tests (release tree): CPack makes the .deb here and the zip and
# the installer in the Windows tree; the check runs lintian, installs the .deb
# into a scratch root and looks into the zip. The installer's own test, under
# wine, is in cmake/wine.cmake.
if(CAMFIX_TESTS AND NOT CMAKE_CROSSCOMPILING AND NOT CAMFIX_SANITIZE AND CAMFIX_WINDOWS_BUILD_DIR)
  include(${CMAKE_CURRENT_LIST_DIR}/missing_tool.cmake)
  foreach(tool dpkg-deb dpkg-shlibdeps lintian makensis)
    find_program(CAMFIX_PACKAGE_TOOL_${tool} ${tool})
    if(NOT CAMFIX_PACKAGE_TOOL_${tool})
      missing_tool_test(package package ${tool})
      return()
    endif()
  endforeach()
  set(packages ${CMAKE_BINARY_DIR}/packages)
  add_test(NAME package_deb
    COMMAND ${CMAKE_CPACK_COMMAND} --config ${CMAKE_BINARY_DIR}/CPackConfig.cmake -B ${packages})
  add_test(NAME package_windows
    COMMAND ${CMAKE_CPACK_COMMAND} --config ${CAMFIX_WINDOWS_BUILD_DIR}/CPackConfig.cmake -B ${packages})
  add_test(NAME package_check
    COMMAND ${PROJECT_SOURCE_DIR}/tests/package/install_check.sh ${packages} ${PROJECT_VERSION})
  set_tests_properties(package_deb package_windows PROPERTIES FIXTURES_SETUP packages RESOURCE_LOCK packages)
  set_tests_properties(package_check PROPERTIES FIXTURES_REQUIRED packages)
  set_tests_properties(package_deb package_windows package_check PROPERTIES LABELS package)
endif()
