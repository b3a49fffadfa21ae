#!/usr/bin/env bash
# Times a whole pakforge build on generated maps of 1, 10 and 100 MB beside
# `grep -c 2000` and `cat` (one copy out of the page cache: the floor) on the
# same map, and reports pakforge's peak resident memory. Usage: bench/run.sh [RUNS]   (default 11 runs each)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-11}
[ -x /usr/bin/time ] || { echo "bench/run.sh needs /usr/bin/time (apt-get install time)" >&2; exit 1; }
exe=${PAKFORGE:-$root/build/default/pakforge}
cd "$root"
if [ -z "${PAKFORGE:-}" ]; then
  cmake --preset default >/dev/null
  cmake --build --preset default --target pakforge >/dev/null
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Inputs for code linked at 0x08020000 with 0x1a000 bytes of code.
head -c $((0x20000 + 0x1a000)) /dev/zero >"$work/output.elf"
head -c 72 /dev/zero >"$work/output_CFG.bin"
head -c 16384 /dev/zero >"$work/output_RES.bin"

# Wall time in microseconds of one run of a command, its output sent to the
# file named first.
time_us() {
  local start end out=$1
  shift
  start=$(date +%s%N)
  "$@" >"$out" 2>&1 || true
  end=$(date +%s%N)
  echo $(((end - start) / 1000))
}

# Median, in milliseconds, of the microsecond figures on standard input.
median_ms() {
  sort -n | awk '{ t[NR] = $1 } END { printf "%.1f", t[int((NR + 1) / 2)] / 1000 }'
}

echo "machine: $(nproc) cores, $(awk '/model name/ { sub(/.*: /, ""); print; exit }' /proc/cpuinfo)"
echo "runs per figure: $runs (median), the three commands taking turns"
printf '%-8s %12s %12s %10s %14s %13s %12s\n' map pakforge_ms grep_ms cat_ms pakforge/grep \
  pakforge/cat peak_rss_kb
for mb in 1 10 100; do
  map="$work/output.map"
  "$root/bench/make_map.sh" "$mb" >"$map"
  build=("$exe" -m "$map" -c "$work/output_CFG.bin" -f "$work/output.elf" -r "$work/output_RES.bin"
    -o "$work/prog.alf")
  "${build[@]}" >/dev/null 2>&1 || { echo "pakforge failed on the ${mb} MB map" >&2; exit 1; }
  cat "$map" >/dev/null  # warm the page cache
  : >"$work/p" && : >"$work/g" && : >"$work/c"
  # Taking turns spreads the machine's slow moments over all three columns.
  for ((i = 0; i < runs; i++)); do
    time_us "$work/out" "${build[@]}" >>"$work/p"
    # Not /dev/null: GNU grep stops at the first match when it sees that.
    time_us "$work/out" grep -c 2000 "$map" >>"$work/g"
    time_us /dev/null cat "$map" >>"$work/c"
  done
  p=$(median_ms <"$work/p") g=$(median_ms <"$work/g") c=$(median_ms <"$work/c")
  rss=$(/usr/bin/time -f %M "${build[@]}" 2>&1 >/dev/null | tail -n 1)
  ratios=$(awk -v p="$p" -v g="$g" -v c="$c" 'BEGIN { printf "%14.2f %13.2f", p / g, p / c }')
  printf '%-8s %12s %12s %10s %s %12s\n' "${mb}MB" "$p" "$g" "$c" "$ratios" "$rss"
done
