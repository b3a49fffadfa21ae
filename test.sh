#!/usr/bin/env bash
# Builds pakforge three times and runs every test in each build:
#  1. GCC, warnings as errors: unit and end-to-end tests, clang-tidy,
#     installation, the CMake package and the Debian package;
#  2. Clang with AddressSanitizer and UndefinedBehaviorSanitizer (halting on
#     the first error): the same tests, plus each fuzz target for
#     PAKFORGE_FUZZ_SECONDS (10 by default) from its seed corpus;
#  3. Windows x86-64, cross-compiled with MinGW-w64: the unit and end-to-end
#     tests under wine, and the .zip package;
#  4. the release packages (release.sh), Linux on arm64 cross-compiled with
#     g++-aarch64-linux-gnu: each writes the native build's image bytes,
#     the arm64 one under qemu-aarch64, and the checksums match.
set -euo pipefail
cd "$(dirname "$0")"
if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null || ! command -v wine >/dev/null; then
  echo "test.sh: no Windows build here: it needs g++-mingw-w64-x86-64-posix and wine" >&2
  exit 1
fi
if ! command -v aarch64-linux-gnu-g++ >/dev/null || ! command -v qemu-aarch64 >/dev/null; then
  echo "test.sh: no arm64 build here: it needs g++-aarch64-linux-gnu and qemu-user" >&2
  exit 1
fi
# Wine in a prefix of this build's own (the windows preset and the toolchain
# file name the same one), made on first use: never the user's ~/.wine, and
# no server of another prefix gets in the way.
mkdir -p build/windows
export WINEPREFIX="$PWD/build/windows/wine" WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
if ! wine cmd /c exit >build/windows/wine-start.log 2>&1; then
  echo "test.sh: wine can't start in $WINEPREFIX: $(grep -v '^$' build/windows/wine-start.log | tail -n 1)" >&2
  exit 1
fi
# Keep its server up between the tests, so that none waits for it to
# start; one left running from an interrupted run is used as it is.
wineserver -p 2>/dev/null || true
trap 'wineserver -k 2>/dev/null || true' EXIT
# Each step runs whatever the steps before it did, so that one failure
# doesn't hide the others; the summary says which passed, and the status is
# that of the first step that failed.
summary=()
status=0
step() {
  local name=$1 rc=0
  shift
  "$@" || rc=$?
  if [ "$rc" -eq 0 ]; then
    summary+=("  passed  $name")
  else
    summary+=("  FAILED  $name (status $rc)")
    [ "$status" -ne 0 ] || status=$rc
  fi
}
# The release packages, the arm64 one cross-compiled: each packages the
# example into the native image's bytes (arm64 under qemu-aarch64).
# shellcheck disable=SC2317 # run through step
release() { ./release.sh && bash tests/release_test.sh .; }
step "tests (GCC)" cmake --workflow --preset test
step "sanitizers and fuzzing (Clang)" cmake --workflow --preset sanitize
step "Windows (MinGW-w64, wine)" cmake --workflow --preset windows
step "release packages" release
echo
echo "test.sh:"
printf '%s\n' "${summary[@]}"
exit "$status"
