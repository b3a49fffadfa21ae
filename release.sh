#!/usr/bin/env bash
# Writes the release packages into build/release/, with their checksums:
#   pakforge-VERSION-linux-x86_64.tar.gz   and the .deb, from the default build
#   pakforge-VERSION-linux-aarch64.tar.gz  cross-compiled for Linux on arm64
#   pakforge-VERSION-win64.zip             cross-compiled with MinGW-w64
#   SHA256SUMS                             sha256sum's lines for all four
# Each archive holds bin/ (both programs, stripped), the manual pages, the
# CMake package and the linker-script template. Builds what is not built
# yet in build/default, build/aarch64 and build/windows.
set -euo pipefail
cd "$(dirname "$0")"
out=$PWD/build/release
rm -rf "$out"
mkdir -p "$out"
package() {  # PRESET GENERATORS
  cmake --preset "$1" >/dev/null
  # The build's own output says why it failed; kept out of the way otherwise.
  if ! cmake --build --preset "$1" >"build/$1-release-build.log" 2>&1; then
    tail -n 30 "build/$1-release-build.log" >&2
    echo "release.sh: the $1 build failed" >&2
    return 1
  fi
  (cd "build/$1" && cpack -G "$2" -B "$out" >/dev/null)
}
package default "DEB;TGZ"
package aarch64 TGZ
WINEPREFIX="$PWD/build/windows/wine" package windows ZIP
rm -rf "$out/_CPack_Packages"
(cd "$out" && sha256sum pakforge* >SHA256SUMS)
ls "$out"
