#!/usr/bin/env bash
# The release packages that release.sh wrote into build/release/: the
# checksums in SHA256SUMS match; each archive unpacks into a folder of its
# own with both programs (stripped), the manual pages, the CMake package and
# the template; and each archive's pakforge packages the example firmware
# into the same image bytes as the native build: the x86-64 one here, the
# arm64 one under qemu-aarch64, the Windows one under wine.
# Usage: release_test.sh SOURCE_DIR
set -euo pipefail
source=$(cd "$1" && pwd)
release=$source/build/release
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
version=$(sed -n 's/^project(pakforge VERSION \([0-9.]*\).*/\1/p' "$source/CMakeLists.txt")

(cd "$release" && sha256sum --quiet -c SHA256SUMS) || fail "a checksum in SHA256SUMS does not match"
for file in "pakforge-$version-linux-x86_64.tar.gz" "pakforge-$version-linux-aarch64.tar.gz" \
  "pakforge-$version-win64.zip" "pakforge_${version}_amd64.deb"; do
  grep -q "  $file\$" "$release/SHA256SUMS" || fail "no checksum for $file"
done

# The example firmware's inputs, and the native build's image of them.
mkdir -p "$work/in/run"
cp "$source/examples/firmware/prebuilt/recipe/output.map" \
  "$source/examples/firmware/prebuilt/recipe/output.elf" "$work/in/"
# Fixed bytes: a template whose Modbus table words (offsets 40 and 60) are
# equal, so that the image fits the flash whatever else it carries.
printf 'configuration words %.0s' {1..4} | head -c 72 >"$work/in/output_CFG.bin"
printf 'resources %.0s' {1..100} >"$work/in/output_RES.bin"
package() {  # NAME COMMAND...: runs a packaged pakforge on the inputs
  local name=$1
  shift
  (cd "$work/in/run" && "$@" -o "../$name.alf" >"$work/$name.log" 2>&1) ||
    fail "the $name package's pakforge failed: $(tr -d '\033' <"$work/$name.log")"
}
package native "$source/build/default/pakforge"

for arch in x86_64 aarch64; do
  folder=$work/pakforge-$version-linux-$arch
  tar xzf "$release/pakforge-$version-linux-$arch.tar.gz" -C "$work"
  for file in bin/pakforge bin/aelfdump share/man/man1/pakforge.1 share/man/man1/aelfdump.1 \
    share/pakforge/link.ld lib/cmake/pakforge/pakforgeConfig.cmake lib/cmake/pakforge/pakforgeRun.cmake; do
    [ -f "$folder/$file" ] || fail "the $arch archive has no $file"
  done
  ! readelf -S "$folder/bin/pakforge" | grep -q '\.debug_' || fail "the $arch pakforge is not stripped"
done
package x86_64 "$work/pakforge-$version-linux-x86_64/bin/pakforge"
if command -v qemu-aarch64 >/dev/null; then
  package aarch64 qemu-aarch64 "$work/pakforge-$version-linux-aarch64/bin/pakforge"
else
  echo "no qemu-aarch64 here (apt-get install qemu-user): the arm64 package is not run"
fi
if command -v wine >/dev/null && command -v unzip >/dev/null; then
  unzip -q "$release/pakforge-$version-win64.zip" -d "$work"
  WINEPREFIX="$source/build/windows/wine" WINEDEBUG=-all \
    package win64 wine "$work/pakforge-$version-win64/bin/pakforge.exe"
fi
for image in "$work"/in/*.alf; do
  cmp -s "$image" "$work/in/native.alf" || fail "$(basename "$image") differs from the native image"
done
echo "release packages: $(ls "$work"/in/*.alf | wc -l) images alike, checksums OK"
