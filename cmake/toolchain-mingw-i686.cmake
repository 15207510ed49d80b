# Cross build for 32-bit x86 Windows, what ships, with Debian's MinGW-w64
# (g++-mingw-w64-i686-posix):
#
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake
#
# Its test programs run under 32-bit Wine, where the kernel runs 32-bit programs.

set(TSCONV_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(TSCONV_WINE_LOADER wine)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
