#!/usr/bin/env bash
# aelfdump --fix on scripts of a firmware of a team's own (examples/contract):
# its start-up code copies and zeroes RAM by names of its own, points the
# vector table register at 0x08020000 and takes a PendSV interrupt on every
# loop. Each script is fixed with --fix --write under GNU ld and LLD, linked
# again as the team would, packed by pakforge and booted on an emulated
# STM32F405 through the reference loader; the firmware's report, read back
# from its RAM, must show the copied data, the zeroed .bss, every interrupt
# taken through its own table, and a stack top inside the device's RAM.
# Usage: contract_boot_test.sh PAKFORGE AELFDUMP SOURCE_DIR
set -euo pipefail
pakforge=$(realpath "$1")
aelfdump=$(realpath "$2")
source=$(cd "$3" && pwd)
here=$source/examples/contract
loader=$source/examples/loader/loader.elf
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
for tool in arm-none-eabi-gcc ld.lld qemu-system-arm; do
  command -v "$tool" >/dev/null || { echo "no $tool here: skipped"; exit 77; }
done

cflags=(-mcpu=cortex-m4 -mthumb -Os -ffreestanding -nostdlib -ffunction-sections -fdata-sections
  -fno-unwind-tables -fno-asynchronous-unwind-tables -Wall -Wextra -Werror)
build() {  # OBJ_FOLDER DEFINES...
  local obj=$1
  shift
  mkdir -p "$obj"
  arm-none-eabi-gcc "${cflags[@]}" "$@" -I"$source/examples/firmware/src" \
    -c "$here/src/startup.c" -o "$obj/startup.o"
  arm-none-eabi-gcc "${cflags[@]}" -I"$source/examples/firmware/src" \
    -c "$source/examples/firmware/src/modbus.c" -o "$obj/modbus.o"
}
build "$work/obj"
build "$work/obj-table" -DCOPY_TABLE
build "$work/obj-bounds" -DVECTOR_BOUNDS
build "$work/obj-slot" -DAPPLICATION_VECTORS=0x08020200u
build "$work/obj-banks" -DSECTION_TABLE
head -c 72 /dev/zero >"$work/cfg.bin"
printf 'res' >"$work/res.bin"

# The team's link command for LINKER in the current folder.
link_command() {  # LINKER OBJ_FOLDER
  if [ "$1" = gnu ]; then
    echo arm-none-eabi-gcc "${cflags[@]}" -T script.ld -Wl,--gc-sections -Wl,-Map=out.map \
      -o out.elf "$2"/*.o
  else
    echo ld.lld -T script.ld --gc-sections -Map=out.map -o out.elf "$2"/*.o
  fi
}

# The loader's run of IMAGE with the 8 words of the firmware's report.
boot_report() {  # RUN_FOLDER
  local run=$1 address code status=0
  address=$(arm-none-eabi-nm "$run/out.elf" | awk '$3 == "report" { print $1 }')
  [ -n "$address" ] || { echo "no report symbol"; return; }
  # The image goes where its code stands: at its addrExe (the header, from
  # byte 4, holds it at 28).
  code=$(od -An -tx4 -j 32 -N 4 "$run/prog.alf" | tr -d ' ')
  # A firmware that took the wrong vector never stops: a bound only an
  # endless run reaches.
  timeout 300 qemu-system-arm -M netduinoplus2 -nographic -monitor none -serial none \
    -semihosting-config enable=on,target=native -kernel "$loader" \
    -device "loader,file=$run/prog.alf,addr=$((0x$code - 76))" \
    -device "loader,addr=0x2001FFF0,data=0x$address,data-len=4" >"$run/said" 2>&1 || status=$?
  echo "status $status: $(sed -n 's/^loader: the words at 0x[0-9A-F]*: //p' "$run/said")"
}

# CASE LINKER OBJ: fixed, linked again, packed and booted.
check_case() {
  local case=$1 linker=$2 obj=$3 run=$work/$1-$2 status=0
  mkdir -p "$run" && cp "$here/$case.ld" "$run/script.ld"
  read -r -a command <<<"$(link_command "$linker" "$obj")"
  (cd "$run" && "$aelfdump" --fix script.ld --write -- "${command[@]}") >"$run/fix.txt" 2>&1 ||
    status=$?
  [ "$status" -eq 0 ] || fail "$case ($linker): --fix ended with $status: $(cat "$run/fix.txt")"
  local flags=()
  grep -q '^the link command needs' "$run/fix.txt" &&
    flags=("$([ "$linker" = gnu ] && printf %s -Wl,-n || printf %s -n)")
  (cd "$run" && "${command[@]}" "${flags[@]}" >link.txt 2>&1) ||
    fail "$case ($linker): the fixed script does not link: $(cat "$run/link.txt")"
  "$pakforge" -m "$run/out.map" -f "$run/out.elf" -c "$work/cfg.bin" -r "$work/res.bin" \
    -o "$run/prog.alf" >"$run/pakforge.txt" 2>&1 ||
    fail "$case ($linker): pakforge refuses the fixed link: $(cat "$run/pakforge.txt")"
  local said
  said=$(boot_report "$run")
  # magic, PendSVs, loops, stack top, zeroed, checksum (1+...+8), wrong
  # handler, end marker.
  local want="status 0: 0x5AFE0001 0x00001388 0x00001388 0x20008000 0x00000001 0x00000024 0x00000000 0x00000E0D"
  [ "$said" = "$want" ] ||
    fail "$case ($linker): the firmware's report is '$said', not '$want': $(cat "$run/fix.txt")"
}

for linker in gnu lld; do
  for case in ${CONTRACT_CASES:-vectors no_memory bss_first big_ram}; do
    check_case "$case" "$linker" "$work/obj"
  done
  # The start-up code reads .data's bounds from the script's copy table.
  check_case copy_table "$linker" "$work/obj-table"
  # The start-up code checks the vector table's bounds, set from SIZEOF.
  check_case vector_size "$linker" "$work/obj-bounds"
  # A boot loader's slot header first: the code starts 0x200 further on.
  check_case slot_header "$linker" "$work/obj-slot"
  # A section table with a second RAM bank's entries, a bank the device
  # lacks: its data arrives only once its sections run in the device's RAM.
  check_case ram_bank "$linker" "$work/obj-banks"
done
echo "fixed scripts boot with the firmware's meaning kept: OK"
