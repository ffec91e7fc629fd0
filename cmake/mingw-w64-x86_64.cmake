# Cross-build for 64-bit Windows with MinGW-w64 on Debian, tests run by Wine.
#
# The -posix compilers: the -win32 ones of GCC 12 have no std::thread or
# std::mutex. Everything is linked statically, so the programs need no
# MinGW runtime DLLs next to them under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER ${triple}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# CTest (and test discovery) start the test programs through Wine. The
# prefix, the Wine server and the simulator are set up by
# scripts/run-windows-tests.sh.
# Without Wine the build still works; only the tests cannot run.
find_program(KRX_WINE NAMES wine wine64)
if(KRX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KRX_WINE})
endif()
# The test programs are listed when CTest starts, not while building: the
# build then needs no Wine prefix.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)

# Wine shows the Linux file system as drive Z:, so a test program reaches a
# file of the source tree by its Linux path after this prefix.
set(KRX_TARGET_PATH_PREFIX "Z:")
