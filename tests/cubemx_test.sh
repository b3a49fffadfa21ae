#!/usr/bin/env bash
# The example firmware in STM32CubeMX's CMake layout (examples/cubemx),
# built with its own preset and toolchain file against pakforge installed
# in a private prefix:
#   - the image's code is objcopy's bytes of the ELF file, its header
#     symbols nm's;
#   - a second build does nothing;
#   - an edited linker script links the firmware again and makes the image
#     again;
#   - the link writes one map file, the toolchain file's, which pakforge
#     reads.
# Its linker script is pakforge's template, unmodified, here with a .data
# that is only 4-aligned.
# Usage: cubemx_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
if ! command -v arm-none-eabi-gcc >/dev/null; then
  echo "no arm-none-eabi-gcc here (apt-get install gcc-arm-none-eabi): skipped"
  exit 77
fi

# The project's script is pakforge's template as it stands.
cmp -s "$source/examples/cubemx/STM32F407XX_FLASH.ld" "$source/examples/template/link.ld" ||
  fail "examples/cubemx/STM32F407XX_FLASH.ld is not examples/template/link.ld"
cmake --install "$build" --prefix "$work/prefix" >/dev/null
mkdir "$work/src"
cp -r "$source/examples/cubemx" "$source/examples/firmware" "$work/src/"
project=$work/src/cubemx
out=$project/build/Debug
(cd "$project" && cmake --preset Debug -DCMAKE_PREFIX_PATH="$work/prefix" >"$work/log" 2>&1) ||
  { cat "$work/log"; fail "configuring with the Debug preset failed"; }
(cd "$project" && cmake --build --preset Debug >"$work/log" 2>&1) ||
  { cat "$work/log"; fail "the build failed"; }
image=$out/cubemx_f407.alf
elf=$out/cubemx_f407.elf
[ -s "$image" ] || fail "no image written"

arm-none-eabi-objcopy -O binary "$elf" "$work/flash.bin"
tail -c +77 "$image" | head -c "$(stat -c %s "$work/flash.bin")" | cmp -s - "$work/flash.bin" ||
  fail "the image's code is not objcopy's bytes"
word() { od -An -tu4 -j "$2" -N 4 "$1" | tr -d ' '; }
offset=4
for name in __entryPoint__ loop ModbusHGroups_Table ModbusIGroups_Table ModbusRemoteRegTables; do
  nm=$(arm-none-eabi-nm "$elf" | awk -v n="$name" '$3 == n { print $1 }')
  [ $((0x$nm & ~1)) -eq $(($(word "$image" "$offset") & ~1)) ] ||
    fail "$name is $(word "$image" "$offset") in the header but 0x$nm by nm"
  offset=$((offset + 4))
done

maps=$(find "$project/build" -name '*.map' | wc -l)
[ "$maps" -eq 1 ] || fail "the link wrote $maps map files: $(find "$project/build" -name '*.map')"
[ -f "$out/cubemx_f407.map" ] || fail "the toolchain file's map is not where pakforge read it"

(cd "$project" && cmake --build --preset Debug -- -n) | grep -q "no work to do" ||
  fail "the second build was not empty"
# The script two seconds newer than the link it made: newer on any file
# system's time resolution, without waiting for the clock.
touch -d "@$(($(stat -c %Y "$out/cubemx_f407.elf") + 2))" "$project/STM32F407XX_FLASH.ld"
(cd "$project" && cmake --build --preset Debug >"$work/log" 2>&1) ||
  { cat "$work/log"; fail "the build after the script changed failed"; }
grep -q "Linking C executable cubemx_f407.elf" "$work/log" || fail "the firmware was not linked again"
grep -q "Packaging AELF image" "$work/log" || fail "the image was not made again"
echo "CubeMX-layout example: OK"
