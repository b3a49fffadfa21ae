#!/usr/bin/env bash
# Writes a deterministic linker map of about SIZE_MB megabytes to stdout,
# shaped like a GNU ld map of a large firmware: a preamble, a long .text
# range of input sections and symbols, then .data and .bss with RAM symbols.
# The five symbols pakforge needs are in the code range.
set -euo pipefail
size_mb=${1:?usage: make_map.sh SIZE_MB}
awk -v target=$((size_mb * 1024 * 1024)) '
function hex(v) { return sprintf("0x%08x", v) }
BEGIN {
  bytes = 0
  print "Archive member included to satisfy reference by file (symbol)\n"
  print "Memory Configuration\n"
  print "Name             Origin             Length             Attributes"
  print "FLASH            0x08020000         0x0001fe00         xr"
  print "RAM              0x20000000         0x00008000         xrw"
  print "\nLinker script and memory map\n"
  print ".text           0x08020000     0x1a000"
  addr = 134348800   # 0x08020000
  printf "                %s                __entryPoint__\n", hex(addr)
  ram_share = target / 20
  n = 0
  while (bytes < target - ram_share) {
    n++
    size = 4 + (n * 37) % 200
    line1 = sprintf(" .text.fn_%d\n", n)
    line2 = sprintf("                %s     %s obj/module_%d.o\n", hex(addr), sprintf("0x%x", size), n % 400)
    line3 = sprintf("                %s                fn_%d\n", hex(addr), n)
    printf "%s%s%s", line1, line2, line3
    bytes += length(line1) + length(line2) + length(line3)
    if (n == 1000) printf "                %s                loop\n", hex(addr)
    if (n == 2000) printf "                %s                ModbusHGroups_Table\n", hex(addr)
    if (n == 3000) printf "                %s                ModbusIGroups_Table\n", hex(addr)
    if (n == 4000) printf "                %s                ModbusRemoteRegTables\n", hex(addr)
    addr = 134348800 + (addr - 134348800 + size) % 106496
  }
  printf "                %s                _etext\n", hex(134348800 + 106496)
  print ".data           0x20000000     0x400 load address 0x0803a000"
  ram = 536870912
  while (bytes < target) {
    n++
    line = sprintf(" .data.var_%d   %s     0x4 obj/module_%d.o\n                %s                var_%d\n", n, hex(ram), n % 400, hex(ram), n)
    printf "%s", line
    bytes += length(line)
    ram = 536870912 + (ram - 536870912 + 4) % 24576
  }
  print ".bss            0x20006000     0x800"
  print "                0x20006800                _ebss"
}'
