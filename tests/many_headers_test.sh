#!/usr/bin/env bash
# An ELF file with 65535 program headers and 65535 allocated sections that no
# segment loads (the real example link underneath): pakforge and aelfdump
# --link give their verdicts, with a map whose code range ends early (the
# refusal reads the sections for its hint) and with the link's own map.
# What the verdicts take is measured by bench/many_headers.sh.
# Usage: many_headers_test.sh PAKFORGE AELFDUMP MAKE_MANY_HEADERS SOURCE_DIR [EMULATOR...]
set -euo pipefail
pakforge=$(realpath "$1")
aelfdump=$(realpath "$2")
maker=$(realpath "$3")
recipe=$(realpath "$4")/examples/firmware/prebuilt/recipe
emulator=("${@:5}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

"${emulator[@]}" "$maker" "$recipe/output.elf" "$work/output.elf" 65535
mkdir "$work/run"
head -c 72 /dev/zero >"$work/output_CFG.bin"
: >"$work/output_RES.bin"
# The code range 8 bytes short of the initial values' end.
sed "s/^\\( *\\)0x0802010c\\( *_flash_end = \\.\\)$/\\10x08020104\\2/" \
  "$recipe/output.map" >"$work/short.map"
cmp -s "$work/short.map" "$recipe/output.map" && fail "the map's end line was not found"
cp "$recipe/output.map" "$work/output.map"

# verdict EXPECTED_STATUS NAME COMMAND...: runs it in run/.
verdict() {
  local expected=$1 name=$2 status=0
  shift 2
  (cd "$work/run" && "${emulator[@]}" "$@" >"$work/out" 2>&1) || status=$?
  [ "$status" -eq "$expected" ] || fail "$name ended with $status, not $expected: $(tr -d '\033' <"$work/out")"
}
verdict 252 "pakforge, range ending early" "$pakforge" -m ../short.map
grep -q "leaves out" "$work/out" || fail "pakforge gave another refusal: $(cat "$work/out")"
verdict 0 "pakforge, the link's own map" "$pakforge"
verdict 8 "aelfdump --link, range ending early" "$aelfdump" --link ../short.map ../output.elf
verdict 0 "aelfdump --link, the link's own map" "$aelfdump" --link ../output.map ../output.elf
echo "many headers: OK"
