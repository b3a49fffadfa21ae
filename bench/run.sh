#!/usr/bin/env bash
# Times a whole pakforge build on generated maps of 1, 10 and 100 MB beside
# `grep -c 2000` and `wc -l` on the same map, and reports pakforge's peak
# resident memory. Usage: bench/run.sh [RUNS]   (default 11 runs each)
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

# Median wall time in milliseconds of RUNS runs of a command.
median_ms() {
  local times=() i start end
  for ((i = 0; i < runs; i++)); do
    start=$(date +%s%N)
    # Not /dev/null: GNU grep stops at the first match when it sees that.
    "$@" >"$work/out" 2>&1 || true
    end=$(date +%s%N)
    times+=($(((end - start) / 1000)))
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{ t[NR] = $1 } END { printf "%.1f", t[int((NR + 1) / 2)] / 1000 }'
}

echo "machine: $(nproc) cores, $(awk '/model name/ { sub(/.*: /, ""); print; exit }' /proc/cpuinfo)"
echo "runs per figure: $runs (median)"
printf '%-8s %12s %12s %12s %10s %12s\n' map pakforge_ms grep_ms wc_ms ratio peak_rss_kb
for mb in 1 10 100; do
  map="$work/output.map"
  "$root/bench/make_map.sh" "$mb" >"$map"
  "$exe" -m "$map" -c "$work/output_CFG.bin" -f "$work/output.elf" -r "$work/output_RES.bin" \
    -o "$work/prog.alf" >/dev/null 2>&1 || { echo "pakforge failed on the ${mb} MB map" >&2; exit 1; }
  cat "$map" >/dev/null  # warm the page cache
  p=$(median_ms "$exe" -m "$map" -c "$work/output_CFG.bin" -f "$work/output.elf" \
    -r "$work/output_RES.bin" -o "$work/prog.alf")
  g=$(median_ms grep -c 2000 "$map")
  w=$(median_ms wc -l "$map")
  rss=$(/usr/bin/time -f %M "$exe" -m "$map" -c "$work/output_CFG.bin" -f "$work/output.elf" \
    -r "$work/output_RES.bin" -o "$work/prog.alf" 2>&1 >/dev/null | tail -n 1)
  ratio=$(awk -v p="$p" -v g="$g" 'BEGIN { printf "%.2f", p / g }')
  printf '%-8s %12s %12s %12s %10s %12s\n' "${mb}MB" "$p" "$g" "$w" "$ratio" "$rss"
done
