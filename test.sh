#!/usr/bin/env bash
# Builds pakforge three times and runs every test in each build:
#  1. GCC, warnings as errors: unit and end-to-end tests, clang-tidy,
#     installation, the CMake package and the Debian package;
#  2. Clang with AddressSanitizer and UndefinedBehaviorSanitizer (halting on
#     the first error): the same tests, plus each fuzz target for
#     PAKFORGE_FUZZ_SECONDS (30 by default) from its seed corpus;
#  3. Windows x86-64, cross-compiled with MinGW-w64: the unit and end-to-end
#     tests under wine, and the .zip package.
set -euo pipefail
cd "$(dirname "$0")"
cmake --workflow --preset test
cmake --workflow --preset sanitize

if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null || ! command -v wine >/dev/null; then
  echo "test.sh: no Windows build here: it needs g++-mingw-w64-x86-64-posix and wine" >&2
  exit 1
fi
export WINEDEBUG=-all
# A warm wine server, so that the first test does not wait for it to start.
wineserver -p
trap 'wineserver -k 2>/dev/null || true' EXIT
wine cmd /c exit
cmake --workflow --preset windows
