#!/usr/bin/env bash
# Links the example firmware (../firmware/src) with each linker script of
# this folder, as a project built on that script links, in two forms:
#
#   stock    the script as its code base has it, adapted as a user would:
#            the application's flash from 0x08020000 (0x1FE00 bytes), the
#            device's 32 KiB of RAM from 0x20000000
#   recipe   the same with every edit of pakforge's recipe that it needs
#            (the FIX_ blocks of its script.ld.in; README.md)
#   between  where project.sh lists them (between_gnu, between_lld), some
#            of those edits only: a link a test reads
#
# Each ORIGIN/ folder holds project.sh (the project's compile definitions,
# link flags, linkers and the recipe's edits) and script.ld.in, or a
# function that makes the script from one installed on this machine. Each
# link goes to ORIGIN/FORM/LINKER/ (gnu, and lld where the project lists
# LLVM's LLD): output.map and output.elf, or link-error.txt where the linker
# refuses the script; and for a recipe link what binutils say the image
# must hold: output.bin (objcopy -O binary) and symbols.txt (nm).
#
# Needs gcc-arm-none-eabi, binutils-arm-none-eabi, lld, and for picolibc/
# picolibc-arm-none-eabi.
#
# Usage: build.sh [ORIGIN...]   (default: every folder here)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
objcopy=${OBJCOPY:-arm-none-eabi-objcopy}
nm=${NM:-arm-none-eabi-nm}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# shellcheck source=lib.sh
source "$here/lib.sh"

origins=("$@")
[ ${#origins[@]} -gt 0 ] || origins=($(cd "$here" && ls -d */ | tr -d /))
for origin in "${origins[@]}"; do
  load_origin "$origin"
  for linker in "${linkers[@]}"; do
    link_with "$here/$origin/stock/$linker" "$linker" || true
    out=$here/$origin/recipe/$linker
    if ! link_with "$out" "$linker" "${fixes[@]}"; then
      [ "$linker" != gnu ] || { cat "$out/link-error.txt" >&2; exit 1; }
      continue
    fi
    # A form between the two that a test reads: project.sh's between_LINKER
    # lists its edits.
    declare -n between="between_$linker"
    if [ ${#between[@]} -gt 0 ]; then
      link_with "$here/$origin/between/$linker" "$linker" "${between[@]}"
    fi
    "$objcopy" -O binary "$out/output.elf" "$out/output.bin"
    "$nm" -g "$out/output.elf" |
      grep -E " (__entryPoint__|loop|ModbusHGroups_Table|ModbusIGroups_Table|ModbusRemoteRegTables)\$" |
      LC_ALL=C sort -k3 >"$out/symbols.txt"
  done
  echo "$origin: linked"
done
