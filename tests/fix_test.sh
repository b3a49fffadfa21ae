#!/usr/bin/env bash
# aelfdump --fix with the real linkers:
#   - every stock script of examples/linker-scripts, under each linker it
#     links with, reaches a correct image with one --fix --write (the team's
#     own link again, pakforge, objcopy's bytes, aelfdump --elf: fix_all.sh),
#     or ends with the message that says what is left;
#   - the firmware's scripts that load .data's initial values outside the
#     flash, or place the flash elsewhere than the application's, and
#     CubeMX's layout unadapted (flash from 0x08000000, 128 KiB of RAM) are
#     fixed, with the start-up code's symbol where the values are loaded;
#   - a script that INCLUDEs its MEMORY from a -L folder is fixed in both
#     files, and one that INCLUDEs its SECTIONS (the nRF5 SDK's split) gets
#     the same advice as the whole and the end lines advised;
#   - bad input gets its message and status, and nothing of the team's
#     changes.
# Usage: fix_test.sh PAKFORGE AELFDUMP SOURCE_DIR
set -euo pipefail
pakforge=$1
aelfdump=$2
source=$(cd "$3" && pwd)
work=$(mktemp -d)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
if ! command -v arm-none-eabi-gcc >/dev/null || ! command -v ld.lld >/dev/null; then
  echo "no arm-none-eabi-gcc or ld.lld here: skipped"
  exit 77
fi

# Every origin. apps_region keeps a table in a flash region past the
# application's (PF601): no edit knows what the firmware means by it.
status=0
FIX_VERBOSE=1 bash "$source/examples/linker-scripts/fix_all.sh" "$pakforge" "$aelfdump" \
  >"$work/all" 2>"$work/all.log" || status=$?
awk 'NR > 1 { print $1, $2, $3, $4 }' "$work/all" | sed 's/ skipped:.*/ skipped/' >"$work/got"
cat >"$work/want" <<'EOF'
ada_bb gnu ok 2
ada_bb lld ok 2
apps_region gnu status 12
apps_region lld status 12
arduino_samd gnu ok 2
arduino_samd lld ok 2
atmel_asf gnu ok 2
atmel_asf lld ok 2
chibios gnu ok 2
chibios lld ok 2
cmsis gnu ok 2
cortex_m_rt gnu ok 2
cortex_m_rt lld ok 2
cubemx_f4 gnu ok 2
cubemx_f4 lld ok 3
freertos_mpu gnu ok 2
freertos_mpu lld ok 2
hc32l110 gnu ok 2
hc32l110 lld ok 2
libopencm3 gnu ok 2
libopencm3 lld ok 2
lpcxpresso gnu ok 2
lpcxpresso lld ok 2
mbed gnu ok 2
mcuboot_slot gnu ok 2
mcuboot_slot lld ok 2
micropython gnu ok 2
micropython lld ok 2
mynewt gnu ok 2
mynewt lld ok 2
nrf5_sdk gnu ok 2
nrf5_sdk lld ok 2
nuttx gnu ok 2
nuttx lld ok 2
pico_sdk gnu ok 2
pico_sdk lld ok 2
picolibc gnu skipped
ram_code gnu ok 2
ram_code lld ok 2
riot gnu ok 2
riot lld ok 2
rodata_first gnu ok 2
rodata_first lld ok 2
rust_bare gnu ok 2
rust_bare lld ok 2
st_atollic gnu ok 2
st_atollic lld ok 2
st_cubeide gnu ok 2
st_cubeide lld ok 3
tinygo gnu ok 2
tinygo lld ok 2
tivaware gnu ok 2
tivaware lld ok 2
vector_region gnu ok 2
vector_region lld ok 2
zephyr gnu ok 2
EOF
# picolibc's script comes with picolibc: where it is installed, it is fixed
# as it stands there.
if [ -f /usr/lib/picolibc/arm-none-eabi/lib/picolibc.ld ]; then
  sed -i 's/^picolibc gnu skipped$/picolibc gnu ok 2/' "$work/want"
fi
diff -u "$work/want" "$work/got" || { cat "$work/all.log"; fail "fix_all.sh: outcomes differ"; }
[ "$status" -eq 1 ] || fail "fix_all.sh ended with $status"
grep -q 'left to you: PF601' "$work/all.log" || fail "apps_region: no word of PF601"

# The firmware's scripts whose initial values are loaded outside the flash
# (PF603): .bss before .data, and .data AT> RAM; and the recipe with its
# flash at the part's base or off the application's start (PF405). Fixed,
# the start-up code's _sidata is where the initial values are loaded.
mkdir -p "$work/fw/obj"
cp "$source"/examples/firmware/link_ram_counter.ld "$source"/examples/firmware/link_at_ram.ld \
  "$work/fw/"
