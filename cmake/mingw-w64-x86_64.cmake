# Cross build of the 64-bit Windows program with Debian's MinGW-w64 (posix thread model).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(COMPANYMAIN_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
