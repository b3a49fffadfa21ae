#!/usr/bin/env bash
# What a build leaves at the image path when it is killed, interrupted or
# can't write: the previous image byte for byte, or the complete new one,
# never anything else; and what aelfdump does short of memory.
# Usage: replace_image_test.sh PAKFORGE AELFDUMP DEMO_MAP
set -euo pipefail
pakforge=$(realpath "$1")
aelfdump=$(realpath "$2")
map=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# The example firmware's inputs, with resources large enough that writing
# the image takes a while.
mkdir "$work/run"
cp "$map" "$work/output.map"
head -c 72 /dev/zero >"$work/output_CFG.bin"
head -c $((0x25000)) /dev/urandom >"$work/output.elf"
head -c 1000 /dev/urandom >"$work/small.bin"
head -c $((96 << 20)) /dev/urandom >"$work/output_RES.bin"
build() { (cd "$work/run" && "$pakforge" "$@" >/dev/null 2>&1); }

build -r ../small.bin -o ../old.alf || fail "the small build failed"
# Far over the flash's size: written in full all the same, with status 250.
status=0
build -o ../new.alf || status=$?
[ "$status" -eq 250 ] || fail "the large build gave status $status"
strays() { find "$work" -maxdepth 1 -name '.prog.alf.tmp-*' | wc -l; }
check() {
  cmp -s "$work/prog.alf" "$work/old.alf" || cmp -s "$work/prog.alf" "$work/new.alf" ||
    fail "$1: the image path holds neither the old nor the new image"
}

# Stops process PID and waits until it is stopped; false when it has ended.
stop() {
  kill -STOP "$1" 2>/dev/null || return 1
  local state
  while state=$(awk '{ print $3 }' "/proc/$1/stat" 2>/dev/null) && [ "$state" != T ]; do
    [ "$state" = Z ] && return 1
  done
  [ "$state" = T ]
}

