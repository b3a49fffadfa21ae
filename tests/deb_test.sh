#!/usr/bin/env bash
# Makes the Debian package from a build folder and checks its metadata and
# contents; then installs it with dpkg into a scratch root of its own, runs
# pakforge and aelfdump from there on the consumer example's inputs, and
# removes it again. The system's own package database is never touched.
# Usage: deb_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
work=$(mktemp -d)
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$work" && cpack --config "$build/CPackConfig.cmake" -G DEB >/dev/null)
deb=$(ls "$work"/pakforge_*.deb)
info=$(dpkg-deb --info "$deb")
for field in "Package: pakforge" "Version: 1.0.2" "Section: devel" "Architecture: $(dpkg --print-architecture)"; do
  grep -q "^ $field\$" <<<"$info" || fail "no '$field' in the package's control file"
done
# The programs carry their runtime, stripped: nothing for the package to
# depend on.
dpkg-deb -x "$deb" "$work/tree"
for program in pakforge aelfdump; do
  LC_ALL=C readelf -d "$work/tree/usr/bin/$program" | grep -q "no dynamic section" ||
    fail "$program is not linked statically"
  ! LC_ALL=C readelf -S "$work/tree/usr/bin/$program" | grep -qE "\.symtab|\.debug_" ||
    fail "$program is not stripped"
done
contents=$(dpkg-deb --contents "$deb")
for file in ./usr/bin/pakforge ./usr/bin/aelfdump ./usr/share/man/man1/pakforge.1 \
  ./usr/share/man/man1/aelfdump.1 ./usr/lib/cmake/pakforge/pakforgeConfig.cmake ./usr/lib/cmake/pakforge/pakforgeRun.cmake \
  ./usr/share/pakforge/link.ld; do
  grep -q " $file\$" <<<"$contents" || fail "$file is not in the package"
done

# shellcheck source=tests/scratch_dpkg.sh
. "$(dirname "$0")/scratch_dpkg.sh"
trap 'rm -rf "$work"' EXIT
root=$work/root
scratch_dpkg "$root" -i "$deb" >/dev/null || fail "dpkg -i failed"
scratch_dpkg "$root" -s pakforge | grep -q "^Status: install ok installed" ||
  fail "dpkg does not say the package is installed"
[ "$(PATH="$root/usr/bin:$PATH" command -v pakforge)" = "$root/usr/bin/pakforge" ] ||
  fail "pakforge is not in the package's bin folder"
mkdir -p "$work/run/build"
cp "$source/examples/firmware/prebuilt/recipe/output.map" "$work/run/output.map"
cp "$source/examples/firmware/prebuilt/recipe/output.elf" "$work/run/output.elf"
cp "$source/examples/consumer/config.bin" "$work/run/output_CFG.bin"
cp "$source/examples/consumer/resources.bin" "$work/run/output_RES.bin"
(cd "$work/run/build" && "$root/usr/bin/pakforge" >/dev/null 2>&1) || fail "the installed pakforge failed"
"$root/usr/bin/aelfdump" --elf "$work/run/output.elf" "$work/run/prog.alf" >/dev/null ||
  fail "the installed aelfdump rejects the image"
man -M "$root/usr/share/man" -w pakforge >/dev/null 2>&1 || fail "man does not find pakforge(1)"
scratch_dpkg "$root" -r pakforge >/dev/null || fail "dpkg -r failed"
[ ! -e "$root/usr/bin/pakforge" ] && [ ! -e "$root/usr/share/man/man1/pakforge.1.gz" ] &&
  [ ! -e "$root/usr/share/man/man1/pakforge.1" ] || fail "files left behind after removal"
scratch_dpkg "$root" -s pakforge >/dev/null 2>&1 && fail "package still registered"
echo "Debian package: OK"
