#!/usr/bin/env bash
# Wall time of pakforge and `aelfdump --link` on the example link rewritten
# with 65535 program headers and 65535 allocated sections that no segment
# loads, with a map whose code range ends early (the refusal reads every
# section for its hint) and with the link's own map.
# Usage: bench/many_headers.sh [RUNS]   (default 11, median)
runs_default=11
# shellcheck source=common.sh
source "$(dirname "$0")/common.sh"
recipe=$root/examples/firmware/prebuilt/recipe
"${CXX:-c++}" -O2 -std=c++20 "$root/tests/make_many_headers.cpp" -o "$work/make"
"$work/make" "$recipe/output.elf" "$work/output.elf" 65535 >/dev/null
mkdir "$work/run"
head -c 72 /dev/zero >"$work/output_CFG.bin"
: >"$work/output_RES.bin"
sed "s/^\\( *\\)0x0802010c\\( *_flash_end = \\.\\)$/\\10x08020104\\2/" \
  "$recipe/output.map" >"$work/short.map"
cp "$recipe/output.map" "$work/output.map"

# Median wall time, in milliseconds, of RUNS runs in run/ of a command that
# must exit with EXPECTED.
wall_ms() {
  local expected=$1 status
  shift
  for ((i = 0; i < runs; i++)); do
    status=0
    (cd "$work/run" && /usr/bin/time -f "%e" -o "$work/t" "$@" >"$work/out" 2>&1) || status=$?
    [ "$status" -eq "$expected" ] || { echo "$* ended with $status: $(cat "$work/out")" >&2; exit 1; }
    tail -n 1 "$work/t" | awk '{ printf "%d\n", $1 * 1000 }'
  done | sort -n | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }'
}

echo "ELF file: $(stat -c %s "$work/output.elf") bytes, runs per figure: $runs (median)"
printf '%-40s %8s\n' command wall_ms
printf '%-40s %8d\n' "pakforge, range ending early" "$(wall_ms 252 "$bin/pakforge" -m ../short.map)"
printf '%-40s %8d\n' "pakforge, the link's own map" "$(wall_ms 0 "$bin/pakforge")"
printf '%-40s %8d\n' "aelfdump --link, range ending early" \
  "$(wall_ms 8 "$bin/aelfdump" --link ../short.map ../output.elf)"
printf '%-40s %8d\n' "aelfdump --link, the link's own map" \
  "$(wall_ms 0 "$bin/aelfdump" --link ../output.map ../output.elf)"
