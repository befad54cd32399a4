# Cross-build for 64-bit Windows with Debian's mingw-w64. The -posix compilers use the
# POSIX thread model, which GoogleTest's headers need (std::mutex and friends); the
# default win32 model cannot compile them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VELO_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VELO_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELO_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VELO_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VELO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The programs carry their runtime with them, so they start on a Windows machine (or
# under Wine) without the compiler's DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# ctest runs the test programs under Wine, in a Wine prefix of the build's own rather
# than the user's ~/.wine. Debian's wine64 package installs its loader here; the wine
# package adds wineserver.
set(VELO_WINE_LOADER /usr/lib/wine/wine64 CACHE FILEPATH "Wine's 64-bit loader")
set(VELO_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH "Wine prefix for the tests")
set(CMAKE_CROSSCOMPILING_EMULATOR
    env "WINEPREFIX=${VELO_WINEPREFIX}" WINEDEBUG=-all "WINEDLLOVERRIDES=mscoree,mshtml="
    ${VELO_WINE_LOADER})
