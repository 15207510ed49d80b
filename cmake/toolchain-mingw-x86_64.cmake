# Cross build for 64-bit x86 Windows with Debian's MinGW-w64
# (g++-mingw-w64-x86-64-posix). Not shipped: it tests the Windows code (the C
# runtime's time breakdown, binary mode, the same-file check, messages, exit
# status) under 64-bit Wine, which runs on kernels without 32-bit support.
#
#   cmake -S . -B build-windows64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake

set(TSCONV_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(TSCONV_WINE_LOADER wine64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
