#!/usr/bin/env bash
# Walks each real-style linker script of examples/linker-scripts/ in three
# steps, on its committed links (GNU ld, and LLD where the stock script links
# with it):
#   1. the stock form: pakforge refuses it, writes no image, and what it
#      advises is among the edits the recipe makes;
#   2. aelfdump --link on the stock form names every edit it needs, and
#      gives pakforge's own verdict;
#   3. the recipe form: pakforge writes the image, its code exactly
#      objcopy's bytes and its header symbols nm's; aelfdump --link agrees.
# Then aelfdump --link's verdict on every committed link, the example
# firmware's included, must be pakforge's own.
# Usage: linker_scripts_test.sh PAKFORGE AELFDUMP SOURCE_DIR
set -euo pipefail
pakforge=$(realpath "$1")
aelfdump=$(realpath "$2")
scripts=$(realpath "$3")/examples/linker-scripts
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
# shellcheck source=../examples/linker-scripts/fixes.sh
source "$scripts/fixes.sh"

# The little-endian word at byte OFFSET of FILE, in hex.
word() { od -An -tx4 -j "$2" -N 4 "$1" | tr -d ' '; }

# verdict_agrees LINK: aelfdump --link's verdict status is pakforge's.
verdict_agrees() {
  local status=0
  run_pakforge "$pakforge" "$1" "$work/p" || status=$?
  "$aelfdump" --json --link "$1/output.map" "$1/output.elf" >"$work/json" 2>/dev/null || true
  grep -q "\"status\": $status, " "$work/json" ||
    fail "$1: aelfdump --link's verdict is not pakforge's status $status: $(grep -o '"verdict".*' "$work/json")"
}

walked=0
for project in "$scripts"/*/project.sh; do
  origin=$(basename "$(dirname "$project")")
  named_gnu=() named_lld=() fixes=()
  # shellcheck source=/dev/null
  source "$project"
  for linker in gnu lld; do
    stock=$scripts/$origin/stock/$linker
    recipe=$scripts/$origin/recipe/$linker
    [ -f "$stock/output.map" ] && [ -f "$recipe/output.map" ] || continue
    walked=$((walked + 1))
    case=$origin/$linker
    # 1. Refused, with advice only from the recipe.
    if run_pakforge "$pakforge" "$stock" "$work/p"; then
      fail "$case: pakforge took the stock script"
    fi
    [ ! -e "$work/p/prog.alf" ] || fail "$case: an image was written for the stock script"
    for fix in $(fixes_coded "$work/p/out"); do
      [[ " ${fixes[*]} " == *" $fix "* ]] || fail "$case: pakforge advises $fix, which the recipe does not need"
    done
    # 2. aelfdump --link names every edit the stock form needs.
    named=("${named_gnu[@]}")
    [ "$linker" = gnu ] || named=("${named_lld[@]}")
    status=0
    "$aelfdump" --link "$stock/output.map" "$stock/output.elf" >"$work/link" 2>&1 || status=$?
    [ "$status" -eq 8 ] || fail "$case: aelfdump --link on the stock script gave status $status"
    found=" $(fixes_coded "$work/link" | tr '\n' ' ')"
    for fix in "${named[@]}"; do
      [[ "$found" == *" $fix "* ]] || fail "$case: aelfdump --link does not name $fix"
    done
    tail -n 1 "$work/link" | grep -q "^verdict  *pakforge refuses this link" ||
      fail "$case: no refusal as aelfdump's last line"
    # 3. The recipe gives objcopy's bytes and nm's symbols.
    if ! run_pakforge "$pakforge" "$recipe" "$work/p"; then
      fail "$case: pakforge refused the recipe: $(cat "$work/p/out")"
      continue
    fi
    tail -c +77 "$work/p/prog.alf" | cmp -s - "$recipe/output.bin" ||
      fail "$case: the image's code is not objcopy's"
    offset=4
    for name in __entryPoint__ loop ModbusHGroups_Table ModbusIGroups_Table ModbusRemoteRegTables; do
      nm=$(awk -v n="$name" '$3 == n { print $1 }' "$recipe/symbols.txt")
      header=$(word "$work/p/prog.alf" "$offset")
      [ $((0x$nm & ~1)) -eq $((0x$header & ~1)) ] ||
        fail "$case: $name is $header in the header but $nm in nm's listing"
      offset=$((offset + 4))
    done
    "$aelfdump" --link "$recipe/output.map" "$recipe/output.elf" >"$work/link" 2>&1 ||
      fail "$case: aelfdump --link does not take the recipe"
  done
done
[ "$walked" -ge 16 ] || fail "only $walked links walked"

for map in "$scripts"/*/*/*/output.map "$scripts"/../firmware/prebuilt/*/output.map; do
  verdict_agrees "$(dirname "$map")"
done
[ "$failures" -eq 0 ] || exit 1
echo "linker scripts: $walked links walked, OK"
