# shellcheck shell=bash
# Sourced by the tests that install the Debian package. scratch_dpkg ROOT
# ARGS... runs dpkg with ARGS on a package database of its own under ROOT,
# made on first use: the package is unpacked, configured and removed there,
# with the checks that dpkg makes on the system, and nothing outside ROOT
# changes. It needs no root.
scratch_dpkg() {
  local root=$1
  shift
  mkdir -p "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/info"
  [ -e "$root/var/lib/dpkg/status" ] || : >"$root/var/lib/dpkg/status"
  HOME="$root" dpkg --root="$root" --force-not-root --log=/dev/null "$@"
}
