#!/usr/bin/env bash
# Makes the Windows .zip from a MinGW-w64 build folder and checks that it
# holds the two programs, statically linked (no DLL beside them, none but
# the system's imported), the README and the CMake package, and that the
# unpacked programs run. Usage: windows_package_test.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$work" && cpack --config "$build/CPackConfig.cmake" -G ZIP >/dev/null)
zip=$(ls "$work"/pakforge-*.zip)
(cd "$work" && cmake -E tar xf "$zip")
root=$(ls -d "$work"/pakforge-*/)
for file in bin/pakforge.exe bin/aelfdump.exe share/doc/pakforge/README.md share/pakforge/link.ld \
  lib/cmake/pakforge/pakforgeConfig.cmake lib/cmake/pakforge/pakforgeConfigVersion.cmake \
  lib/cmake/pakforge/pakforgeTargets.cmake lib/cmake/pakforge/pakforgeRun.cmake; do
  [ -f "$root/$file" ] || fail "$file is not in the package"
done
[ -z "$(find "$root" -iname '*.dll')" ] || fail "the package holds DLLs"
for program in pakforge aelfdump; do
  imports=$(x86_64-w64-mingw32-objdump -p "$root/bin/$program.exe" | awk '/DLL Name/ { print $3 }')
  if grep -qiE 'libstdc|libgcc|libwinpthread' <<<"$imports"; then
    fail "$program.exe needs the MinGW runtime: $imports"
  fi
  ! x86_64-w64-mingw32-objdump -h "$root/bin/$program.exe" | grep -q "\.debug_" ||
    fail "$program.exe is not stripped"
done
status=0
WINEDEBUG=-all wine "$root/bin/aelfdump.exe" >/dev/null 2>&1 || status=$?
[ "$status" -eq 2 ] || fail "the unpacked aelfdump.exe gave status $status, not its usage status 2"
[ "$(WINEDEBUG=-all wine "$root/bin/aelfdump.exe" --version 2>/dev/null | tr -d '\r')" = "aelfdump v1.0.2" ] ||
  fail "the unpacked aelfdump.exe does not say its version"
echo "Windows package: OK"
