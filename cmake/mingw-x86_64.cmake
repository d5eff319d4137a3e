# 64-bit Windows. Its programs start through Wine's 64-bit loader directly: the launcher starts
# the 32-bit loader first, which fails on hosts that cannot execute 32-bit x86 code.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_TRIPLE x86_64-w64-mingw32)
set(WINE_LOADER /usr/lib/wine/wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
