# Cross build of the 32-bit Windows program with Debian's MinGW-w64 (posix thread model).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(COMPANYMAIN_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
