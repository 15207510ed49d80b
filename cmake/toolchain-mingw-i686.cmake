# Cross build for 32-bit x86 Windows with Debian's MinGW-w64 (g++-mingw-w64-i686).
#
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake
#
# The result is a standalone tsconv.exe: the GCC runtime, libstdc++ and the
# thread library are linked in statically, so that only DLLs which every
# Windows has (KERNEL32.dll, msvcrt.dll) are imported. Tests run under Wine.
#
# The compiler is the "posix" thread-model variant. With GCC 12 only this
# variant's libstdc++ has std::mutex, std::condition_variable and std::thread
# (the "win32" variant gains them with GCC 13); GoogleTest's headers need the
# first two, and the converter may use them too. The price is the winpthread
# library, which -static links into the executable like the rest.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(TSCONV_MINGW_PREFIX i686-w64-mingw32)
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

# Test programs run under Wine, quietly.
find_program(TSCONV_WINE wine)
if(TSCONV_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR env WINEDEBUG=-all ${TSCONV_WINE})
endif()
