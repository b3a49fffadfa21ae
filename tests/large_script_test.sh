#!/usr/bin/env bash
# aelfdump --fix reads a generated 5 MB script on one line, and one of 5 MB
# in many lines, and runs the link command after it (here `false`, so that
# the run ends with 11 right there). A reader quadratic in a line's length
# would take hours: the test's bound, far above the second it takes
# (bench/script_reader.sh), ends it.
# Usage: large_script_test.sh AELFDUMP
set -euo pipefail
aelfdump=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
cd "$work"
bash "$here/make_large_scripts.sh" .
for script in one_line many_lines; do
  status=0
  "$aelfdump" --fix "$script.ld" --linker -- false -T "$script.ld" >out 2>&1 || status=$?
  [ "$status" -eq 11 ] || fail "$script: status $status: $(head -c 400 out)"
  grep -q "^round 1: the link fails (status 1):" out || fail "$script: $(head -c 400 out)"
done
echo "large scripts: OK"
