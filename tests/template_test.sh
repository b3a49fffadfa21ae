#!/usr/bin/env bash
# The installed linker-script template on the C++ firmware of
# examples/template/ (CubeMX-style startup, newlib-nano, static
# constructors, exception tables, an 8-aligned .data, a function in RAM),
# linked with it unmodified by GNU ld and by LLD:
#   - pakforge's image holds exactly objcopy's bytes, its header symbols
#     nm's (a function's bit 0 aside), and its RAM report counts .data, .bss
#     and the heap and stack reservation, as `size -A` lists them;
#   - aelfdump --link finds no problem;
#   - where the cross toolchain is installed, the links made again from the
#     template as it is now are the committed ones.
# Usage: template_test.sh PAKFORGE AELFDUMP SOURCE_DIR
set -euo pipefail
pakforge=$(realpath "$1")
aelfdump=$(realpath "$2")
template=$(realpath "$3")/examples/template
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# The little-endian word at byte OFFSET of FILE, as a number.
word() { echo $((0x$(od -An -tx4 -j "$2" -N 4 "$1" | tr -d ' '))); }
# The value nm lists for NAME in FILE, as a number.
nm_value() { echo $((0x$(awk -v n="$2" '$3 == n { print $1 }' "$1"))); }
# The size `size -A` lists for SECTION in FILE.
section_size() { awk -v s="$2" '$1 == s { print $2 }' "$1"; }

for linker in gnu lld; do
  link=$template/prebuilt/$linker
  run=$work/$linker
  mkdir -p "$run/run"
  cp "$link/output.map" "$link/output.elf" "$run/"
  head -c 72 /dev/zero >"$run/output_CFG.bin"
  : >"$run/output_RES.bin"
  status=0
  (cd "$run/run" && "$pakforge" >"$run/out" 2>"$run/err") || status=$?
  if [ "$status" -ne 0 ]; then
    fail "$linker: pakforge ended with $status: $(tr -d '\033' <"$run/out")"
    continue
  fi
  tail -c +77 "$run/prog.alf" | cmp -s - "$link/output.bin" ||
    fail "$linker: the image's code is not objcopy's bytes"
  names=(__entryPoint__ loop ModbusHGroups_Table ModbusIGroups_Table ModbusRemoteRegTables)
  for i in "${!names[@]}"; do
    got=$(word "$run/prog.alf" $((4 + 4 * i)))
    want=$(nm_value "$link/symbols.txt" "${names[$i]}")
    # Bit 0 is a Thumb function's mark: GNU ld's map leaves it out.
    [ "$i" -ge 2 ] || { got=$((got & ~1)); want=$((want & ~1)); }
    [ "$got" -eq "$want" ] || fail "$linker: ${names[$i]} is $got in the header, $want by nm"
  done
  sizes=$link/sizes.txt
  ram=$(($(section_size "$sizes" .data) + $(section_size "$sizes" .bss) +
    $(section_size "$sizes" ._user_heap_stack)))
  grep -q "App RAM data size = $ram/32768 Bytes" "$run/err" ||
    fail "$linker: the RAM report does not read $ram bytes: $(grep 'RAM data' "$run/err")"
  "$aelfdump" --link "$link/output.map" "$link/output.elf" >"$run/link" ||
    fail "$linker: aelfdump --link refuses the link"
  grep -qx "  none" "$run/link" || fail "$linker: aelfdump --link lists problems: $(cat "$run/link")"
done

if command -v arm-none-eabi-g++ >/dev/null && command -v ld.lld >/dev/null; then
  bash "$template/build.sh" "$work/again" >/dev/null
  for file in {gnu,lld}/{output.bin,symbols.txt,sizes.txt}; do
    cmp -s "$work/again/$file" "$template/prebuilt/$file" ||
      fail "$file made again from the template differs from the committed one: run examples/template/build.sh"
  done
else
  echo "no arm-none-eabi-g++ or ld.lld: the committed links are not made again"
fi

[ "$failures" -eq 0 ] || exit 1
echo "template: OK"
