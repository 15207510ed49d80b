# The part shared by the MinGW-w64 cross builds for Windows; included by
# toolchain-mingw-i686.cmake (32-bit x86, what ships) and
# toolchain-mingw-x86_64.cmake (64-bit, for testing where no 32-bit program
# runs). Each sets TSCONV_MINGW_PREFIX, CMAKE_SYSTEM_PROCESSOR and
# TSCONV_WINE_LOADER first.
#
# The result is a standalone tsconv.exe: the GCC runtime, libstdc++ and the
# thread library are linked in statically, so that only DLLs which every
# Windows has (KERNEL32.dll, msvcrt.dll) are imported. Tests run under Wine.
#
# The compiler is the "posix" thread-model variant. With GCC 12 only this
# variant's libstdc++ has std::mutex and std::condition_variable (the "win32"
# variant gains them with GCC 13), which GoogleTest's headers need. The price
# is the winpthread library, which -static links into the executable like the
# rest.

set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${TSCONV_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TSCONV_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TSCONV_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TSCONV_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything from the toolchain's own libraries statically.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs run under Wine, quietly. Debian keeps the 64-bit loader in
# /usr/lib/wine: the `wine` wrapper on the path would try the 32-bit one first.
find_program(TSCONV_WINE NAMES ${TSCONV_WINE_LOADER} PATHS /usr/lib/wine)
if(TSCONV_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR env WINEDEBUG=-all ${TSCONV_WINE})
endif()
