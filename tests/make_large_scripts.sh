#!/usr/bin/env bash
# Writes two generated linker scripts of about 5 MB into FOLDER, each one
# output section of 150,000 KEEPs and symbol assignments: one_line.ld on a
# single line, many_lines.ld one statement a line. For the reader's test
# and its benchmark. Usage: make_large_scripts.sh FOLDER
set -euo pipefail
awk 'BEGIN { printf "SECTIONS { .text : {"
  for (i = 0; i < 150000; i++) printf " KEEP(*(.text.f%d)) sym_%d = .;", i, i
  printf " } }\n" }' >"$1/one_line.ld"
awk 'BEGIN { printf "SECTIONS {\n  .text : {\n"
  for (i = 0; i < 150000; i++) printf "    KEEP(*(.text.f%d))\n    sym_%d = .;\n", i, i
  printf "  }\n}\n" }' >"$1/many_lines.ld"