fwflags=(-mcpu=cortex-m4 -mthumb -Os -ffreestanding -nostdlib -ffunction-sections -fdata-sections
  -fno-unwind-tables -fno-asynchronous-unwind-tables)
for file in app modbus; do
  arm-none-eabi-gcc "${fwflags[@]}" -I"$source/examples/firmware/src" -c \
    "$source/examples/firmware/src/$file.c" -o "$work/fw/obj/$file.o"
done
for base in "0x08000000, LENGTH = 0x3FE00" "0x08023000, LENGTH = 0x1CE00"; do
  sed "s/ORIGIN = 0x08020000, LENGTH = 0x1FE00/ORIGIN = $base/; s/ALIGN(0x20000)/ALIGN(4)/" \
    "$source/examples/firmware/link.ld" >"$work/fw/link_${base:0:10}.ld"
done
# fixed NAME FOLDER LINK...: --fix --write in FOLDER with s.ld, then the
# link again (with -n), pakforge, objcopy's bytes, and _sidata where .data's
# initial values are loaded.
fixed() {
  local name=$1 folder=$2
  shift 2
  (cd "$folder" && "$aelfdump" --fix s.ld --write -- "$@") >"$work/out" 2>&1 ||
    { cat "$work/out"; fail "$name: --fix"; }
  local n=-n
  [[ "$1" == *gcc ]] && n=-Wl,-n
  (cd "$folder" && "$@" "$n" && head -c 72 /dev/zero >cfg.bin && : >res.bin &&
    "$pakforge" -m fw.map -f fw.elf -c cfg.bin -r res.bin -o fw.alf >/dev/null 2>&1) ||
    fail "$name: pakforge refuses the fixed link"
  arm-none-eabi-objcopy -O binary "$folder/fw.elf" "$folder/flash.bin"
  tail -c +77 "$folder/fw.alf" | cmp -s - "$folder/flash.bin" ||
    fail "$name: the image is not objcopy's bytes"
  local sidata lma
  sidata=$(arm-none-eabi-nm "$folder/fw.elf" | awk '$3 == "_sidata" { print toupper($1) }')
  lma=$(arm-none-eabi-objdump -h "$folder/fw.elf" | awk '$2 == ".data" { print toupper($5) }')
  [ "$sidata" = "$lma" ] || fail "$name: _sidata $sidata, .data loaded at $lma"
}
for script in link_ram_counter.ld link_at_ram.ld link_0x08000000.ld link_0x08023000.ld; do
  cp "$work/fw/$script" "$work/fw/s.ld"
  fixed "$script (GNU ld)" "$work/fw" arm-none-eabi-gcc "${fwflags[@]}" -T s.ld \
    -Wl,-Map=fw.map -o fw.elf obj/app.o obj/modbus.o
  grep -q 'PF603\|PF405' "$work/out" || fail "$script: no PF603 or PF405"
  cp "$work/fw/$script" "$work/fw/s.ld"
  fixed "$script (LLD)" "$work/fw" ld.lld -T s.ld -Map=fw.map -o fw.elf obj/app.o obj/modbus.o
done

# CubeMX's layout as the part's own script has it, unadapted: the flash
# from 0x08000000 (1 MiB) and 128 KiB of RAM.
here=$source/examples/linker-scripts
# shellcheck source=../examples/linker-scripts/lib.sh
source "$here/lib.sh"
load_origin cubemx_f4
mkdir -p "$work/cubemx" && cp -r "$work/obj" "$work/cubemx/obj"
make_script "$work/cubemx/s.ld"
sed -i 's/ORIGIN = 0x08020000, LENGTH = 0x1FE00/ORIGIN = 0x8000000, LENGTH = 1024K/;
  s/\(RAM .*LENGTH = \)32K/\1128K/' "$work/cubemx/s.ld"
grep -q 'LENGTH = 1024K' "$work/cubemx/s.ld" && grep -q 'LENGTH = 128K' "$work/cubemx/s.ld" ||
  fail "the unadapted CubeMX script was not made"
fixed "CubeMX, unadapted" "$work/cubemx" "$cc" "${cflags[@]}" -T s.ld "${link_flags[@]}" \
  -Wl,-Map=fw.map -o fw.elf obj/app.o obj/modbus.o obj/startup.o

