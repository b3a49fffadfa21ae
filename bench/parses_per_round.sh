#!/usr/bin/env bash
# Parses of the linker script per round of `aelfdump --fix`, over every
# stock script of examples/linker-scripts (fix_all.sh's runs): aelfdump runs
# under gdb, which counts the calls of the script reader. Prints one line
# per run (all parses, the edits' parses, the rounds that edited) and the
# edits' parses per editing round over all runs.
#
# Needs gdb with Python, the cross toolchain and a build with symbols
# (build/default is RelWithDebInfo).
# Usage: bench/parses_per_round.sh [AELFDUMP]   (FIX_ONLY="origin ..." to pick)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
aelfdump=$(realpath "${1:-$root/build/default/aelfdump}")
command -v gdb >/dev/null || { echo "parses_per_round.sh needs gdb" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# aelfdump as fix_all.sh calls it: --fix runs are counted, the rest run as
# they are.
cat >"$work/aelfdump" <<WRAP
#!/usr/bin/env bash
[ "\${1:-}" = --fix ] || exec "$aelfdump" "\$@"
echo "run \$(basename "\$PWD")" >>"$work/log"
PARSES_LOG="$work/log" gdb -q -batch -x "$root/bench/gdb/count_parses.py" -ex run \\
  --args "$aelfdump" "\$@" | grep -v '^\[Inferior '
exit "\$(cat "$work/log.status")"
WRAP
chmod +x "$work/aelfdump"
bash "$root/examples/linker-scripts/fix_all.sh" "$root/build/default/pakforge" "$work/aelfdump" \
  >"$work/fix_all.txt" || true
awk '
  /^run / { name = $2; next }
  { printf "%-22s %5d parses, %4d by the edits, %d editing rounds\n", name, $1, $2, $3
    total += $1; editing += $2; rounds += $3 }
  END { if (rounds > 0) printf "edits: %.1f parses per editing round (%d over %d rounds); all: %d\n",
        editing / rounds, editing, rounds, total }
' "$work/log"