# Starts a build over the old image and sends it SIGNAL once its temporary
# file holds EIGHTHS/8 of the new image (at once when 0). Sets `landed` when
# the signal came while the image was being written, and `status`. The
# build is stopped first and the signal sent only while its temporary file
# is still there, so that the signal lands before the image is renamed into
# place however loaded the machine is; it is delivered when the build goes
# on.
new_size=$(stat -c %s "$work/new.alf")
shopt -s nullglob
signal_during_write() {
  local signal=$1 eighths=$2 pid temporary
  cp "$work/old.alf" "$work/prog.alf"
  # A background job of a script ignores SIGINT; this one must not.
  (trap - INT && cd "$work/run" && exec "$pakforge" >/dev/null 2>&1) &
  pid=$!
  landed=0
  while kill -0 "$pid" 2>/dev/null; do
    temporary=("$work"/.prog.alf.tmp-*)
    if [ ${#temporary[@]} -gt 0 ] &&
      [ "$(stat -c %s "${temporary[0]}" 2>/dev/null || echo 0)" -ge $((new_size * eighths / 8)) ]; then
      if stop "$pid"; then
        temporary=("$work"/.prog.alf.tmp-*)
        if [ ${#temporary[@]} -gt 0 ] && kill -"$signal" "$pid" 2>/dev/null; then
          landed=1
        fi
      fi
      kill -CONT "$pid" 2>/dev/null || true
      break
    fi
  done
  status=0
  wait "$pid" 2>/dev/null || status=$?
  check "SIG$signal at $eighths/8"
}

# SIGKILL at eight points of the write: afterwards the path holds the old
# image or the new one, and at most one temporary file, named for what it
# is, remains.
killed_mid_write=0
for eighths in 0 1 2 3 4 5 6 7; do
  signal_during_write KILL "$eighths"
  temporary=("$work"/.prog.alf.tmp-*)
  [ ${#temporary[@]} -le 1 ] || fail "SIGKILL at $eighths/8 left ${#temporary[@]} temporary files"
  if [ ${#temporary[@]} -eq 1 ]; then
    killed_mid_write=$((killed_mid_write + 1))
    rm -f "${temporary[0]}"
  fi
done
echo "SIGKILL: $killed_mid_write of 8 kills landed while the image was being written"
[ "$killed_mid_write" -gt 0 ] || fail "no kill landed during the write: nothing was tested"

# Every signal that ends the process removes the temporary file first:
# Ctrl-C, a request to terminate, and those a build meets without asking
# (a CPU time limit, an alarm, the user signals, a pipe closed by its reader).
for signal in TERM INT HUP XCPU ALRM USR1 USR2 PIPE; do
  for eighths in 2 5; do
    signal_during_write "$signal" "$eighths"
    [ "$(strays)" -eq 0 ] || fail "SIG$signal at $eighths/8 left a temporary file"
    if [ "$landed" -eq 1 ]; then
      # Ended by the signal itself, as it would have without pakforge's
      # clean-up, and the previous image is still there.
      [ "$status" -eq $((128 + $(kill -l "$signal"))) ] ||
        fail "SIG$signal at $eighths/8 ended pakforge with status $status"
      cmp -s "$work/prog.alf" "$work/old.alf" || fail "SIG$signal replaced the image"
    fi
  done
done

# A disk that fills up during the write (a file size limit here): -5, the
# previous image untouched, no temporary file.
cp "$work/old.alf" "$work/prog.alf"
status=0
(trap '' XFSZ; ulimit -f 10240; cd "$work/run" && exec "$pakforge") >"$work/out" 2>&1 || status=$?
[ "$status" -eq 251 ] || fail "a full disk gave status $status"
grep -q "Can't write output file './../prog.alf'" "$work/out" || fail "no message for a full disk"
cmp -s "$work/prog.alf" "$work/old.alf" || fail "a full disk changed the previous image"
[ "$(strays)" -eq 0 ] || fail "a full disk left a temporary file"

# The same limit, not ignored: the signal it sends ends pakforge, as it
# would any program, and the temporary file goes first.
cp "$work/old.alf" "$work/prog.alf"
status=0
(ulimit -f 10240; cd "$work/run" && exec "$pakforge") >"$work/out" 2>&1 || status=$?
[ "$status" -eq $((128 + $(kill -l XFSZ))) ] || fail "a file size limit gave status $status"
cmp -s "$work/prog.alf" "$work/old.alf" || fail "a file size limit changed the previous image"
[ "$(strays)" -eq 0 ] || fail "a file size limit left a temporary file"

# A pipe at the output path, however it is named, is written directly.
expected=$work/small.alf
build -r ../small.bin -o ../small.alf
(cd "$work/run" && "$pakforge" -r ../small.bin -o /dev/stdout 2>/dev/null | tail -c +17 |
  head -c "$(stat -c %s "$expected")" >"$work/stdout.alf") || fail "-o /dev/stdout into a pipe failed"
cmp -s "$work/stdout.alf" "$expected" || fail "-o /dev/stdout into a pipe wrote something else"
(cd "$work/run" && "$pakforge" -r ../small.bin -o /dev/fd/3 3>&1 >/dev/null 2>&1 | cat >"$work/fd.alf") ||
  fail "-o /dev/fd/3 into a pipe failed"
cmp -s "$work/fd.alf" "$expected" || fail "-o /dev/fd/3 into a pipe wrote something else"
# The substituted command finishes after pakforge: it is waited for.
(cd "$work/run" && "$pakforge" -r ../small.bin -o >(cat >"$work/substituted.alf") >/dev/null 2>&1 &&
  wait $!) || fail "-o >(cmd) failed"
cmp -s "$work/substituted.alf" "$expected" || fail "-o >(cmd) wrote something else"

# Run as root, a replaced image keeps its owner and group; run as a user,
# a read-only image is refused and stays as it was.
if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null; then
  cp "$work/old.alf" "$work/prog.alf"
  chown 65534:65534 "$work/prog.alf"
  build -r ../small.bin || fail "root could not replace a user's image"
  [ "$(stat -c %u:%g "$work/prog.alf")" = 65534:65534 ] || fail "the image changed its owner"
  cp "$work/old.alf" "$work/prog.alf"
  chmod 0444 "$work/prog.alf"
  chmod a+rwx "$work" "$work/run"
  status=0
  (cd "$work/run" && setpriv --reuid=65534 --regid=65534 --clear-groups "$pakforge" \
    -r ../small.bin >"$work/out" 2>&1) || status=$?
  [ "$status" -eq 251 ] || fail "a user replacing a read-only image gave status $status"
  grep -q "Can't create output file './../prog.alf'" "$work/out" || fail "no message for a read-only image"
  cmp -s "$work/prog.alf" "$work/old.alf" || fail "a user replaced a read-only image"
  chmod 0644 "$work/prog.alf"
fi

# aelfdump --elf on an image whose code it can't allocate: it says so.
if (ulimit -v 400000 && "$aelfdump" --version) >/dev/null 2>&1; then
  head -c 76 "$work/old.alf" >"$work/huge.alf"
  printf '\0\0\0\x40' | dd of="$work/huge.alf" bs=1 seek=$((4 + 32)) conv=notrunc 2>/dev/null
  printf '\0\0\0\0' | dd of="$work/huge.alf" bs=1 seek=$((4 + 44)) conv=notrunc 2>/dev/null
  truncate -s $((76 + 0x40000000)) "$work/huge.alf"
  status=0
  (ulimit -v 400000 && exec "$aelfdump" --elf "$work/output.elf" "$work/huge.alf") >/dev/null \
    2>"$work/out" || status=$?
  [ "$status" -eq 7 ] || fail "aelfdump without the memory for the code gave status $status"
  grep -q "can't allocate 1073741824 bytes" "$work/out" || fail "aelfdump did not say it can't allocate"
else
  echo "aelfdump does not start under ulimit -v here (a sanitizer's reserve): allocation case skipped"
fi

# A read-only folder: the image can't be created there; the old one stays.
if [ "$(id -u)" -ne 0 ]; then
  chmod a-w "$work"
  status=0
  build -r ../small.bin || status=$?
  chmod u+w "$work"
  [ "$status" -eq 251 ] || fail "a read-only folder gave status $status"
  cmp -s "$work/prog.alf" "$work/old.alf" || fail "a read-only folder changed the image"
fi
echo "image replacement: OK"
