#!/usr/bin/env bash
# The explanations' before/after examples are true: for each rule that
# --fix has an edit for, tests/explain/CODE.ld is a whole script around the
# example's "before:" lines. The test checks that the script holds them, in
# order; links the example firmware with it and checks that aelfdump --link
# gives the code; runs aelfdump --fix --write; and checks that the written
# script holds the example's "after:" lines, in order, and none of the lines
# the example drops, and that the fix reached an image (the firmware's
# contract checked). "..." in an example stands for anything. For a few, the
# diff's header must say whether the fix moves the layout.
#
# A frame's first line says how the team links it, and a second one may
# name sources of examples/firmware/src to link besides app, modbus and
# startup:
#   /* link: gnu|lld [FLAG...] */
#   /* sources: ramfunc */
# Usage: explain_examples_test.sh AELFDUMP SOURCE_DIR [CODE...]
set -euo pipefail
aelfdump=$(realpath "$1")
source=$(cd "$2" && pwd)
shift 2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if ! command -v arm-none-eabi-gcc >/dev/null || ! command -v ld.lld >/dev/null; then
  echo "no arm-none-eabi-gcc or ld.lld here: skipped"
  exit 77
fi
here=$source/examples/linker-scripts
# shellcheck source=../examples/linker-scripts/lib.sh
source "$here/lib.sh"

mkdir -p "$work/obj"
for file in app modbus startup; do
  "$cc" "${cflags[@]}" -I"$src" -c "$src/$file.c" -o "$work/obj/$file.o"
done

# The lines after the NTH LABEL ("before:" or "after:") in CODE's
# explanation, without their indentation, one per line.
example() {
  local code=$1 label=$2 nth=$3
  "$aelfdump" --explain "$code" | awk -v label="$label" -v nth="$nth" '
    # A note after a line ("   (and link with -n)") is no part of it, and
    # a line of "..." stands for any lines.
    function show() { sub(/   +\(.*\)$/, ""); if ($0 != "...") print }
    $1 == label { taking = ++seen == nth; if (!taking) next; sub(/^ *[a-z]+: +/, ""); show(); next }
    taking && /^             / { sub(/^ +/, ""); show(); next }
    { taking = 0 }'
}

# The lines of FILE, each without its indentation and trailing blanks.
trimmed() { sed 's/^[[:space:]]*//; s/[[:space:]]*$//' "$1"; }

# holds_in_order EXAMPLE FILE: every line of EXAMPLE is a line of FILE, in
# that order ("..." matches anything).
holds_in_order() {
  local pattern line
  local -a lines
  mapfile -t lines < <(trimmed "$2")
  local at=0
  while IFS= read -r pattern; do
    # A glob of the line: its own glob characters escaped, "..." a '*'.
    pattern=$(printf '%s' "$pattern" | sed 's/[][*?\\]/\\&/g; s/\.\.\./*/g')
    while [ "$at" -lt "${#lines[@]}" ]; do
      line=${lines[$at]}
      at=$((at + 1))
      # shellcheck disable=SC2053
      [[ "$line" == $pattern ]] && continue 2
    done
    echo "no line '$pattern' (in order) in $2" >&2
    return 1
  done <"$1"
}

# What the diff's header says of a few fixes: a rename or NOLOAD moves no
# address the firmware sees; moving a section or cutting the RAM does.
declare -A header=(
  [PF101]="changes: 1 safe, 0 move the layout"
  [PF202]="changes: 1 safe, 0 move the layout"
  [PF211]="changes: 1 safe, 0 move the layout"
  [PF208]="changes: 0 safe, 1 moves the layout"
  [PF503]="changes: 0 safe, 1 moves the layout"
)

