#!/usr/bin/env bash
# Builds the example firmware with Debian's gcc-arm-none-eabi and
# binutils-arm-none-eabi, in the link variants that pakforge's tests use,
# and writes each variant's map and ELF file into OUT/VARIANT/; for the good
# links also what binutils say the image must hold: the flash content as
# `objcopy -O binary` gives it (output.bin), and the five header symbols and
# the bounds of the RAM data as `nm` lists them (symbols.txt).
#
#   recipe       link.ld, linked with -n: the way to link for pakforge
#   pagesize     link.ld with the default page size (no -n): the code is not
#                at the ELF file offset pakforge derives from addrExe
#   vendor       link_vendor.ld (_etext, LOADADDR(.data)): the code range
#                of the map ends before the initial values of .data
#   static_loop  the recipe, with a file-local function called loop in a
#                second file
#   stale        the recipe's ELF file with the map of an earlier link
#   gc_first     the recipe linked with --gc-sections, with a file of unused
#   gc_last      code and data (unused8.c) linked first or last: the map
#                starts with a block of discarded input sections
#   lld          the recipe, compiled with clang and linked with LLVM's LLD
#   lld_forward  the same with the end of the block written the way that
#                suits GNU ld alone (_flash_end = _sidata + _data_image_size):
#                LLD's map shows the location counter there, not the end
#   reordered    the recipe with input sections sorted by name (--sort-section):
#                the same flash length, every symbol elsewhere
#   small        the recipe without the 128 KiB alignment (and with
#                static_loop.c): the code is at file offset 0x74, not 0x20000;
#                a small ELF file that also seeds the ELF reader's fuzz target
#   ram_counter  link_ram_counter.ld: .bss before .data and "_sidata = .;"
#                directly before .data, where the location counter is
#                .bss's: the initial values of .data are loaded into RAM,
#                and the code range ends with the flash sections
#   at_ram       link_at_ram.ld: .data placed "> RAM AT> RAM", its initial
#                values loaded where .data runs
#   ram_counter_lld, at_ram_lld  the same two under LLD
#   odd_start    the recipe with the flash from 0x08023000 and no 128 KiB
#                alignment: pakforge reads the code from offset 0x3000,
#                which no alignment gives without moving the code
#   flash_base   the same from 0x08000000: offset 0, the ELF header
#   loop_assigned  app.c with its loop renamed app_loop, and the recipe's
#                script with "loop = app_loop;": the map gives loop by an
#                assignment line, whose last word is app_loop
#   empty_after_bss_lld  the recipe under LLD with an empty RAM section
#                after .bss that is not NOLOAD: LLD loads the zeros of .bss
#                into the flash after .data's initial values
#   lld_static_loop  the recipe under LLD with static_loop.c linked last:
#                LLD's map lists its file-local loop after the global one
#   object       app.c compiled, not linked (output.elf is app.o), with the
#                recipe's map: the wrong file given as the ELF file
#   partly_stripped  the recipe's ELF file after `strip -K loop`, with its
#                map: a symbol table cut down to one name
#
# Usage: build.sh [OUT]   (default: prebuilt/ beside this script)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$(mkdir -p "${1:-$here/prebuilt}" && cd "${1:-$here/prebuilt}" && pwd)
cc=${CC:-arm-none-eabi-gcc}
clang=${CLANG:-clang}
lld=${LLD:-ld.lld}
objcopy=${OBJCOPY:-arm-none-eabi-objcopy}
nm=${NM:-arm-none-eabi-nm}
cflags=(-mcpu=cortex-m4 -mthumb -Os -ffreestanding -nostdlib -ffunction-sections -fdata-sections
  -fno-unwind-tables -fno-asynchronous-unwind-tables -Wall -Wextra -Werror)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$here/src" "$here"/*.ld "$work/"
cd "$work"
mkdir obj
for file in app modbus static_loop unused8; do
  "$cc" "${cflags[@]}" -Isrc -c "src/$file.c" -o "obj/$file.o"
done
mkdir obj/clang
for file in app modbus static_loop; do
  "$clang" --target=thumbv7em-none-eabi "${cflags[@]}" -Isrc -c "src/$file.c" -o "obj/clang/$file.o"
done
# The earlier link of "stale": loop did one thing more then.
"$cc" "${cflags[@]}" -Isrc -DEARLIER_LINK -c src/app.c -o obj/app_earlier.o

# link VARIANT SCRIPT [LINKER FLAGS] -- OBJECTS: links in a folder of its own,
# so that the map names the objects and the output by short relative paths.
link() {
  local variant=$1 script=$2
  shift 2
  local flags=()
  while [ "$1" != -- ]; do flags+=("$1"); shift; done
  shift
  mkdir -p "$variant"
  (cd "$variant" && "$cc" "${cflags[@]}" -T "../$script" "${flags[@]}" -Wl,-Map=output.map \
    -o output.elf "${@/#/../}")
}
# keep VARIANT [MAP_FROM]: the variant's ELF file and map (or another link's)
keep() {
  mkdir -p "$out/$1"
  cp "$1/output.elf" "$out/$1/"
  cp "${2:-$1}/output.map" "$out/$1/"
}
# expect VARIANT: the oracle's view of a good link
expect() {
  "$objcopy" -O binary "$1/output.elf" "$out/$1/output.bin"
  "$nm" -g "$1/output.elf" |
    grep -E " (__entryPoint__|loop|ModbusHGroups_Table|ModbusIGroups_Table|ModbusRemoteRegTables)\$" |
    LC_ALL=C sort -k3 >"$out/$1/symbols.txt"
  # Where the RAM data starts and ends, for the RAM report.
  "$nm" "$1/output.elf" | grep -E " (_sdata|_ebss)\$" | LC_ALL=C sort -k3 >>"$out/$1/symbols.txt"
}

