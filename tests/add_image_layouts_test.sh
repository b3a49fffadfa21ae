#!/usr/bin/env bash
# pakforge_add_image in the project layouts that link without it, under
# CMake's Ninja and Makefile generators, against an installed pakforge: each
# still builds, and a firmware's image is what pakforge makes of the map and
# ELF file that the project's own link writes.
#   libpath     -L<folder> -Tlink.ld: the script found on the library path
#   ttext       -Wl,-Ttext=0x08020000 beside -T: an address, not a script
#   genex_map   -Wl,-Map=$<TARGET_FILE_DIR:fw>/fw_own.map
#   iface_map   -Map in an INTERFACE library's link options
#   flags_map   -Map in the target's LINK_FLAGS
#   host        a host program: no -n, which its link would fail with; its
#               link succeeds and pakforge refuses its map and ELF file
#   cond_map    a -Map only a generator expression's condition decides:
#               configuring says to name it with MAP
# Then a failing packaging step followed by a second build: no image is
# left, and the second build fails too; and resources too large for the
# flash (pakforge writes the image, then exits 250): no image is left.
# Usage: add_image_layouts_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
command -v arm-none-eabi-gcc >/dev/null || { echo "no arm-none-eabi-gcc here: skipped"; exit 77; }
command -v ninja >/dev/null || { echo "no ninja here: skipped"; exit 77; }

cmake --install "$build" --prefix "$work/prefix" >/dev/null
firmware=$source/examples/firmware
toolchain=$source/examples/consumer/arm-none-eabi.cmake

# project NAME LINES...: a project whose firmware target fw links the
# example firmware with the given lines of CMake before pakforge_add_image.
project() {
  local name=$1
  shift
  mkdir -p "$work/src/$name"
  cp "$source/examples/consumer/config.bin" "$source/examples/consumer/resources.bin" \
    "$work/src/$name/"
  {
    echo "cmake_minimum_required(VERSION 3.25)"
    echo "project($name LANGUAGES C)"
    echo "find_package(pakforge REQUIRED NO_CMAKE_FIND_ROOT_PATH)"
    echo "set(FW $firmware)"
    echo 'add_executable(fw ${FW}/src/app.c ${FW}/src/modbus.c)'
    echo 'target_include_directories(fw PRIVATE ${FW}/src)'
    echo 'target_compile_options(fw PRIVATE -Os -ffunction-sections -fdata-sections -fno-unwind-tables -fno-asynchronous-unwind-tables)'
    echo 'set_target_properties(fw PROPERTIES SUFFIX .elf)'
    printf '%s\n' "$@"
  } >"$work/src/$name/CMakeLists.txt"
}
image_call='pakforge_add_image(fw CONFIG config.bin RESOURCES resources.bin OUTPUT fw.alf)'

project libpath 'target_link_options(fw PRIVATE -nostdlib -L${FW} -Tlink.ld)' "$image_call"
project ttext 'target_link_options(fw PRIVATE -nostdlib -T${FW}/link.ld -Wl,-Ttext=0x08020000)' \
  "$image_call"
project genex_map 'target_link_options(fw PRIVATE -nostdlib -T${FW}/link.ld "-Wl,-Map=$<TARGET_FILE_DIR:fw>/fw_own.map")' \
  "$image_call"
project iface_map 'add_library(map_option INTERFACE)' \
  'target_link_options(map_option INTERFACE -Wl,-Map=${CMAKE_BINARY_DIR}/iface.map)' \
  'target_link_options(fw PRIVATE -nostdlib -T${FW}/link.ld)' \
  'target_link_libraries(fw PRIVATE map_option)' "$image_call"
project flags_map 'target_link_options(fw PRIVATE -nostdlib -T${FW}/link.ld)' \
  'set_target_properties(fw PROPERTIES LINK_FLAGS "-Wl,-Map=flags.map")' "$image_call"
project cond_map 'target_link_options(fw PRIVATE -nostdlib -T${FW}/link.ld "$<$<CONFIG:Debug>:-Wl,-Map=debug.map>")' \
  "$image_call"
mkdir -p "$work/src/host"
cp "$source/examples/consumer/config.bin" "$source/examples/consumer/resources.bin" "$work/src/host/"
printf 'int main(void) { return 0; }\n' >"$work/src/host/main.c"
cat >"$work/src/host/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.25)
project(host LANGUAGES C)
find_package(pakforge REQUIRED)
add_executable(hostapp main.c)
pakforge_add_image(hostapp CONFIG config.bin RESOURCES resources.bin OUTPUT host.alf)
CMAKE

# configure NAME GENERATOR [CMAKE ARGUMENTS]: into $work/build/NAME-GENERATOR.
configure() {
  local name=$1 generator=$2
  shift 2
  local folder="$work/build/$name-${generator// /_}"
  rm -rf "$folder"
  cmake -S "$work/src/$name" -B "$folder" -G "$generator" -DCMAKE_PREFIX_PATH="$work/prefix" \
    "$@" >"$work/log" 2>&1
}

