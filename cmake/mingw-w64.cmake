# What the two Windows cross builds share: Debian's mingw-w64 toolchain for
# CAMFIX_MINGW (set by the toolchain file that includes this), posix thread
# model, libraries and headers only from its own root.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${CAMFIX_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${CAMFIX_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${CAMFIX_MINGW}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${CAMFIX_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
