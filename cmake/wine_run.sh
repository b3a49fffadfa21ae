#!/usr/bin/env bash
# Runs a Windows program of the build's tests under wine, as the toolchain
# file's emulator. Wine 8 now and then loses its client's connection to the
# wineserver while another wine process starts beside it ("wine client
# error:0: recvmsg: Connection reset by peer"); the program never started
# then, so it runs once more. Any other output and status are the
# program's own; its standard error comes after it has ended.
set -u
log=$(mktemp) || exit 1
trap 'rm -f "$log"' EXIT
for attempt in 1 2; do
  status=0
  wine "$@" 2>"$log" || status=$?
  if [ "$attempt" -eq 1 ] && [ "$status" -ne 0 ] && grep -q '^wine client error' "$log"; then
    continue
  fi
  cat "$log" >&2
  exit "$status"
done
