#!/usr/bin/env bash
# A refused build of a large map beside a successful one: the 100 MB map of
# bench/make_map.sh as it builds, and with its loop line renamed, so that
# the symbol scan refuses it. A refusal reads the map again for its hint
# only when the ELF file is a real one; with a missing ELF file it must cost
# what a build does. Figures are medians of RUNS runs, wall and processor
# time in milliseconds. Usage: bench/refused_build.sh [RUNS] [SIZE_MB]
runs_default=5
# shellcheck source=common.sh
source "$(dirname "$0")/common.sh"
mb=${2:-100}
"$root/bench/make_map.sh" "$mb" >"$work/good.map"
sed 's/ loop$/ lo0p/' "$work/good.map" >"$work/refused.map"
head -c $((0x20000 + 0x1a000)) /dev/zero >"$work/flat.elf"
head -c 72 /dev/zero >"$work/cfg.bin"
: >"$work/res.bin"
real=$root/examples/firmware/prebuilt/recipe/output.elf

# NAME EXPECTED COMMAND...: the medians of wall and processor time.
measure() {
  local name=$1 expected=$2 status
  shift 2
  : >"$work/w" && : >"$work/c"
  for ((i = 0; i < runs; i++)); do
    status=0
    /usr/bin/time -f "%e %U %S" -o "$work/t" "$@" >"$work/out" 2>&1 || status=$?
    [ "$status" -eq "$expected" ] || { echo "$name ended with $status, not $expected" >&2; exit 1; }
    tail -n 1 "$work/t" | awk '{ printf "%d\n", $1 * 1000 }' >>"$work/w"
    tail -n 1 "$work/t" | awk '{ printf "%d\n", ($2 + $3) * 1000 }' >>"$work/c"
  done
  local med='sort -n | awk "{ t[NR] = \$1 } END { print t[int((NR + 1) / 2)] }"'
  printf '%-44s %8s %8s\n' "$name" "$(eval "$med" <"$work/w")" "$(eval "$med" <"$work/c")"
}

inputs=(-c "$work/cfg.bin" -r "$work/res.bin" -o "$work/prog.alf")
cat "$work/good.map" "$work/refused.map" >/dev/null  # into the page cache
echo "map: $mb MB, runs per figure: $runs (median), times in ms"
printf '%-44s %8s %8s\n' case wall cpu
pakforge=("$bin/pakforge" "${inputs[@]}")
measure "build that succeeds (flat ELF)" 0 "${pakforge[@]}" -m "$work/good.map" -f "$work/flat.elf"
measure "refused, ELF file missing" 254 "${pakforge[@]}" -m "$work/refused.map" -f "$work/none.elf"
measure "refused, flat ELF" 254 "${pakforge[@]}" -m "$work/refused.map" -f "$work/flat.elf"
measure "refused, real ELF (hint from the diagnosis)" 254 "${pakforge[@]}" -m "$work/refused.map" \
  -f "$real"
measure "aelfdump --link, real ELF" 8 "$bin/aelfdump" --link "$work/refused.map" "$real"
measure "grep -c 2000" 0 grep -c 2000 "$work/good.map"
