#!/usr/bin/env bash
# Installs pakforge from a build folder into a private prefix, checks the
# manual pages render, then builds the consumer example against it: its
# image must appear, be made again when an input changes, and a broken map
# must fail the consumer's build.
# Usage: consumer_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$work/prefix" >/dev/null
for page in pakforge aelfdump; do
  file="$work/prefix/share/man/man1/$page.1"
  [ -f "$file" ] || fail "no manual page $page(1)"
  warnings=$(MANWIDTH=80 man --warnings -l "$file" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$page(1) renders with warnings: $warnings"
  MANWIDTH=80 man -l "$file" 2>/dev/null | grep -q "EXIT STATUS" || fail "$page(1) does not render"
done

cp -r "$source/examples/consumer" "$work/consumer"
cmake -S "$work/consumer" -B "$work/build" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/build" >"$work/log" 2>&1 || { cat "$work/log"; fail "consumer build failed"; }
image="$work/build/blinky.alf"
[ -f "$image" ] || fail "no image"
[ "$(head -c 4 "$image")" = AELF ] || fail "image does not start with AELF"
size=$(stat -c %s "$image")
[ "$size" -eq $((76 + 0x200 + 1024)) ] || fail "image is $size bytes"

# Nothing to do on a second build; a changed input makes the image again.
cmake --build "$work/build" -- -n | grep -q "no work to do" || fail "second build was not empty"
touch -d '1 minute ago' "$image"
printf 'more' >>"$work/consumer/resources.bin"
cmake --build "$work/build" >/dev/null
size=$(stat -c %s "$image")
[ "$size" -eq $((76 + 0x200 + 1028)) ] || fail "image not made again after resources changed"

# A map without the loop symbol fails the consumer's build.
cmake -S "$work/consumer" -B "$work/broken" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" \
  -DBLINKY_MAP="$work/consumer/broken.map" >/dev/null
if cmake --build "$work/broken" >"$work/log" 2>&1; then
  fail "a broken map did not fail the build"
fi
grep -q "func loop not found" "$work/log" || { cat "$work/log"; fail "no message for the broken map"; }
[ ! -e "$work/broken/blinky.alf" ] || fail "an image was written from a broken map"
echo "consumer example: OK"
