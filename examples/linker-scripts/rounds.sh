#!/usr/bin/env bash
# Measures how many link-and-package rounds each real-style script of this
# folder takes from its stock form to a correct image, as a user who does
# what they are told would take them:
#   - with pakforge's messages alone: each round, link, run pakforge, and
#     make the recipe's edits that its message names;
#   - with aelfdump --link: each round, link, run pakforge, and on a
#     refusal make every edit that answers a problem aelfdump --link lists,
#     by its code.
# A round is one link and one pakforge run; the last one writes the image,
# which must be objcopy's bytes. A message that names no edit still to make
# leaves the user stuck; one that names an edit already made is advice the
# link already follows. Both are reported.
#
# Needs the cross toolchain (as build.sh) and a pakforge and aelfdump build.
# Usage: rounds.sh [PAKFORGE [AELFDUMP]]   (default: build/default's)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=lib.sh
source "$here/lib.sh"
take_tools "$@"
# shellcheck source=fixes.sh
source "$here/fixes.sh"

# rounds LINKER MODE: prints "N EDITS" (the edits in the order made), or
# "stuck after N: WHY".
rounds() {
  local linker=$1 mode=$2 applied=() n=0 fix advice
  while [ "$n" -lt 12 ]; do
    n=$((n + 1))
    if ! link_with "$work/link" "$linker" "${applied[@]}"; then
      echo "stuck after $n: the linker refuses the script"
      return
    fi
    if run_pakforge "$pakforge" "$work/link" "$work/p"; then
      "$objcopy" -O binary "$work/link/output.elf" "$work/flash.bin"
      if tail -c +77 "$work/p/prog.alf" | cmp -s - "$work/flash.bin"; then
        echo "$n ${applied[*]}"
      else
        echo "stuck after $n: pakforge wrote an image that is not objcopy's bytes"
      fi
      return
    fi
    advice=$work/p/out
    if [ -n "${ROUNDS_VERBOSE:-}" ]; then
      echo "  $mode round $n (${applied[*]}): $(grep -v '^pakforge v' "$work/p/out" | tr '\n' ' ')" >&2
    fi
    if [ "$mode" = aelfdump ]; then
      "$aelfdump" --link "$work/link/output.map" "$work/link/output.elf" >"$work/advice" 2>&1 || true
      advice=$work/advice
    fi
    local new=()
    for fix in $(fixes_coded "$advice"); do
      if [[ " ${applied[*]} " == *" $fix "* ]]; then
        echo "round $n advises $fix, already made" >&2
      elif [[ " ${fixes[*]} " == *" $fix "* ]]; then
        new+=("$fix")
      fi
    done
    if [ ${#new[@]} -eq 0 ]; then
      echo "stuck after $n: $(grep -v '^pakforge v' "$work/p/out" | tr '\n' ' ' | cut -c1-100)"
      return
    fi
    applied+=("${new[@]}")
  done
  echo "stuck after $n rounds"
}

origins=()
[ -n "${ROUNDS_ONLY:-}" ] && origins=($ROUNDS_ONLY)
[ ${#origins[@]} -gt 0 ] || origins=($(cd "$here" && ls -d */ | tr -d /))
printf '%-12s %-6s %-40s %s\n' script linker "pakforge alone" "with aelfdump --link"
for origin in "${origins[@]}"; do
  load_origin "$origin"
  for linker in "${linkers[@]}"; do
    link_with "$work/link" "$linker" || continue
    alone=$(rounds "$linker" pakforge)
    helped=$(rounds "$linker" aelfdump)
    printf '%-12s %-6s %-40s %s\n' "$origin" "$linker" "$alone" "$helped"
  done
done
