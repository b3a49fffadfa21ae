#!/usr/bin/env bash
# Builds the C++ firmware of src/ (with the example firmware's Modbus
# tables) the way an STM32CubeMX project builds, with Debian's
# gcc-arm-none-eabi, libnewlib-arm-none-eabi and
# libstdc++-arm-none-eabi-newlib, and links it with link.ld as it stands:
#
#   gnu   GNU ld
#   lld   LLVM's LLD (the GCC driver finds it as `ld` through -B), with
#         --target2=rel for the exception tables
#
# For each link it writes OUT/LINKER/: the map and the ELF file, and what
# binutils say of them: the flash content as `objcopy -O binary` gives it
# (output.bin), the five header symbols, the bounds of the RAM data and the
# two variables the boot test reads as `nm` lists them (symbols.txt), and
# the sections with their sizes as
# `size -A` lists them (sizes.txt).
#
# -Wl,-S leaves the libraries' debugging sections out of the committed files.
#
# Usage: build.sh [OUT]   (default: prebuilt/ beside this script)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$(mkdir -p "${1:-$here/prebuilt}" && cd "${1:-$here/prebuilt}" && pwd)
cc=${CC:-arm-none-eabi-gcc}
cxx=${CXX:-arm-none-eabi-g++}
objcopy=${OBJCOPY:-arm-none-eabi-objcopy}
nm=${NM:-arm-none-eabi-nm}
size=${SIZE:-arm-none-eabi-size}
# An STM32F407 as CubeMX sets it up: Cortex-M4 with its single-precision
# FPU, unused sections collected; but the full newlib and libstdc++, not
# newlib-nano's (--specs=nano.specs), whose C++ support library has no
# unwind tables for __cxa_throw: there a throw ends in std::terminate.
mcu=(-mcpu=cortex-m4 -mfpu=fpv4-sp-d16 -mfloat-abi=hard -mthumb)
cflags=("${mcu[@]}" -Os -g0 -ffunction-sections -fdata-sections -Wall -Wextra -Werror)
ldflags=("${mcu[@]}" --specs=nosys.specs -Wl,--gc-sections
  -Wl,-n -Wl,-S -T "$here/link.ld" -Wl,-Map=output.map)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$cc" "${cflags[@]}" -c "$here/src/startup.c" -o startup.o
"$cc" "${cflags[@]}" -c "$here/src/sysmem.c" -o sysmem.o
"$cc" "${cflags[@]}" -I"$here/../firmware/src" -c "$here/../firmware/src/modbus.c" -o modbus.o
"$cxx" "${cflags[@]}" -std=c++17 -c "$here/src/app.cpp" -o app.o
objects=(startup.o sysmem.o modbus.o app.o)

link() {  # LINKER [FLAGS]
  local linker=$1
  shift
  mkdir -p "$linker" "$out/$linker"
  (cd "$linker" && "$cxx" "${ldflags[@]}" "$@" -o output.elf "${objects[@]/#/../}")
  cp "$linker/output.elf" "$linker/output.map" "$out/$linker/"
  "$objcopy" -O binary "$linker/output.elf" "$out/$linker/output.bin"
  "$nm" -g "$linker/output.elf" |
    grep -E " (__entryPoint__|loop|ModbusHGroups_Table|ModbusIGroups_Table|ModbusRemoteRegTables)\$" |
    LC_ALL=C sort -k3 >"$out/$linker/symbols.txt"
  "$nm" "$linker/output.elf" | grep -E " (_sdata|_ebss)\$" | LC_ALL=C sort -k3 >>"$out/$linker/symbols.txt"
  # What the boot test reads back after a run.
  "$nm" "$linker/output.elf" | grep -E " (holdingRegisters|statusText)\$" | LC_ALL=C sort -k3 \
    >>"$out/$linker/symbols.txt"
  "$size" -A "$linker/output.elf" >"$out/$linker/sizes.txt"
}
link gnu
mkdir lld-bin
ln -s "$(command -v "${LLD:-ld.lld}")" lld-bin/ld
link lld -B "$work/lld-bin/" -Wl,--target2=rel
echo "template links written to $out"
