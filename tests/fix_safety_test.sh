#!/usr/bin/env bash
# aelfdump --fix --write in a team's build, with the real GNU ld behind a
# wrapper script (build.sh, whose name holds "ld" but no linker's word):
#   - an edit saved to the script while the link runs is kept: status 13,
#     the file named, nothing written;
#   - a read-only script stays as it is, for root too: status 13;
#   - a CRLF script stays CRLF on every line, its BOM kept;
#   - SIGTERM during the link ends the link's whole process group, removes
#     the private (0700) work folder, and ends aelfdump with 143;
#   - a link ended by a signal is named, the linker's warnings are shown,
#     and a failed relink is the last verdict, not round 1's refusal;
#   - a round with the findings of the round before is undone and its
#     findings take their next edits; with none left, the fix ends (12).
# Usage: fix_safety_test.sh AELFDUMP SOURCE_DIR
set -euo pipefail
aelfdump=$1
source=$(cd "$2" && pwd)
work=$(mktemp -d)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
command -v arm-none-eabi-gcc >/dev/null || { echo "no arm-none-eabi-gcc here: skipped"; exit 77; }

fwflags=(-mcpu=cortex-m4 -mthumb -Os -ffreestanding -nostdlib -ffunction-sections -fdata-sections
  -fno-unwind-tables -fno-asynchronous-unwind-tables)
mkdir -p "$work/fw/obj" "$work/tmp"
for file in app modbus; do
  arm-none-eabi-gcc "${fwflags[@]}" -I"$source/examples/firmware/src" -c \
    "$source/examples/firmware/src/$file.c" -o "$work/fw/obj/$file.o"
done
# The recipe with its flash 0x3000 off the application's start: one fix.
sed "s/ORIGIN = 0x08020000, LENGTH = 0x1FE00/ORIGIN = 0x08023000, LENGTH = 0x1CE00/;
  s/ALIGN(0x20000)/ALIGN(4)/" "$source/examples/firmware/link.ld" >"$work/team.ld"
cmp -s "$work/team.ld" "$source/examples/firmware/link.ld" && fail "the flash was not moved"

# The wrapper: MODE says what it does besides linking with gcc; its
# record goes to $work/record.
cat >"$work/fw/build.sh" <<'EOF'
#!/usr/bin/env bash
calls=$(cat "$RECORD/calls" 2>/dev/null || echo 0)
echo $((calls + 1)) >"$RECORD/calls"
case $MODE in
  edit) [ "$calls" -gt 0 ] || echo "/* saved by a team member */" >>s.ld ;;
  hang)
    for arg; do case $arg in *-s.ld) stat -c %a "$(dirname "$arg")" >"$RECORD/mode" ;; esac; done
    sleep 1000000 &
    echo "$$ $!" >"$RECORD/pids.tmp" && mv "$RECORD/pids.tmp" "$RECORD/pids"
    wait ;;
  kill) kill -KILL $$ ;;
  warn) echo "build.sh: warning: a word from the wrapper" >&2 ;;
  fail2) [ "$calls" -eq 0 ] || { echo "build.sh: refused" >&2; exit 1; } ;;
  stale) # links the team's script, whatever it is given: no edit tells
    args=()
    for arg; do case $arg in *-s.ld) args+=(s.ld) ;; *) args+=("$arg") ;; esac; done
    set -- "${args[@]}" ;;
esac
exec arm-none-eabi-gcc "$@"
EOF
chmod +x "$work/fw/build.sh"
link=(./build.sh "${fwflags[@]}" -T s.ld -Wl,-Map=fw.map -o fw.elf obj/app.o obj/modbus.o)

# fix MODE [ARGS...]: --fix --write of a fresh s.ld in mode MODE; its
# status in $status, its output in $work/out.
fix() {
  local mode=$1
  shift
  cp "$work/team.ld" "$work/fw/s.ld"
  rm -rf "$work/record" && mkdir "$work/record"
  status=0
  (cd "$work/fw" && MODE=$mode RECORD=$work/record TMPDIR=$work/tmp \
    "$aelfdump" --fix s.ld --write "$@" -- "${link[@]}") >"$work/out" 2>&1 || status=$?
}
expect() {  # CASE STATUS TEXT: the last fix's status and a line of its output
  [ "$status" -eq "$2" ] || { cat "$work/out"; fail "$1: status $status, not $2"; }
  grep -qF -- "$3" "$work/out" || { cat "$work/out"; fail "$1: no '$3'"; }
  [ -z "$(ls -A "$work/tmp")" ] || fail "$1: the work folder was left: $(ls "$work/tmp")"
}

# The wrapper is a driver by its options: the fix works as with gcc.
fix none
expect "a wrapper around gcc" 0 "wrote s.ld"
grep -q "0x08020000" "$work/fw/s.ld" || fail "a wrapper around gcc: the flash was not moved"

fix edit
expect "an edit saved during the link" 13 "'s.ld' changed while --fix ran: no file was changed"
{ cat "$work/team.ld" && echo "/* saved by a team member */"; } | cmp -s - "$work/fw/s.ld" ||
  fail "an edit saved during the link: the team's edit is not what s.ld holds"