link recipe link.ld -Wl,-n -- obj/app.o obj/modbus.o
keep recipe
expect recipe
link pagesize link.ld -- obj/app.o obj/modbus.o
keep pagesize
link vendor link_vendor.ld -Wl,-n -- obj/app.o obj/modbus.o
keep vendor
link static_loop link.ld -Wl,-n -- obj/app.o obj/modbus.o obj/static_loop.o
keep static_loop
expect static_loop
link earlier link.ld -Wl,-n -- obj/app_earlier.o obj/modbus.o
mkdir -p stale && cp recipe/output.elf stale/
keep stale earlier
link reordered link.ld -Wl,-n -Wl,--sort-section=name -- obj/app.o obj/modbus.o
keep reordered
expect reordered
link gc_first link.ld -Wl,-n -Wl,--gc-sections -- obj/unused8.o obj/app.o obj/modbus.o
keep gc_first
expect gc_first
link gc_last link.ld -Wl,-n -Wl,--gc-sections -- obj/app.o obj/modbus.o obj/unused8.o
keep gc_last
expect gc_last
link_lld() {  # VARIANT SCRIPT
  mkdir -p "$1"
  (cd "$1" && "$lld" -T "../$2" -n -Map=output.map -o output.elf ../obj/clang/app.o ../obj/clang/modbus.o)
}
link_lld lld link.ld
keep lld
expect lld
sed -z 's/  \. = _sidata + _data_image_size;\n  _flash_end = \.;/  _flash_end = _sidata + _data_image_size;/' \
  link.ld >forward.ld
grep -q "^  _flash_end = _sidata + _data_image_size;" forward.ld
link_lld lld_forward forward.ld
keep lld_forward
sed 's/ALIGN(0x20000)/ALIGN(4)/' link.ld >small.ld
link small small.ld -Wl,-n -- obj/app.o obj/modbus.o obj/static_loop.o
keep small
# Initial values loaded outside the flash, in the two shapes that give it.
for variant in ram_counter at_ram; do
  link "$variant" "link_$variant.ld" -Wl,-n -- obj/app.o obj/modbus.o
  keep "$variant"
  link_lld "${variant}_lld" "link_$variant.ld"
  keep "${variant}_lld"
done
# An empty RAM section after .bss that is not NOLOAD: LLD writes the zeros
# of .bss into the flash after .data's initial values, bytes that no
# section of the ELF file names.
sed -z 's/    _ebss = \.;\n  } > RAM\n/&\n  .after_bss :\n  {\n    _after_bss = .;\n  } > RAM\n/' \
  link.ld >empty_after_bss.ld
grep -q "^  \.after_bss :" empty_after_bss.ld
link_lld empty_after_bss_lld empty_after_bss.ld
keep empty_after_bss_lld
mkdir -p lld_static_loop
(cd lld_static_loop && "$lld" -T ../link.ld -n -Map=output.map -o output.elf ../obj/clang/app.o \
  ../obj/clang/modbus.o ../obj/clang/static_loop.o)
keep lld_static_loop

# loop defined by the script, not by the firmware.
"$cc" "${cflags[@]}" -Isrc -Dloop=app_loop -c src/app.c -o obj/app_loop.o
sed 's/^  _sidata = \.;$/  loop = app_loop;\n  _sidata = .;/' link.ld >loop_assigned.ld
grep -q "^  loop = app_loop;" loop_assigned.ld
link loop_assigned loop_assigned.ld -Wl,-n -- obj/app_loop.o obj/modbus.o
keep loop_assigned

# Code starts that no alignment of .text puts at the derived offset.
sed 's/ORIGIN = 0x08020000, LENGTH = 0x1FE00/ORIGIN = 0x08023000, LENGTH = 0x1CE00/; s/ALIGN(0x20000)/ALIGN(4)/' \
  link.ld >odd_start.ld
sed 's/ORIGIN = 0x08020000, LENGTH = 0x1FE00/ORIGIN = 0x08000000, LENGTH = 0x3FE00/; s/ALIGN(0x20000)/ALIGN(4)/' \
  link.ld >flash_base.ld
for variant in odd_start flash_base; do
  ! grep -q "ORIGIN = 0x08020000" "$variant.ld"
  link "$variant" "$variant.ld" -Wl,-n -- obj/app.o obj/modbus.o
  keep "$variant"
done
mkdir -p "$out/object" "$out/partly_stripped"
cp obj/app.o "$out/object/output.elf"
cp recipe/output.map "$out/object/"
"${STRIP:-arm-none-eabi-strip}" -K loop recipe/output.elf -o "$out/partly_stripped/output.elf"
cp recipe/output.map "$out/partly_stripped/"
echo "firmware written to $out"
