#!/usr/bin/env bash
# The manual's STM32CubeIDE post-build command, its variables put in as
# CubeIDE does, run from a Debug/ folder laid out as CubeIDE lays it out
# (the ELF file and the map of a CubeMX-style C++ link, the header template
# and the resources in the project's pakforge/ folder): the image is
# written, and its code is objcopy's bytes; a missing template fails the
# step and removes the previous image, and the next build fails again.
# Usage: cubeide_test.sh PAKFORGE SOURCE_DIR
set -euo pipefail
pakforge=$(realpath "$1")
source=$(cd "$2" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

command=$(awk '$0 == "<!-- README test: cubeide -->" { found = 1; next }
  found && /^    / { print substr($0, 5); exit }' "$source/README.md" "$source"/doc/*.md)
[ -n "$command" ] || fail "no command marked 'cubeide' in the README or doc/"

project="$work/workspace/My Project"
mkdir -p "$project/Debug" "$project/pakforge" "$work/bin"
link=$source/examples/template/prebuilt/gnu
cp "$link/output.elf" "$project/Debug/My Project.elf"
cp "$link/output.map" "$project/Debug/My Project.map"
head -c 72 /dev/zero >"$project/pakforge/config.bin"
printf 'resources' >"$project/pakforge/resources.bin"
ln -s "$pakforge" "$work/bin/pakforge"

# CubeIDE puts the variables in, as text, and hands the line to the shell.
line=${command//'${BuildArtifactFileBaseName}'/My Project}
line=${line//'${BuildArtifactFileName}'/My Project.elf}
line=${line//'${ProjDirPath}'/$project}
status=0
(cd "$project/Debug" && PATH="$work/bin:$PATH" sh -c "$line" >"$work/out" 2>&1) || status=$?
[ "$status" -eq 0 ] || fail "the post-build step gave status $status: $(cat "$work/out")"
image="$project/Debug/My Project.alf"
[ -s "$image" ] || fail "no image in Debug/"
size=$(stat -c %s "$link/output.bin")
tail -c +77 "$image" | head -c "$size" | cmp -s - "$link/output.bin" ||
  fail "the image's code is not objcopy's bytes"

# A failing step fails the build and removes the previous image; the next
# build, as CubeIDE's makefile runs the step again, fails again and leaves
# no image.
rm "$project/pakforge/config.bin"
for build in first second; do
  status=0
  (cd "$project/Debug" && PATH="$work/bin:$PATH" sh -c "$line" >"$work/out" 2>&1) || status=$?
  [ "$status" -ne 0 ] || fail "without its template the $build step succeeded"
  grep -q "Can't open cfg file" "$work/out" || fail "no pakforge message in the $build step"
  [ ! -e "$image" ] || fail "the $build failed step left an image in Debug/"
done
echo "STM32CubeIDE post-build command: OK"