# The image pakforge makes of MAP and ELF with the project's inputs.
expected_image() {
  (cd "$work" && "$work/prefix/bin/pakforge" -m "$1" -f "$2" -c "$source/examples/consumer/config.bin" \
    -r "$source/examples/consumer/resources.bin" -o "$work/expected.alf" >/dev/null 2>&1)
}

for generator in Ninja "Unix Makefiles"; do
  g=${generator// /_}
  for layout in libpath:fw.map ttext:fw.map genex_map:fw_own.map iface_map:iface.map \
    flags_map:flags.map; do
    name=${layout%%:*} map=${layout#*:}
    case="$name ($generator)"
    configure "$name" "$generator" -DCMAKE_TOOLCHAIN_FILE="$toolchain" ||
      { cat "$work/log"; fail "$case: configuring failed"; }
    folder="$work/build/$name-$g"
    cmake --build "$folder" >"$work/log" 2>&1 || { cat "$work/log"; fail "$case: the build failed"; }
    [ -f "$folder/$map" ] || fail "$case: the project's own map $map was not written"
    maps=$(find "$folder" -name '*.map' | wc -l)
    [ "$maps" -eq 1 ] || fail "$case: $maps maps were written, not the project's one"
    expected_image "$folder/$map" "$folder/fw.elf" || fail "$case: pakforge on the link failed"
    cmp -s "$folder/fw.alf" "$work/expected.alf" || fail "$case: the image is not pakforge's of the link"
    # A second build does nothing.
    cmake --build "$folder" >"$work/log" 2>&1 || fail "$case: the second build failed"
    if [ "$generator" = Ninja ]; then
      grep -q "no work to do" "$work/log" || fail "$case: the second build was not empty"
    fi
  done
  # The script found through -L is a link dependency: touching it relinks.
  folder="$work/build/libpath-$g"
  touch "$firmware/link.ld"
  cmake --build "$folder" >"$work/log" 2>&1 || fail "libpath ($generator): the rebuild failed"
  grep -q "Packaging AELF image" "$work/log" || fail "libpath ($generator): touching link.ld made no new image"

  # A host program links as it did without the call; pakforge refuses it.
  configure host "$generator" || { cat "$work/log"; fail "host ($generator): configuring failed"; }
  folder="$work/build/host-$g"
  cmake --build "$folder" --target hostapp >"$work/log" 2>&1 ||
    { cat "$work/log"; fail "host ($generator): the host program did not link"; }
  if cmake --build "$folder" >"$work/log" 2>&1; then
    fail "host ($generator): a host program was packaged"
  fi
  grep -q "^pakforge v" "$work/log" || { cat "$work/log"; fail "host ($generator): not refused by pakforge"; }

  # A map only a condition decides: said at configure time.
  if configure cond_map "$generator" -DCMAKE_TOOLCHAIN_FILE="$toolchain"; then
    fail "cond_map ($generator): configured without a MAP"
  fi
  grep -q "name it with MAP" "$work/log" || { cat "$work/log"; fail "cond_map ($generator): no word of MAP"; }

  # A failing packaging step leaves no image, and the next build fails too.
  folder="$work/build/ttext-$g"
  cp "$work/src/ttext/config.bin" "$work/config.good"
  head -c 10 /dev/zero >"$work/src/ttext/config.bin"
  if cmake --build "$folder" >"$work/log" 2>&1; then
    fail "ttext ($generator): a short header template did not fail the build"
  fi
  [ ! -e "$folder/fw.alf" ] || fail "ttext ($generator): the previous image was left behind"
  if cmake --build "$folder" >"$work/log" 2>&1; then
    fail "ttext ($generator): the second build after a failure succeeded"
  fi
  [ ! -e "$folder/fw.alf" ] || fail "ttext ($generator): an image appeared"
  cp "$work/config.good" "$work/src/ttext/config.bin"
  cmake --build "$folder" >"$work/log" 2>&1 || fail "ttext ($generator): the repaired build failed"
  [ -f "$folder/fw.alf" ] || fail "ttext ($generator): no image after the repair"
  # Resources too large for the flash: pakforge writes the image and exits
  # 250, and the build fails with no image at OUTPUT.
  cp "$work/src/ttext/resources.bin" "$work/resources.good"
  head -c 200000 /dev/zero >"$work/src/ttext/resources.bin"
  if cmake --build "$folder" >"$work/log" 2>&1; then
    fail "ttext ($generator): resources too large for the flash did not fail the build"
  fi
  grep -q "status 250" "$work/log" || { cat "$work/log"; fail "ttext ($generator): pakforge did not end with 250"; }
  [ ! -e "$folder/fw.alf" ] || fail "ttext ($generator): an image too large for the flash was left"
  cp "$work/resources.good" "$work/src/ttext/resources.bin"
done
echo "pakforge_add_image layouts: OK"
