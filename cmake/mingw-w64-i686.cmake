# Cross build for 32-bit Windows (DWARF-2 exceptions). CMakeLists links
# statically, so camfix.exe needs only the system DLLs.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CAMFIX_MINGW i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
