# Cross-compiles the Windows programs on Debian with mingw-w64 (x86-64):
#   cmake -S . -B build-windows -G Ninja --toolchain cmake/mingw-w64.cmake
# The posix thread-model compilers: GoogleTest needs std::thread and std::mutex, which the win32
# thread model of Debian's mingw-w64 does not provide. The programs are linked statically, so they
# need no DLL but Windows' own (winpthread, libstdc++ and libgcc are inside the .exe).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VRK_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VRK_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VRK_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VRK_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VRK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# ctest runs the test programs under Wine, one Wine process per program. The wine64 loader
# itself rather than Debian's wrapper script, which asks for the 32-bit Wine on every start.
find_program(VRK_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(VRK_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${VRK_WINE})
endif()

# -O2 rather than CMake's -O3 for Release: GCC 12 at -O3 reports a false -Wrestrict inside
# std::string (GCC bug 105329), and warnings are errors in our builds.
set(CMAKE_CXX_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "Flags of Release builds")
