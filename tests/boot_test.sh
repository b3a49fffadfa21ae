#!/usr/bin/env bash
# The example image booted on an emulated STM32F405 (QEMU's netduinoplus2):
# the reference loader of examples/loader finds the image pakforge writes
# from the example firmware's link, checks it with pakforge/aelf.h, runs the
# firmware's entry point and loop, and reports through semihosting what the
# firmware left in its RAM. A damaged image, one placed where its code is
# not at its addrExe, and damaged code are each refused or caught, with the
# loader's status. The template's C++ firmware, linked by GNU ld and LLD,
# runs its constructors, catches its exception and allocates with new.
# Usage: boot_test.sh PAKFORGE SOURCE_DIR
set -euo pipefail
pakforge=$(realpath "$1")
source=$(cd "$2" && pwd)
loader=$source/examples/loader/loader.elf
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
if ! command -v qemu-system-arm >/dev/null; then
  echo "no qemu-system-arm here (apt-get install qemu-system-arm): skipped"
  exit 77
fi

mkdir -p "$work/run"
cp "$source/examples/firmware/prebuilt/recipe/output.map" \
  "$source/examples/firmware/prebuilt/recipe/output.elf" "$work/"
head -c 72 /dev/zero >"$work/output_CFG.bin"
printf 'res' >"$work/output_RES.bin"
(cd "$work/run" && "$pakforge" >/dev/null 2>&1) || fail "pakforge did not write the image"

# boot IMAGE ADDRESS: the loader's status; what it said in $work/said.
boot() {
  local status=0
  timeout 600 qemu-system-arm -M netduinoplus2 -nographic -monitor none -serial none \
    -semihosting-config enable=on,target=native -kernel "$loader" \
    -device "loader,file=$1,addr=$2" >"$work/said" 2>&1 || status=$?
  echo "$status"
}
# damaged NAME OFFSET BYTES: a copy of the image with BYTES at OFFSET.
damaged() {
  cp "$work/prog.alf" "$work/$1.alf"
  printf "$3" | dd of="$work/$1.alf" bs=1 seek="$2" conv=notrunc 2>/dev/null
}
expect() {  # WHAT STATUS LINE IMAGE ADDRESS
  local status
  status=$(boot "$4" "$5")
  [ "$status" -eq "$2" ] || fail "$1: the loader ended with $status, not $2: $(cat "$work/said")"
  grep -qF "$3" "$work/said" || fail "$1: the loader did not say '$3': $(cat "$work/said")"
}

# The image with its code at addrExe, 0x08020000: the firmware runs, and its
# RAM is what 5000 rounds of its loop leave (the same every run).
code_at=$((0x08020000 - 76))
expect "the example image" 0 "its RAM digest went from 0xBCC31DC5 to 0x357A6F85" \
  "$work/prog.alf" "$code_at"
damaged magic 0 'X'
expect "a damaged magic" 1 "loader: refused: no AELF magic" "$work/magic.alf" "$code_at"
# resourcesSize 0xFF000000: the image would run past the flash.
damaged length 48 '\000\000\000\377'
expect "a damaged length" 1 "its length is not 76 + appSize + resourcesSize" "$work/length.alf" \
  "$code_at"
expect "the image 4 bytes early" 2 "the code is at 0x0801FFFC, not at its addrExe 0x08020000" \
  "$work/prog.alf" $((code_at - 4))
# loop's first instructions made undefined: the firmware faults.
damaged fault $((76 + 0x44)) '\377\377\377\377'
expect "undefined instructions in loop" 3 "loader: the firmware faulted" "$work/fault.alf" "$code_at"
# One instruction of loop made a no-op: the firmware runs, but not as built.
damaged nop $((76 + 0x50)) '\000\277'
status=$(boot "$work/nop.alf" "$code_at")
grep -qF "to 0x357A6F85" "$work/said" &&
  fail "a changed instruction left the firmware's RAM as the example's: $(cat "$work/said")"
# The template's C++ firmware, as GNU ld and LLD link it: its static
# constructor ran (holdingRegisters[0] 0x5A), its throw was caught
# (holdingRegisters[1] 1), new gave loop its sensor, whose readings
# snprintf wrote as a float ("651.8 C" after 5000 rounds). The loader
# prints the words at the address QEMU writes to 0x2001FFF0.
for linker in gnu lld; do
  link=$source/examples/template/prebuilt/$linker
  mkdir -p "$work/template-$linker/run"
  cp "$link/output.map" "$link/output.elf" "$work/template-$linker/"
  cp "$work/output_CFG.bin" "$work/output_RES.bin" "$work/template-$linker/"
  (cd "$work/template-$linker/run" && "$pakforge" >/dev/null 2>&1) ||
    fail "template ($linker): pakforge did not write the image"
  for name in holdingRegisters statusText; do
    address=$(awk -v n="$name" '$3 == n { print $1 }' "$link/symbols.txt")
    [ -n "$address" ] || fail "template ($linker): no $name in symbols.txt"
    status=0
    timeout 600 qemu-system-arm -M netduinoplus2 -nographic -monitor none -serial none \
      -semihosting-config enable=on,target=native -kernel "$loader" \
      -device "loader,file=$work/template-$linker/prog.alf,addr=$code_at" \
      -device "loader,addr=0x2001FFF0,data=0x$address,data-len=4" >"$work/said" 2>&1 || status=$?
    [ "$status" -eq 0 ] || fail "template ($linker): the loader ended with $status: $(cat "$work/said")"
    words=$(sed -n 's/^loader: the words at 0x[0-9A-F]*: //p' "$work/said")
    case $name in
      holdingRegisters) expected="0x0001005A 0x13890000" ;;
      statusText) expected="0x2E313536 0x00432038" ;;  # "651.8 C"
    esac
    [[ "$words" == "$expected "* ]] ||
      fail "template ($linker): $name holds $words, not $expected...: $(cat "$work/said")"
  done
done
echo "boot on an emulated STM32F405: OK"