cp "$work/team.ld" "$work/fw/s.ld"
chmod 0444 "$work/fw/s.ld"
status=0
(cd "$work/fw" && MODE=none RECORD=$work/record TMPDIR=$work/tmp \
  "$aelfdump" --fix s.ld --write -- "${link[@]}") >"$work/out" 2>&1 || status=$?
expect "a read-only script (as $(id -un))" 13 "can't write 's.ld' (read-only): no file was changed"
cmp -s "$work/fw/s.ld" "$work/team.ld" || fail "a read-only script was changed"
chmod 0644 "$work/fw/s.ld"

# CRLF, with a BOM: every line written keeps CR LF, and the BOM stays.
printf '\357\273\277' >"$work/crlf.ld"
sed 's/$/\r/' "$work/team.ld" >>"$work/crlf.ld"
cp "$work/team.ld" "$work/team.lf" && cp "$work/crlf.ld" "$work/team.ld"
fix none
expect "a CRLF script" 0 "wrote s.ld"
cp "$work/team.lf" "$work/team.ld"
lf=$(grep -c $'[^\r]$\|^$' "$work/fw/s.ld" || true)
[ "$lf" -eq 0 ] || fail "a CRLF script: $lf lines end in LF alone"
[ "$(head -c 3 "$work/fw/s.ld")" = $'\357\273\277' ] || fail "a CRLF script lost its BOM"
grep -q "0x08020000" "$work/fw/s.ld" || fail "a CRLF script: the flash was not moved"

# SIGTERM while the link hangs: aelfdump waits in the link; once the
# wrapper has said its pids, it is sent SIGTERM.
cp "$work/team.ld" "$work/fw/s.ld"
rm -rf "$work/record" && mkdir "$work/record"
(cd "$work/fw" && MODE=hang RECORD=$work/record TMPDIR=$work/tmp \
  exec "$aelfdump" --fix s.ld --write -- "${link[@]}") >"$work/out" 2>&1 &
fixer=$!
until [ -s "$work/record/pids" ]; do
  kill -0 "$fixer" 2>/dev/null || { cat "$work/out"; fail "SIGTERM: aelfdump ended before the link"; }
  sleep 0.05
done
kill -TERM "$fixer"
status=0
wait "$fixer" || status=$?
expect "SIGTERM during the link" 143 "stopped by SIGTERM"
[ "$(cat "$work/record/mode")" = 700 ] || fail "the work folder's mode is $(cat "$work/record/mode")"
gone() { [ ! -e "/proc/$1" ] || grep -q '^[0-9]* (.*) Z' "/proc/$1/stat" 2>/dev/null; }
for pid in $(cat "$work/record/pids"); do
  until gone "$pid"; do sleep 0.05; done  # ends, once killed
done
cmp -s "$work/fw/s.ld" "$work/team.ld" || fail "SIGTERM: the script was changed"

fix kill
expect "a link killed" 11 "round 1: the link was ended by SIGKILL:"
fix warn
expect "the linker's warnings" 0 "build.sh: warning: a word from the wrapper"
grep -q "^round 1: the linker warns:" "$work/out" || fail "the warnings are not said as such"
fix fail2
expect "a failed relink" 12 "round 2: the link fails (status 1):"
! grep -q "^not fixed: pakforge still refuses" "$work/out" ||
  fail "a failed relink: round 1's verdict quoted as the last"
cmp -s "$work/fw/s.ld" "$work/team.ld" || fail "a failed relink: the script was changed"
# Rounds that repeat themselves: a finding with no other edit (PF405) ends
# the fix at the first repeat, said.
fix stale
expect "a link that ignores the edits" 12 "round 2: the same findings as round 1: its edits changed nothing for them, and no finding has another edit"
! grep -q "^round 3" "$work/out" || fail "a repeating round ran again"
# The end lines have another edit: the round's edits are undone, and the
# range's end is said by the last flash section's load image. (Round 2
# differs from round 1: -n is on the command line from then on.)
sed '/^  _flash_end = \.;$/d; /^  \. = _sidata + _data_image_size;$/d' \
  "$source/examples/firmware/link.ld" >"$work/team.ld"
fix stale
expect "end lines that change nothing" 12 "round 3: the same findings as round 2: its edits changed nothing for them; undone, and the next edit made for PF204:"
grep -q "^+  _sidata = LOADADDR(.text) + SIZEOF(.text);$" "$work/out" ||
  { cat "$work/out"; fail "end lines that change nothing: no end from the load image"; }
[ "$(grep -c "^+  _sidata = " "$work/out")" -eq 1 ] ||
  { cat "$work/out"; fail "end lines that change nothing: the undone lines are still there"; }
[ "$(cat "$work/record/calls")" -eq 4 ] || fail "end lines that change nothing: $(cat "$work/record/calls") links, not 4"
echo "aelfdump --fix in a team's build: OK"
