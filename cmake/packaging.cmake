# Installation and packages for Linux builds (the Windows cross build installs
# only camfix.exe). `cmake --install` puts camfix and its manual page camfix(1)
# under the prefix. In a build folder configured for packaging (`make package`
# uses build/package):
#   package      CPack: camfix_<version>_<arch>.deb for Debian and Ubuntu
#   windows_zip  camfix-<version>-win32.zip: CAMFIX_WINDOWS_EXE (the camfix.exe
#                of `make windows`) and README-windows.txt
# The version comes from project(); it shows in the package metadata, the
# manual page and README-windows.txt, never on the console.
if(WIN32)
  return()
endif()

configure_file(${PROJECT_SOURCE_DIR}/man/camfix.1.in ${PROJECT_BINARY_DIR}/camfix.1 @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/camfix.1 DESTINATION share/man/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME camfix)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Ivesmarch)
set(CPACK_PACKAGE_CONTACT "Ivesmarch <camfix@ivesmarch.example>")
set(CPACK_PACKAGE_HOMEPAGE_URL https://ivesmarch.example/camfix)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "repair a PCB design package's CAM output for the fab")
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

set(CAMFIX_WINDOWS_EXE ${PROJECT_SOURCE_DIR}/build/windows/camfix.exe
  CACHE FILEPATH "camfix.exe for the Windows archive (make windows builds it)")
set(zip_name camfix-${PROJECT_VERSION}-win32)
configure_file(${PROJECT_SOURCE_DIR}/packaging/README-windows.txt.in
  ${PROJECT_BINARY_DIR}/${zip_name}/README-windows.txt @ONLY NEWLINE_STYLE CRLF)
add_custom_target(windows_zip
  COMMAND ${CMAKE_COMMAND} -E copy ${CAMFIX_WINDOWS_EXE} ${zip_name}/camfix.exe
  COMMAND ${CMAKE_COMMAND} -E tar cf ${zip_name}.zip --format=zip
    ${zip_name}/camfix.exe ${zip_name}/README-windows.txt
  COMMAND ${CMAKE_COMMAND} -E echo "windows_zip: ${PROJECT_BINARY_DIR}/${zip_name}.zip generated."
  WORKING_DIRECTORY ${PROJECT_BINARY_DIR}
  VERBATIM)
