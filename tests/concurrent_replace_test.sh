#!/usr/bin/env bash
# Two builds replacing the same image at once, twenty times: both succeed and
# the image is whole. On Windows a reader or a second writer holding the old
# image makes a rename fail for a moment; pakforge tries again rather than
# fail the build.
# Usage: concurrent_replace_test.sh DEMO_MAP PAKFORGE [EMULATOR...]
set -euo pipefail
map=$1
command=("${@:3}" "$(realpath "$2")")  # the emulator, if any, then pakforge
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

mkdir "$work/run"
cp "$map" "$work/output.map"
head -c 72 /dev/zero >"$work/output_CFG.bin"
head -c $((0x25000)) /dev/urandom >"$work/output.elf"
head -c $((64 << 10)) /dev/urandom >"$work/output_RES.bin"
build() {  # OUTPUT_FILE [ARGUMENTS]
  local out=$1
  shift
  (cd "$work/run" && exec "${command[@]}" "$@" >"$out" 2>&1) && return 0
  # Under wine, a process can lose its wineserver connection while another
  # test's wine process starts ("wine client error"): that build never ran
  # pakforge, so it runs again, once; a failure of pakforge's own stands.
  grep -q "^wine client error" "$out" || return 1
  (cd "$work/run" && exec "${command[@]}" "$@" >"$out" 2>&1)
}

build "$work/out.0" -o ../expected.alf || fail "the first build failed: $(cat "$work/out.0")"
failed=0
for round in $(seq 20); do
  build "$work/out.1" & first=$!
  build "$work/out.2" & second=$!
  for which in 1 2; do
    pid=$first
    [ "$which" -eq 1 ] || pid=$second
    if ! wait "$pid"; then
      failed=$((failed + 1))
      echo "round $round: $(grep -a "Can't" "$work/out.$which" | tr -d '\033')" >&2
    fi
  done
  cmp -s "$work/prog.alf" "$work/expected.alf" || fail "round $round left another image"
done
[ "$failed" -eq 0 ] || fail "$failed of 40 builds failed"
[ -z "$(find "$work" -name '.prog.alf.tmp-*')" ] || fail "a temporary file was left behind"
echo "concurrent replacement: OK"
