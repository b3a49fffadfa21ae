#!/usr/bin/env bash
# On Windows, pakforge's hint line names an aelfdump command that pastes as
# it is into a batch file: paths in double quotes, which cmd.exe reads back,
# here with a space and backslashes in them. Run under wine.
# Usage: windows_hint_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
recipe=$(cd "$2" && pwd)/examples/firmware/prebuilt/recipe
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
export WINEDEBUG=-all

mkdir -p "$work/my build/run"
# A map without loop's line: the symbol scan refuses it, and the hint line
# follows.
sed 's/ loop$/ lo0p/' "$recipe/output.map" >"$work/my build/app.map"
cp "$recipe/output.elf" "$work/my build/app.elf"
head -c 72 /dev/zero >"$work/my build/config.bin"
: >"$work/my build/resources.bin"
status=0
(cd "$work" && wine "$build/pakforge.exe" -m 'my build\app.map' -f 'my build\app.elf' \
  -c 'my build\config.bin' -r 'my build\resources.bin' -o 'my build\app.alf' >"$work/out" 2>&1) ||
  status=$?
[ "$status" -eq 254 ] || fail "pakforge gave status $status, not 254: $(cat "$work/out")"
command=$(sed -n 's/.*; \(aelfdump --link .*\) lists all that stands.*/\1/p' "$work/out" | tr -d '\r')
[ "$command" = 'aelfdump --link "my build\app.map" "my build\app.elf"' ] ||
  fail "the hint names: $command"

# The command as a user pastes it into a batch file.
printf 'set PATH=%s;%%PATH%%\r\n%s\r\n' "$(winepath -w "$build")" "$command" >"$work/hint.bat"
status=0
(cd "$work" && wine cmd /c hint.bat >"$work/hint.log" 2>&1) || status=$?
grep -q "can't open" "$work/hint.log" && fail "aelfdump could not open a path: $(cat "$work/hint.log")"
[ "$status" -eq 8 ] || fail "the pasted command gave status $status, not 8: $(cat "$work/hint.log")"
grep -q "^verdict  *pakforge refuses this link" "$work/hint.log" ||
  fail "no verdict from the pasted command: $(cat "$work/hint.log")"
echo "Windows hint line: OK"
