#!/usr/bin/env bash
# Installs pakforge from a build folder into a private prefix and checks that
# the manual pages render; then builds the example firmware's CMake project
# (examples/consumer) with the arm-none-eabi cross compiler against that
# install, once with each of its toolchain files (a strict one, packages
# only from the target's sysroot, a plain one, and one for clang and LLD).
# The image must be byte
# for byte the one that the committed map and ELF files give; a second build
# does nothing; a changed source rebuilds the ELF and the image; a firmware
# without loop() fails the build with pakforge's message.
# Usage: consumer_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$work/prefix" >/dev/null
for page in pakforge aelfdump; do
  file="$work/prefix/share/man/man1/$page.1"
  [ -f "$file" ] || fail "no manual page $page(1)"
  warnings=$(MANWIDTH=80 man --warnings -l "$file" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$page(1) renders with warnings: $warnings"
  MANWIDTH=80 man -l "$file" 2>/dev/null | grep -q "EXIT STATUS" || fail "$page(1) does not render"
done

# The device side's header, and its interface target in the package.
[ -f "$work/prefix/include/pakforge/aelf.h" ] || fail "no include/pakforge/aelf.h installed"
grep -q "pakforge::aelf" "$work/prefix/lib/cmake/pakforge/pakforgeTargets.cmake" ||
  fail "the CMake package has no pakforge::aelf"

if ! command -v arm-none-eabi-gcc >/dev/null; then
  echo "no arm-none-eabi-gcc here (apt-get install gcc-arm-none-eabi): cross build skipped"
  exit 77
fi
mkdir -p "$work/src"
cp -r "$source/examples/consumer" "$source/examples/firmware" "$work/src/"
project="$work/src/consumer"

# The image that the committed link gives.
mkdir "$work/reference"
(cd "$work/reference" && "$work/prefix/bin/pakforge" -m "$source/examples/firmware/prebuilt/recipe/output.map" \
  -f "$source/examples/firmware/prebuilt/recipe/output.elf" -c "$project/config.bin" \
  -r "$project/resources.bin" -o firmware.alf >/dev/null 2>&1) || fail "pakforge on the committed link failed"

configure() {  # FOLDER TOOLCHAIN [CMAKE ARGUMENTS]
  local folder=$1 toolchain=$2
  shift 2
  cmake -S "$project" -B "$folder" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$project/$toolchain" \
    -DCMAKE_PREFIX_PATH="$work/prefix" "$@" >"$work/log" 2>&1 || { cat "$work/log"; fail "configuring with $toolchain failed"; }
}

for toolchain in arm-none-eabi.cmake arm-none-eabi-plain.cmake; do
  configure "$work/$toolchain" "$toolchain"
  cmake --build "$work/$toolchain" >"$work/log" 2>&1 || { cat "$work/log"; fail "the build with $toolchain failed"; }
  cmp -s "$work/$toolchain/blinky.alf" "$work/reference/firmware.alf" ||
    fail "the image built with $toolchain differs from the committed link's"
done

# The same project with clang and LLVM's LLD: the image the committed LLD
# link gives.
if command -v clang >/dev/null && command -v ld.lld >/dev/null; then
  (cd "$work/reference" && "$work/prefix/bin/pakforge" -m "$source/examples/firmware/prebuilt/lld/output.map" \
    -f "$source/examples/firmware/prebuilt/lld/output.elf" -c "$project/config.bin" \
    -r "$project/resources.bin" -o lld.alf >/dev/null 2>&1) || fail "pakforge on the committed LLD link failed"
  configure "$work/clang-lld" clang-lld.cmake
  cmake --build "$work/clang-lld" >"$work/log" 2>&1 || { cat "$work/log"; fail "the clang/LLD build failed"; }
  cmp -s "$work/clang-lld/blinky.alf" "$work/reference/lld.alf" ||
    fail "the image built with clang and LLD differs from the committed LLD link's"
else
  echo "no clang or ld.lld here: the clang/LLD build is skipped"
fi

# Nothing to do on a second build; a changed source makes the ELF and the
# image again.
strict="$work/arm-none-eabi.cmake"
cmake --build "$strict" -- -n | grep -q "no work to do" || fail "the second build was not empty"
printf '\nvoid blinkFaster(void) { blinkPeriod = 100; }\n' >>"$work/src/firmware/src/app.c"
cmake --build "$strict" >"$work/log" 2>&1 || { cat "$work/log"; fail "the rebuild failed"; }
grep -q "blinky.elf" "$work/log" || fail "the ELF was not linked again"
grep -q "Packaging AELF image" "$work/log" || fail "the image was not made again"
cmp -s "$strict/blinky.alf" "$work/reference/firmware.alf" && fail "the image did not change"

# A firmware without loop() fails the build with pakforge's message.
configure "$work/broken" arm-none-eabi.cmake -DBLINKY_WITHOUT_LOOP=ON
if cmake --build "$work/broken" >"$work/log" 2>&1; then
  fail "a firmware without loop() did not fail the build"
fi
grep -q "func loop not found" "$work/log" || { cat "$work/log"; fail "no message for the missing loop()"; }
[ ! -e "$work/broken/blinky.alf" ] || fail "an image was written for a firmware without loop()"
echo "cross-compiled consumer example: OK"
