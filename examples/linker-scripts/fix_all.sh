#!/usr/bin/env bash
# Runs `aelfdump --fix --write` on the stock script of every origin here,
# under each linker its project uses, with the link command a team would
# give it, and checks the outcome as a team would: links again with the
# written script (and -n where --fix says the command needs it), runs
# pakforge, and compares the image's code with objcopy's bytes and with
# `aelfdump --elf`. Prints one line per script: the outcome, the rounds, and
# the time --fix took beside the time of its links alone.
#
# Needs the cross toolchain (as build.sh) and a pakforge and aelfdump build.
# Usage: fix_all.sh [PAKFORGE [AELFDUMP]]   (FIX_ONLY="origin ..." to pick)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=lib.sh
source "$here/lib.sh"
take_tools "$@"

# The team's link command for LINKER with SCRIPT, writing out.map and
# out.elf in the current folder.
link_command() {
  local linker=$1 script=$2
  local objects
  objects=$(cd "$work" && echo obj/*.o)
  if [ "$linker" = gnu ]; then
    echo "$cc" "${cflags[@]}" -T "$script" "${link_flags[@]}" -Wl,-Map=out.map -o out.elf $objects
  else
    echo "$lld" -T "$script" "${link_flags[@]//-Wl,/}" -Map=out.map -o out.elf $objects
  fi
}

# The address of the symbol the project's start-up code copies .data's
# initial values from (its -DDATA_LOAD=, _sidata by default), and the load
# address of .data.
load_symbol() {
  local define symbol=_sidata
  for define in "${defines[@]}"; do
    [[ "$define" == -DDATA_LOAD=* ]] && symbol=${define#-DDATA_LOAD=}
  done
  arm-none-eabi-nm "$1" | awk -v s="$symbol" '$3 == s { print toupper($1) }'
}
data_load_address() {
  arm-none-eabi-objdump -h "$1" | awk '$2 == ".data" { print toupper($5) }'
}

# Milliseconds since the epoch.
now() { date +%s%3N; }

failures=0
advice_runs=0 advice_same=0 advice_differs=()
origins=()
[ -n "${FIX_ONLY:-}" ] && origins=($FIX_ONLY)
[ ${#origins[@]} -gt 0 ] || origins=($(cd "$here" && ls -d */ | tr -d /))
printf '%-13s %-6s %-10s %-7s %s\n' script linker outcome rounds "ms (--fix / its links)"
for origin in "${origins[@]}"; do
  load_origin "$origin"
  for linker in "${linkers[@]}"; do
    run=$work/$origin-$linker
    rm -rf "$run" && mkdir -p "$run" && cp -r "$work/obj" "$run/obj"
    if ! make_script "$run/stock.ld" 2>/dev/null || [ ! -s "$run/stock.ld" ]; then
      printf '%-13s %-6s %s\n' "$origin" "$linker" "skipped: its script can't be made here"
      continue
    fi
    cp "$run/stock.ld" "$run/script.ld"
    read -r -a command <<<"$(link_command "$linker" script.ld)"
    # One link alone, for the time --fix's own work is weighed against. A
    # script that does not link as it is (LLD refuses a region named before
    # MEMORY) goes to --fix all the same, which answers what it knows of
    # the linker's refusal.
    start=$(now)
    (cd "$run" && "${command[@]}" >/dev/null 2>&1) || true
    one_link=$(($(now) - start))
    # What aelfdump --link advises for that link, given the script, to hold
    # against the edits.
    : >"$run/advice.txt"
    [ ! -f "$run/out.elf" ] ||
      "$aelfdump" --link "$run/out.map" "$run/out.elf" --script "$run/stock.ld" >"$run/advice.txt" 2>&1 || true
    start=$(now)
    status=0
    (cd "$run" && "$aelfdump" --fix script.ld --write -- "${command[@]}") >"$run/fix.txt" 2>&1 ||
      status=$?
    took=$(($(now) - start))
    # A round's warnings are said on a line of their own.
    rounds=$(grep '^round ' "$run/fix.txt" | grep -vc ': the linker warns:$' || true)
    outcome=ok
    if [ "$status" -ne 0 ]; then
      outcome="status $status"
    else
      # The team's own link with the written script, then pakforge.
      flags=()
      grep -q '^the link command needs' "$run/fix.txt" &&
        flags=("$([ "$linker" = gnu ] && printf %s -Wl,-n || printf %s -n)")
      head -c 72 /dev/zero >"$run/cfg.bin" && : >"$run/res.bin"
      if ! (cd "$run" && "${command[@]}" "${flags[@]}" >link.txt 2>&1); then
        outcome="relink fails"
      elif ! "$pakforge" -m "$run/out.map" -f "$run/out.elf" -c "$run/cfg.bin" \
        -r "$run/res.bin" -o "$run/prog.alf" >"$run/pakforge.txt" 2>&1; then
        outcome="pakforge refuses"
      else
        "$objcopy" -O binary "$run/out.elf" "$run/flash.bin"
        if ! tail -c +77 "$run/prog.alf" | cmp -s - "$run/flash.bin"; then
          outcome="not objcopy's bytes"
        elif ! "$aelfdump" --elf "$run/out.elf" "$run/prog.alf" >/dev/null 2>&1; then
          outcome="aelfdump --elf disagrees"
        elif [ "$(load_symbol "$run/out.elf")" != "$(data_load_address "$run/out.elf")" ]; then
          # The start-up code copies .data's initial values from its symbol.
          outcome="start-up copies from elsewhere"
        fi
      fi
    fi
    [ "$outcome" = ok ] || failures=$((failures + 1))
    # The lines --link gives to end the code range (the assignments of its
    # end lines), each one written by --fix as well?
    if [ "$outcome" = ok ] && [ -s "$run/advice.txt" ]; then
      advised=$(awk '/^  [0-9]+\. \[PF/ { code = substr($2, 2) }
        code ~ /^PF(107|201|204|603)$/ && /^            [._A-Za-z][^ ]* = .*;$/ { sub(/^ +/, ""); print }
      ' "$run/advice.txt")
      if [ -n "$advised" ]; then
        advice_runs=$((advice_runs + 1))
        if ! sed 's/^[[:space:]]*//; s/[[:space:]]*$//' "$run/script.ld" |
          grep -qvxF -f - <(echo "$advised"); then
          advice_same=$((advice_same + 1))
        else
          advice_differs+=("$origin-$linker")
        fi
      fi
    fi
    printf '%-13s %-6s %-10s %-7s %s\n' "$origin" "$linker" "$outcome" "$rounds" \
      "$took / $((rounds * one_link))"
    if [ "$outcome" != ok ] && [ -n "${FIX_VERBOSE:-}" ]; then
      sed 's/^/    /' "$run/fix.txt" >&2
      [ ! -f "$run/pakforge.txt" ] || sed 's/^/    pakforge: /' "$run/pakforge.txt" >&2
    fi
  done
done
echo "the lines --link --script gives to end the code range are the ones --fix writes on" \
  "$advice_same of $advice_runs runs${advice_differs[*]:+ (not on: ${advice_differs[*]})}" >&2
exit $((failures > 0))
