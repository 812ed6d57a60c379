# Cross build of the Windows program with MinGW-w64 (posix threads, for std::thread),
# statically linked so the .exe runs on a bare Windows or Wine. Tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(OSTREVAN_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${OSTREVAN_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${OSTREVAN_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${OSTREVAN_MINGW_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${OSTREVAN_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# C99 printf (%zu, %lld) instead of the old msvcrt one, so the core's formats mean the same
# on both platforms.
set(CMAKE_C_FLAGS_INIT "-D__USE_MINGW_ANSI_STDIO=1")
set(CMAKE_CXX_FLAGS_INIT "-D__USE_MINGW_ANSI_STDIO=1")

# No MinGW runtime DLLs to ship or to find under Wine.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

set(CMAKE_CROSSCOMPILING_EMULATOR wine CACHE STRING "Runs the cross-built tests")
