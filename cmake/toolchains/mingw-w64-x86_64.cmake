# Cross build of tarvel.exe for 64-bit Windows with Debian's MinGW-w64 (the
# posix thread model, which std::thread needs), run and tested under Wine:
#   cmake -B build-windows --toolchain cmake/toolchains/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One file to copy: the GCC run-time, the C++ library and winpthread go into
# the executable instead of beside it as DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

find_program(TARVEL_WINE NAMES wine wine64)
if(TARVEL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TARVEL_WINE})
endif()

# pkg-config answers for the target's libraries only, never with the build
# machine's.
set(ENV{PKG_CONFIG_LIBDIR} /usr/x86_64-w64-mingw32/lib/pkgconfig)
