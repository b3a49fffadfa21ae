#!/usr/bin/env bash
# Builds the reference loader with Debian's gcc-arm-none-eabi into
# loader.elf beside this script (committed: the boot test needs only QEMU).
# Usage: build.sh [OUT.elf]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
"${CC:-arm-none-eabi-gcc}" -mcpu=cortex-m4 -mthumb -std=c99 -Os -ffreestanding -nostdlib \
  -Wall -Wextra -Werror -I"$here/../../include" -T "$here/loader.ld" -Wl,--gc-sections \
  -o "${1:-$here/loader.elf}" "$here/loader.c"
