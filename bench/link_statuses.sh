#!/usr/bin/env bash
# Every committed link (map and ELF file), as linked and stripped: pakforge's
# exit status for each, the code of its refusal, and the codes aelfdump
# --link gives. Run it with two builds and diff the outputs to see what a
# change does to real links; a refusal's code must be among the codes.
# Usage: bench/link_statuses.sh PAKFORGE AELFDUMP   (needs arm-none-eabi-strip)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
pakforge=$(realpath "$1")
aelfdump=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c 72 /dev/zero >"$work/cfg.bin"
: >"$work/res.bin"
run() {  # MAP ELF: status and the refusal's code
  local status=0
  "$pakforge" -m "$1" -f "$2" -c "$work/cfg.bin" -r "$work/res.bin" -o "$work/x.alf" \
    >"$work/out" 2>/dev/null || status=$?
  echo "$status $(grep -o '\[PF[0-9]*\]' "$work/out" | head -n 1 | tr -d '[]')"
}
cd "$root"
for map in $(git ls-files '*.map'); do
  link=$(dirname "$map")
  [ -f "$link/output.elf" ] || continue
  arm-none-eabi-strip -o "$work/stripped.elf" "$link/output.elf"
  read -r status code <<<"$(run "$map" "$link/output.elf")"
  read -r stripped _ <<<"$(run "$map" "$work/stripped.elf")"
  codes=$("$aelfdump" --link "$map" "$link/output.elf" 2>/dev/null | grep -o '^ *[0-9]*\. \[PF[0-9]*' |
    grep -o 'PF[0-9]*' | sort -u | tr '\n' ' ' || true)
  agrees=""
  [ -z "$code" ] || [[ " $codes" == *" $code "* ]] || agrees=" REFUSAL NOT AMONG THE CODES"
  echo "$link: $status (stripped $stripped) ${code:--} | ${codes}${agrees}"
done
