# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 (the posix thread
# model, which GoogleTest needs) and runs what it builds under wine.
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
# Quiet: wine's own messages would mix with the programs' output. Wine runs
# in a prefix of the build's own, made on first use, so that nothing depends
# on the user's ~/.wine or on whatever else runs wine on this machine; and it
# is not asked to fetch Mono or Gecko or to make menu entries.
# wine_run.sh runs the program once more when wine lost its server
# connection before the program started.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/env WINEDEBUG=-all WINEPREFIX=${CMAKE_BINARY_DIR}/wine
    WINEDLLOVERRIDES=mscoree,mshtml,winemenubuilder.exe= bash ${CMAKE_CURRENT_LIST_DIR}/wine_run.sh)
