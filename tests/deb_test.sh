#!/usr/bin/env bash
# Makes the Debian package from a build folder and checks its metadata and
# contents; as root, and where no pakforge package is installed already,
# also installs it with dpkg, runs pakforge from PATH on the consumer
# example's inputs, and removes it again. Exits 77 (skipped) when it can't
# install. Usage: deb_test.sh BUILD_DIR SOURCE_DIR
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
  ./usr/share/man/man1/aelfdump.1 ./usr/lib/cmake/pakforge/pakforgeConfig.cmake \
  ./usr/share/pakforge/link.ld; do
  grep -q " $file\$" <<<"$contents" || fail "$file is not in the package"
done

if [ "$(id -u)" -ne 0 ] || dpkg -s pakforge >/dev/null 2>&1; then
  echo "metadata and contents OK; not installing (not root, or pakforge already installed)"
  rm -rf "$work"
  exit 77
fi
trap 'dpkg -r pakforge >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
dpkg -i "$deb" >/dev/null || fail "dpkg -i failed"
[ "$(command -v pakforge)" = /usr/bin/pakforge ] || fail "pakforge is not on PATH"
mkdir -p "$work/run/build"
cp "$source/examples/firmware/prebuilt/recipe/output.map" "$work/run/output.map"
cp "$source/examples/firmware/prebuilt/recipe/output.elf" "$work/run/output.elf"
cp "$source/examples/consumer/config.bin" "$work/run/output_CFG.bin"
cp "$source/examples/consumer/resources.bin" "$work/run/output_RES.bin"
(cd "$work/run/build" && pakforge >/dev/null 2>&1) || fail "pakforge from PATH failed"
aelfdump --elf "$work/run/output.elf" "$work/run/prog.alf" >/dev/null ||
  fail "aelfdump from PATH rejects the image"
man -w pakforge >/dev/null 2>&1 || fail "man does not find pakforge(1)"
dpkg -r pakforge >/dev/null || fail "dpkg -r failed"
[ ! -e /usr/bin/pakforge ] && [ ! -e /usr/share/man/man1/pakforge.1.gz ] && [ ! -e /usr/share/man/man1/pakforge.1 ] ||
  fail "files left behind after removal"
dpkg -s pakforge >/dev/null 2>&1 && fail "package still registered"
echo "Debian package: OK"
