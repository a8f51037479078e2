# Cross build for 32-bit Windows with Debian's mingw-w64 i686 toolchain
# (posix thread model, DWARF-2 exceptions). CMakeLists links statically, so
# camfix.exe needs only the system DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CAMFIX_MINGW i686-w64-mingw32)
set(CMAKE_C_COMPILER ${CAMFIX_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${CAMFIX_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${CAMFIX_MINGW}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${CAMFIX_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
