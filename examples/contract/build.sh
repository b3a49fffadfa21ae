#!/usr/bin/env bash
# Links the firmware of src/ with each script of broken/ (a link as a wrong
# edit left it) with Debian's gcc-arm-none-eabi, into
# prebuilt/NAME/output.{map,elf}: the links the diagnosis's tests take for
# the firmware's own findings (a vector table past the code start, .data in
# the flash, a stack top past the device's RAM). The scripts beside this
# one are fixed and booted by tests/contract_boot_test.sh, which builds
# them itself.
# Usage: build.sh [OUT]   (default: prebuilt/ beside this script)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$(mkdir -p "${1:-$here/prebuilt}" && cd "${1:-$here/prebuilt}" && pwd)
cc=${CC:-arm-none-eabi-gcc}
cflags=(-mcpu=cortex-m4 -mthumb -Os -ffreestanding -nostdlib -ffunction-sections -fdata-sections
  -fno-unwind-tables -fno-asynchronous-unwind-tables -Wall -Wextra -Werror)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for file in "$here/src/startup.c" "$here/../firmware/src/modbus.c"; do
  "$cc" "${cflags[@]}" -I"$here/../firmware/src" -c "$file" -o "$work/$(basename "$file" .c).o"
done
for script in "$here"/broken/*.ld; do
  name=$(basename "$script" .ld)
  mkdir -p "$out/$name"
  (cd "$work" && "$cc" "${cflags[@]}" -T "$script" -Wl,-n -Wl,-Map=output.map -o output.elf \
    startup.o modbus.o)
  # Paths in the map relative to this folder, whoever builds it.
  sed "s|$work/||g; s|$here/||g" "$work/output.map" >"$out/$name/output.map"
  cp "$work/output.elf" "$out/$name/output.elf"
done