failures=0
checked=0
codes=("$@")
if [ ${#codes[@]} -eq 0 ]; then
  mapfile -t codes < <(cd "$source/tests/explain" && ls -- *.ld | sed 's/\.ld$//')
  # Each rule with an example has a frame, unless its explanation says its
  # change is left to the team: no edit of --fix makes it.
  for code in $(grep -o '"PF[0-9]\{3\}"' "$source/src/rules/rules.cpp" | tr -d '"'); do
    "$aelfdump" --explain "$code" >"$work/explanation"
    if grep -q '^    before:' "$work/explanation" &&
      ! grep -q '^aelfdump --fix leaves this change to you' "$work/explanation" &&
      [ ! -f "$source/tests/explain/$code.ld" ]; then
      echo "FAIL $code: its explanation has an example, and tests/explain has no frame for it" >&2
      failures=$((failures + 1))
    fi
  done
fi
for name in "${codes[@]}"; do
  # PF603_2.ld is the frame of PF603's second example.
  frame=$source/tests/explain/$name.ld
  code=${name%_*} nth=1
  [ "$code" = "$name" ] || nth=${name#*_}
  run=$work/$name
  mkdir -p "$run"
  fail() { echo "FAIL $name: $*" >&2; failures=$((failures + 1)); }
  example "$code" before: "$nth" >"$run/before"
  example "$code" after: "$nth" >"$run/after"
  if [ ! -s "$run/before" ] || [ ! -s "$run/after" ]; then
    fail "its explanation has no before/after example"
    continue
  fi
  if "$aelfdump" --explain "$code" | grep -q '^aelfdump --fix leaves this change to you'; then
    fail "its explanation leaves the change to the team, and a frame says --fix makes it"
    continue
  fi
  if ! holds_in_order "$run/before" "$frame"; then
    fail "the frame does not hold the example's before lines"
    continue
  fi
  read -r -a how < <(sed -n '1s|^/\* link: \(.*\) \*/$|\1|p' "$frame")
  linker=${how[0]:-}
  flags=("${how[@]:1}")
  cp "$frame" "$run/script.ld"
  objects=("$work"/obj/*.o)
  for file in $(sed -n '2s|^/\* sources: \(.*\) \*/$|\1|p' "$frame"); do
    "$cc" "${cflags[@]}" -I"$src" -c "$src/$file.c" -o "$run/$file.o"
    objects+=("$run/$file.o")
  done
  if [ "$linker" = gnu ]; then
    command=("$cc" "${cflags[@]}" -T script.ld "${flags[@]}" -Wl,-Map=out.map -o out.elf
      "${objects[@]}")
  elif [ "$linker" = lld ]; then
    command=("$lld" -T script.ld "${flags[@]}" -Map=out.map -o out.elf "${objects[@]}")
  else
    fail "the frame's first line names no linker"
    continue
  fi
  if ! (cd "$run" && "${command[@]}") >"$run/link.txt" 2>&1; then
    fail "the before script does not link: $(cat "$run/link.txt")"
    continue
  fi
  (cd "$run" && "$aelfdump" --link out.map out.elf) >"$run/diagnosis.txt" 2>&1 || true
  if ! grep -q "$code" "$run/diagnosis.txt"; then
    fail "aelfdump --link does not give $code: $(cat "$run/diagnosis.txt")"
    continue
  fi
  status=0
  (cd "$run" && "$aelfdump" --fix script.ld --write -- "${command[@]}") >"$run/fix.txt" 2>&1 ||
    status=$?
  if [ "$status" -ne 0 ]; then
    fail "--fix ends with status $status: $(cat "$run/fix.txt")"
    continue
  fi
  if ! holds_in_order "$run/after" "$run/script.ld"; then
    fail "the fixed script does not hold the example's after lines:"$'\n'"$(cat "$run/script.ld")"
    continue
  fi
  if [ -n "${header[$name]:-}" ] && ! grep -q "^${header[$name]} " "$run/fix.txt"; then
    fail "the diff's header is not '${header[$name]}': $(grep '^changes' "$run/fix.txt")"
  fi
  # What the example drops is gone.
  while IFS= read -r line; do
    [[ "$line" == *...* ]] && continue
    grep -qxF -- "$line" "$run/after" && continue
    if trimmed "$run/script.ld" | grep -qxF -- "$line"; then
      fail "the fixed script still holds '$line'"
    fi
  done <"$run/before"
  checked=$((checked + 1))
done
echo "$checked examples run through --fix and the linker, $failures failed"
[ "$failures" -eq 0 ]
