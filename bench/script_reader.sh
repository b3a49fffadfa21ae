#!/usr/bin/env bash
# Wall time and peak memory of `aelfdump --fix` reading a large generated
# script (each file read whole, its INCLUDEs resolved, the copy written)
# before a link that fails at once: 5 MB on one line, and 5 MB in many
# lines, with KEEPs and symbol assignments in one output section. A reader
# quadratic in a line's length takes hours on the first.
# Usage: bench/script_reader.sh [RUNS]   (default 5, median)
runs_default=5
# shellcheck source=common.sh
source "$(dirname "$0")/common.sh"
cd "$work"
bash "$root/tests/make_large_scripts.sh" .

printf '%-16s %10s %8s %12s\n' script bytes wall_ms peak_rss_kb
for script in one_line many_lines; do
  for ((i = 0; i < runs; i++)); do
    status=0
    /usr/bin/time -f "%e %M" -o t "$bin/aelfdump" --fix "$script.ld" --linker -- false \
      -T "$script.ld" >out 2>&1 || status=$?
    [ "$status" -eq 11 ] || { echo "$script: status $status: $(cat out)" >&2; exit 1; }
    tail -n 1 t
  done | sort -n | awk -v s="$script" -v b="$(stat -c %s "$script.ld")" \
    '{ t[NR] = $1; m[NR] = $2 } END { k = int((NR + 1) / 2); printf "%-16s %10d %8d %12d\n", s, b, t[k] * 1000, m[k] }'
done