# A copy table that names the RAM code's section, which --fix merges into
# .data: the table's words are said by what moved.
load_origin ram_code
mkdir -p "$work/copy" && cp -r "$work/obj" "$work/copy/obj"
cp "$here/ram_code/copy_table.ld" "$work/copy/s.ld"
fixed "a copy table of RAM code" "$work/copy" "$cc" "${cflags[@]}" -T s.ld -Wl,-Map=fw.map \
  -o fw.elf obj/app.o obj/modbus.o obj/startup.o obj/ramfunc.o
grep -q "LONG(__ramfunc_moved_load)" "$work/copy/s.ld" || fail "the copy table's words were not said"
# Its last three words: where the RAM code is loaded, where it runs, and
# its size, as the linker placed it.
sym() { arm-none-eabi-nm "$work/copy/fw.elf" | awk -v n="$1" '$3 == n { print $1 }'; }
read -r _ data_vma data_lma < <(arm-none-eabi-objdump -h "$work/copy/fw.elf" |
  awk '$2 == ".data" { print $2, $4, $5 }')
start=$((0x$(sym __ramfunc_moved_start))) end=$((0x$(sym __ramfunc_moved_end)))
want=$(printf '%08x %08x %08x' $((0x$data_lma + start - 0x$data_vma)) "$start" $((end - start)))
arm-none-eabi-objcopy -O binary -j .text "$work/copy/fw.elf" "$work/copy/text.bin"
table=$((0x$(sym __copy_table_start__) - 0x$(arm-none-eabi-objdump -h "$work/copy/fw.elf" |
  awk '$2 == ".text" { print $4 }')))
got=$(od -An -tx4 -j $((table + 12)) -N 12 "$work/copy/text.bin" | xargs)
[ "$got" = "$want" ] || fail "a copy table of RAM code: its words are '$got', not '$want'"
[ $((end - start)) -gt 0 ] || fail "a copy table of RAM code: no RAM code in .data"

# A project of libopencm3's layout with its MEMORY in a file of its own on
# a -L folder.
load_origin libopencm3
project=$work/project
mkdir -p "$project/ld" && cp -r "$work/obj" "$project/obj"
make_script "$work/stock.ld"
sed -n '/^MEMORY/,/^}/p' "$work/stock.ld" >"$project/ld/memory.ld"
sed -e '1i INCLUDE memory.ld' -e '/^MEMORY/,/^}/d' "$work/stock.ld" >"$project/app.ld"
cp -r "$project" "$work/before"
link=("$cc" "${cflags[@]}" -Lld -T app.ld -Wl,--gc-sections -Wl,-Map=fw.map -o fw.elf
  obj/app.o obj/modbus.o obj/startup.o)
(cd "$project" && "$aelfdump" --fix app.ld -- "${link[@]}") >"$work/out" 2>&1 ||
  { cat "$work/out"; fail "--fix without --write"; }
diff -r "$work/before" "$project" >/dev/null || fail "--fix without --write changed the project"
grep -q '^+++ b/app.ld' "$work/out" || fail "no diff of app.ld"
grep -q 'nothing of yours was changed' "$work/out" || fail "no word that nothing was changed"
grep -q "^pakforge -m fw.map -f fw.elf" "$work/out" || fail "no pakforge command line"
(cd "$project" && "$aelfdump" --fix app.ld --write -- "${link[@]}") >"$work/out" 2>&1 ||
  { cat "$work/out"; fail "--fix --write"; }
grep -q '^wrote app.ld' "$work/out" || fail "app.ld not written"
cmp -s "$project/ld/memory.ld" "$work/before/ld/memory.ld" || fail "memory.ld changed"
(cd "$project" && "${link[@]}" -Wl,-n && head -c 72 /dev/zero >cfg.bin && : >res.bin &&
  "$pakforge" -m fw.map -f fw.elf -c cfg.bin -r res.bin -o fw.alf >/dev/null 2>&1) ||
  fail "pakforge refuses the link of the written script"
# Run again on the fixed script: nothing to change.
(cd "$project" && "$aelfdump" --fix app.ld -- "${link[@]}" -Wl,-n) >"$work/out" 2>&1 ||
  { cat "$work/out"; fail "--fix on a fixed script"; }
grep -q '^round 1: pakforge builds a correct image' "$work/out" || fail "a fixed script fixed again"
! grep -q '^+++' "$work/out" || fail "a fixed script changed again"

