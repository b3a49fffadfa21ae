#!/usr/bin/env bash
# Runs the command blocks of the README and of the manual in doc/ as a
# reader would type them, so that neither can drift from what works. A block to run follows a line
#   <!-- README test: NAME -->
# and one that can't run here says why ("not run: REASON"); an excerpt of a
# file ("excerpt of PATH") must match that file's lines in order. Blocks run
# in scratch folders: a copy of the source tree for the set-up, install,
# CMake and package blocks, a small firmware project for the Makefile and
# the shell script; /usr/local and /opt/pakforge stand for a scratch prefix,
# and the .deb block's dpkg installs into a scratch root with a package
# database of its own: the system is never changed.
# Usage: readme_test.sh SOURCE_DIR BUILD_DIR          (Linux blocks)
#        readme_test.sh SOURCE_DIR BUILD_DIR --batch   (the batch file, under wine)
set -euo pipefail
source=$(cd "$1" && pwd)
build=$(cd "$2" && pwd)
mode=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# shellcheck source=tests/scratch_dpkg.sh
. "$source/tests/scratch_dpkg.sh"
export -f scratch_dpkg
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
# The README and the manual's pages: a block lives in one of them.
docs=("$source/README.md" "$source"/doc/*.md)

# block NAME: the block marked NAME, without its indentation.
block() {
  awk -v mark="<!-- README test: $1 -->" '
    $0 == mark { found = 1; next }
    found && /^    / { print substr($0, 5); started = 1; next }
    found && /^$/ && !started { next }
    found && /^$/ && started { blank = blank "\n"; next }
    found && started { exit }
  ' "${docs[@]}"
}
# run NAME FOLDER: runs the block with bash -e in FOLDER, its output in
# $work/NAME.log; false when it fails.
run() {
  local name=$1 folder=$2 text
  text=$(block "$name" | sed "s|/usr/local|$work/prefix|g; s|/opt/pakforge|$work/prefix|g
    s|\$(command -v sudo) dpkg |scratch_dpkg $work/debroot |g")
  [ -n "$text" ] || { fail "no block marked '$name'"; return 1; }
  (cd "$folder" && bash -e -c "$text") >"$work/$name.log" 2>&1 || {
    fail "the '$name' block failed:"; sed 's/^/    /' "$work/$name.log" | tail -n 20 >&2; return 1; }
}

# Every mark names a block this test knows, or says why it is not run.
known=" set-up install deb prefix consumer makefile script template batch cubeide qemu lld-driver "
while IFS= read -r mark; do
  case $mark in
    "not run: "?*) ;;
    "excerpt of "*) ;;
    *) [[ "$known" == *" $mark "* ]] || fail "unknown README test mark '$mark'" ;;
  esac
done < <(sed -n 's/^<!-- README test: \(.*\) -->$/\1/p' "${docs[@]}")

# The firmware the Makefile, script and batch blocks build from.
firmware_project() {
  mkdir -p "$1/src"
  cp "$source"/examples/firmware/src/{app.c,modbus.c,modbus.h} "$1/src/"
  cp "$source/examples/firmware/link.ld" "$1/"
  run template "$1"
}

if [ "$mode" = --batch ]; then
  mkdir -p "$work/win/build"
  firmware_project "$work/win" || exit 1
  cp "$source"/examples/firmware/prebuilt/recipe/output.map "$work/win/build/app.map"
  cp "$source"/examples/firmware/prebuilt/recipe/output.elf "$work/win/build/app.elf"
  cp "$build/pakforge.exe" "$work/win/"
  block batch | sed 's/$/\r/' >"$work/win/run.bat"
  status=0
  (cd "$work/win" && WINEDEBUG=-all wine cmd /c run.bat) >"$work/batch.log" 2>&1 || status=$?
  [ "$status" -eq 0 ] && [ -s "$work/win/app.alf" ] || fail "the batch file gave status $status"
  rm "$work/win/build/app.map"
  status=0
  (cd "$work/win" && WINEDEBUG=-all wine cmd /c run.bat) >"$work/batch.log" 2>&1 || status=$?
  [ "$status" -eq 246 ] || fail "the batch file without a map gave status $status, not 246"
  [ "$failures" -eq 0 ] || exit 1
  echo "README batch file: OK"
  exit 0
fi

if ! command -v arm-none-eabi-gcc >/dev/null; then
  echo "no arm-none-eabi-gcc here: the README's firmware blocks can't run"
  exit 77
fi
cflags="-mcpu=cortex-m4 -mthumb -Os -ffreestanding -ffunction-sections -fdata-sections"
export PATH="$build:$PATH"

# The link.ld excerpt: its lines, in order, in the file.
strip_ld() { sed 's|/\*.*\*/||g; s/[[:space:]]\+/ /g; s/^ //; s/ $//' | grep -v '^\.\.\.$' | grep -v '^$'; }
block "excerpt of examples/firmware/link.ld" | strip_ld >"$work/excerpt"
strip_ld <"$source/examples/firmware/link.ld" >"$work/linkld"
line_no=0
while IFS= read -r line; do
  found=$(awk -v from="$line_no" -v want="$line" 'NR > from && $0 == want { print NR; exit }' "$work/linkld")
  if [ -z "$found" ]; then
    fail "the link.ld excerpt's line '$line' is not in the file, in that order"
    break
  fi
  line_no=$found
done <"$work/excerpt"

# The header template.
mkdir "$work/template"
if run template "$work/template"; then
  [ "$(stat -c %s "$work/template/app_CFG.bin")" -eq 72 ] || fail "the template is not 72 bytes"
  [ "$(od -An -tx4 -j 40 -N 4 "$work/template/app_CFG.bin" | tr -d ' ')" = 00001000 ] ||
    fail "the template's modbusTableEnd is not 0x1000"
fi

# The Makefile, with make -j2, twice; then an image too large for the flash.
firmware_project "$work/make"
{
  echo "CC = $work/cc"
  echo "CFLAGS = $cflags"
  echo "OBJS = src/app.o src/modbus.o"
  block makefile
} >"$work/make/Makefile"
# A compiler that counts the links.
printf '#!/bin/sh\ncase " $* " in *" -T "*) echo link >>"%s/links";; esac\nexec arm-none-eabi-gcc "$@"\n' \
  "$work" >"$work/cc"
chmod +x "$work/cc"
if (cd "$work/make" && make -j2 && make -j2) >"$work/make.log" 2>&1; then
  [ -s "$work/make/app.alf" ] || fail "the Makefile wrote no image"
  [ "$(wc -l <"$work/links")" -eq 1 ] || fail "the Makefile linked $(wc -l <"$work/links") times"
  (cd "$work/make" && make -q) || fail "a second make left work to do"
  head -c 200000 /dev/zero >"$work/make/app_RES.bin"
  for round in 1 2; do
    if (cd "$work/make" && make -j2) >"$work/make.log" 2>&1; then
      fail "make $round took an image that does not fit the flash"
    fi
    [ ! -e "$work/make/app.alf" ] || fail "make $round kept an image that does not fit the flash"
  done
else
  fail "the Makefile failed:"
  tail -n 20 "$work/make.log" >&2
fi

# The shell script.
firmware_project "$work/script"
block script >"$work/script/build.sh"
if (cd "$work/script" && CFLAGS="$cflags" sh build.sh) >"$work/script.log" 2>&1; then
  [ -s "$work/script/build/app.alf" ] || fail "the shell script wrote no image"
else
  fail "the shell script failed:"
  tail -n 20 "$work/script.log" >&2
fi

# LLD through the GCC driver, with -B.
if command -v ld.lld >/dev/null; then
  firmware_project "$work/lld"
  if (cd "$work/lld" && CFLAGS="$cflags" bash -e -c "$(block lld-driver)") >"$work/lld.log" 2>&1; then
    [ -s "$work/lld/app.alf" ] || fail "the LLD block wrote no image"
    grep -q "LLD" "$work/lld/app.elf" || fail "the LLD block's ELF file was not linked by LLD"
  else
    fail "the LLD block failed:"
    tail -n 20 "$work/lld.log" >&2
  fi
else
  echo "the LLD block is not run: no ld.lld here"
fi

# The set-up, install and CMake blocks, in a copy of the source tree.
mkdir "$work/repo"
(cd "$source" && git ls-files -z 2>/dev/null | xargs -0 -r cp --parents -t "$work/repo") ||
  (cd "$source" && tar --exclude=./build --exclude=./.git -cf - . | tar -xf - -C "$work/repo")
if run set-up "$work/repo"; then
  [ -s "$work/repo/build/default/demo/prog.alf" ] || fail "the set-up wrote no example image"
  # The QEMU command, from the project's folder, says what its comment says.
  if command -v qemu-system-arm >/dev/null; then
    if run qemu "$work/repo"; then
      said=$(block qemu | sed -n 's/^# //p')
      grep -qF "$said" "$work/qemu.log" || fail "the QEMU block did not say '$said': $(cat "$work/qemu.log")"
    fi
  else
    echo "the QEMU block is not run: no qemu-system-arm here"
  fi
  if run install "$work/repo"; then
    [ -x "$work/prefix/bin/pakforge" ] || fail "the install put no pakforge in bin/"
    [ -f "$work/prefix/share/pakforge/link.ld" ] || fail "the install put no link.ld template"
    if run consumer "$work/repo"; then
      [ -s "$work/repo/build/firmware/blinky.alf" ] || fail "the consumer build wrote no image"
    fi
    cp -r "$work/repo/examples/consumer" "$work/repo/examples/prefix"
    sed -i 's|\${CMAKE_CURRENT_SOURCE_DIR}/../firmware|${CMAKE_CURRENT_SOURCE_DIR}/../firmware|' \
      "$work/repo/examples/prefix/CMakeLists.txt"
    if run prefix "$work/repo/examples/prefix"; then
      (cd "$work/repo/examples/prefix" && cmake --build build) >"$work/prefix-build.log" 2>&1 ||
        fail "the firmware configured with -Dpakforge_DIR does not build"
    fi
  fi
  if run deb "$work/repo"; then
    [ -x "$work/debroot/usr/bin/pakforge" ] && [ -x "$work/debroot/usr/bin/aelfdump" ] ||
      fail "the .deb installed no pakforge in /usr/bin"
    scratch_dpkg "$work/debroot" -r pakforge >/dev/null || fail "dpkg -r pakforge failed"
  fi
fi
[ "$failures" -eq 0 ] || exit 1
echo "README blocks: OK"
