#!/usr/bin/env bash
# Processor time of pakforge and `aelfdump --link` on the example link with
# 500,000 more symbols (an 8 MB ELF file), their names alternating between
# the two ends of a 64 KiB string table, beside the same file with the names
# in order. Usage: bench/scattered_names.sh [RUNS]   (default 5, median)
runs_default=5
# shellcheck source=common.sh
source "$(dirname "$0")/common.sh"
recipe=$root/examples/firmware/prebuilt/recipe
"${CXX:-c++}" -O2 -std=c++20 -I"$root/tests" "$root/bench/make_scattered_symbols.cpp" -o "$work/make"
"$work/make" "$recipe/output.elf" "$work/scattered.elf" scattered
"$work/make" "$recipe/output.elf" "$work/ordered.elf" ordered
head -c 72 /dev/zero >"$work/cfg.bin"
: >"$work/res.bin"

# Median processor time (user + system), in milliseconds, of RUNS runs of a
# command that must exit with EXPECTED.
cpu_ms() {
  local expected=$1 status
  shift
  for ((i = 0; i < runs; i++)); do
    status=0
    /usr/bin/time -f "%U %S" -o "$work/t" "$@" >"$work/out" 2>&1 || status=$?
    [ "$status" -eq "$expected" ] || { echo "$* ended with $status: $(cat "$work/out")" >&2; exit 1; }
    tail -n 1 "$work/t" | awk '{ printf "%d\n", ($1 + $2) * 1000 }'
  done | sort -n | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }'
}

echo "ELF file: $(stat -c %s "$work/scattered.elf") bytes, runs per figure: $runs (median)"
printf '%-16s %14s %12s %8s\n' command scattered_ms ordered_ms ratio
for tool in pakforge aelfdump; do
  for order in scattered ordered; do
    if [ "$tool" = pakforge ]; then
      ms=$(cpu_ms 0 "$bin/pakforge" -m "$recipe/output.map" -f "$work/$order.elf" \
        -c "$work/cfg.bin" -r "$work/res.bin" -o "$work/prog.alf")
    else
      ms=$(cpu_ms 0 "$bin/aelfdump" --link "$recipe/output.map" "$work/$order.elf")
    fi
    eval "${order}_ms=$ms"
  done
  awk -v t="$tool" -v s="$scattered_ms" -v o="$ordered_ms" \
    'BEGIN { printf "%-16s %14d %12d %8.2f\n", t, s, o, (o > 0 ? s / o : (s > 0 ? 99 : 1)) }'
done
