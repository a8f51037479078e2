# Cross build for 64-bit Windows: the same sources as the 32-bit release,
# built so that the wine tests can run them under wine64 on a host whose
# kernel runs no 32-bit x86 programs (cmake/wine.cmake). Linked statically,
# like camfix.exe.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(CAMFIX_MINGW x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
