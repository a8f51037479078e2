# Cross build for 64-bit Windows with Debian's mingw-w64 x86_64 toolchain
# (posix thread model): the same sources as the 32-bit release, built so that
# the wine tests can run them under wine64 on a host whose kernel runs no
# 32-bit x86 programs (cmake/wine.cmake). Linked statically, like camfix.exe.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(CAMFIX_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${CAMFIX_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${CAMFIX_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${CAMFIX_MINGW}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${CAMFIX_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