# The nRF5 SDK's own split: the project's script holds MEMORY and INCLUDEs
# the SDK's common part, which holds SECTIONS (.data AT its own symbol).
# --link --script advises on the split as on the whole, and --fix edits the
# included file into a correct image, with the end lines advised.
load_origin nrf5_sdk
split=$work/split
mkdir -p "$split" && cp -r "$work/obj" "$split/obj"
make_script "$work/nrf5.ld"
sed -n '/^MEMORY/,/^}/p' "$work/nrf5.ld" >"$split/app.ld"
echo 'INCLUDE nrf_common.ld' >>"$split/app.ld"
sed '/^MEMORY/,/^}/d' "$work/nrf5.ld" >"$split/nrf_common.ld"
split_link=("$cc" "${cflags[@]}" -T app.ld -Wl,--gc-sections -Wl,-Map=fw.map -o fw.elf
  obj/app.o obj/modbus.o obj/startup.o)
(cd "$split" && "${split_link[@]}" 2>/dev/null) || fail "the split nRF5 script does not link"
(cd "$split" && "$aelfdump" --link fw.map fw.elf --script app.ld >"$work/split.advice" 2>&1) || true
(cd "$split" && "$aelfdump" --link fw.map fw.elf --script "$work/nrf5.ld" >"$work/whole.advice" 2>&1) ||
  true
cmp -s "$work/split.advice" "$work/whole.advice" ||
  { diff "$work/whole.advice" "$work/split.advice"; fail "--link --script reads the split script otherwise"; }
(cd "$split" && "$aelfdump" --fix app.ld --write -- "${split_link[@]}") >"$work/out" 2>&1 ||
  { cat "$work/out"; fail "--fix on the split nRF5 script"; }
grep -q '^wrote nrf_common.ld' "$work/out" || fail "nrf_common.ld not written"
grep -q '__etext = ' "$split/nrf_common.ld" || fail "the end lines do not start from __etext"
advised=$(awk '/^  [0-9]+\. \[PF/ { code = substr($2, 2) }
  code ~ /^PF(107|201|204|603)$/ && /^            [._A-Za-z][^ ]* = .*;$/ { sub(/^ +/, ""); print }
' "$work/split.advice")
[ -n "$advised" ] || fail "no end lines advised for the split nRF5 script"
sed 's/^[[:space:]]*//; s/[[:space:]]*$//' "$split/nrf_common.ld" | grep -qvxF -f - <(echo "$advised") &&
  fail "the end lines advised for the split nRF5 script are not the ones --fix wrote"

# Bad input: STATUS WANT_MESSAGE SCRIPT COMMAND... from the untouched copy.
as_user=()
bad() {
  local want_status=$1 want=$2 script=$3 status=0
  shift 3
  rm -rf "$work/bad" && cp -rp "$work/before" "$work/bad"
  (cd "$work/bad" && "${as_user[@]}" "$aelfdump" --fix "$script" --write -- "$@") \
    >"$work/out" 2>&1 || status=$?
  [ "$status" -eq "$want_status" ] || { cat "$work/out"; fail "$want: status $status"; }
  grep -qF -- "$want" "$work/out" || { cat "$work/out"; fail "no '$want'"; }
  rm -f "$work/bad/fw.map" "$work/bad/fw.elf"
  diff -r "$work/before" "$work/bad" >/dev/null || fail "$want: the project changed"
}
bad 2 "names no linker script" app.ld "${link[@]/-T/-Ttext=0x08020000}"
bad 11 "the link command fails before any fix" app.ld "${link[@]/obj\/app.o/obj/none.o}"
sed -i 's/^INCLUDE memory.ld/INCLUDE memories.ld/' "$work/before/app.ld"
bad 1 "includes 'memories.ld', which is neither where it is named nor on the link command's -L" \
  app.ld "${link[@]}"
sed -i 's/^INCLUDE memories.ld/INCLUDE memory.ld/; s/^  \.text : {/  .text : { *(.text/' \
  "$work/before/app.ld"
bad 10 "app.ld:9:17: ';' before the ')' of the '(' at 6:14" app.ld "${link[@]}"
cp "$work/stock.ld" "$work/before/app.ld.S"
sed -i '1i #include "memory.h"' "$work/before/app.ld.S"
bad 10 "a source for the C preprocessor" app.ld.S "${link[@]}"
cp "$project/app.ld" "$work/before/app.ld"
cp "$work/stock.ld" "$work/before/app.ld"
sed -i -e '1i INCLUDE memory.ld' -e '/^MEMORY/,/^}/d' "$work/before/app.ld"
# A read-only script. Root may write it: the test runs as nobody then.
if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null; then
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  chmod 755 "$work" && chmod -R a+rX "$work/before"
fi
if [ "$(id -u)" -ne 0 ] || [ ${#as_user[@]} -gt 0 ]; then
  chmod a-w "$work/before/app.ld"
  bad 13 "can't write 'app.ld' (read-only): no file was changed" app.ld "${link[@]}"
fi
echo "aelfdump --fix: all origins as expected, INCLUDE and bad input"
