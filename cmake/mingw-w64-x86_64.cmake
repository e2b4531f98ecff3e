# Cross-build for 64-bit Windows with Debian's mingw-w64 (g++-mingw-w64-x86-64).
#
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DORB_HOST_TUNE=build/tools/tune
#
# The POSIX thread model of the compiler gives the standard library its threads
# (the audio worker uses std::thread); everything, the thread library among it,
# is linked statically, so the programs need no DLLs beyond the system's.
# Tests run under wine64 where it is installed.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ORB_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ORB_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORB_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ORB_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ORB_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

find_program(ORB_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(ORB_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ORB_WINE})
endif()
