# What build.sh, rounds.sh and fix_all.sh share: compiling the example
# firmware for one origin's project, making its linker script with some of
# the recipe's edits, and linking. Sourced, with `here` set to this folder
# and `work` to a scratch folder (or set by take_tools).
src=$here/../firmware/src
cc=${CC:-arm-none-eabi-gcc}
lld=${LLD:-ld.lld}
cflags=(-mcpu=cortex-m4 -mthumb -Os -ffreestanding -nostdlib -ffunction-sections -fdata-sections
  -fno-unwind-tables -fno-asynchronous-unwind-tables -Wall -Wextra -Werror)

# take_tools [PAKFORGE [AELFDUMP]]: the programs a measuring script runs
# (build/default's unless named), objcopy, and a scratch folder in `work`
# that goes when the script ends.
take_tools() {
  pakforge=$(realpath "${1:-$here/../../build/default/pakforge}")
  aelfdump=$(realpath "${2:-$here/../../build/default/aelfdump}")
  objcopy=${OBJCOPY:-arm-none-eabi-objcopy}
  work=$(mktemp -d)
  [ -n "${FIX_KEEP:-}" ] && echo "scratch folder: $work" >&2 || trap 'rm -rf "$work"' EXIT
}

# load_origin ORIGIN: reads ORIGIN/project.sh and compiles the firmware as
# that project does, into $work/obj.
load_origin() {
  origin=$1
  defines=() link_flags=() linkers=(gnu) fixes=() sources=(app modbus startup)
  between_gnu=() between_lld=()
  # The default: the script is ORIGIN/script.ld.in, each edit a FIX_ block.
  make_script() {  # OUT FIX...
    local out=$1
    shift
    "$cc" -E -P -x c -undef "${@/#/-DFIX_}" "$here/$origin/script.ld.in" -o "$out"
  }
  # shellcheck source=/dev/null
  source "$here/$origin/project.sh"
  rm -rf "$work/obj" && mkdir -p "$work/obj"
  local file
  for file in "${sources[@]}"; do
    "$cc" "${cflags[@]}" "${defines[@]}" -I"$src" -c "$src/$file.c" -o "$work/obj/$file.o"
  done
}

# link_with FOLDER LINKER FIX...: links with the script made with those
# edits into FOLDER/output.{map,elf}; false, with what the linker said in
# FOLDER/link-error.txt, when it can't.
link_with() {
  local folder=$1 linker=$2
  shift 2
  rm -rf "$folder" && mkdir -p "$folder"
  local script=$work/$origin.ld
  make_script "$script" "$@"
  local flags=("${link_flags[@]}")
  # The offset edit goes with a link flag: no page alignment of segments.
  [[ " $* " == *" OFFSET "* ]] && flags+=(-Wl,-n)
  local status=0
  if [ "$linker" = gnu ]; then
    "$cc" "${cflags[@]}" -T "$script" "${flags[@]}" -Wl,-Map="$folder/output.map" \
      -o "$folder/output.elf" "$work"/obj/*.o 2>"$work/link-error" || status=$?
  else
    # LLD takes the flags without the compiler driver's -Wl,.
    "$lld" -T "$script" "${flags[@]//-Wl,/}" -Map="$folder/output.map" -o "$folder/output.elf" \
      "$work"/obj/*.o 2>"$work/link-error" || status=$?
  fi
  if [ "$status" -ne 0 ]; then
    rm -f "$folder"/output.*
    sed "s|$work/||g; s|$here/||g" "$work/link-error" >"$folder/link-error.txt"
    return 1
  fi
  # Paths in the map relative to the folder, whoever builds it.
  sed -i "s|$work/obj/||g; s|$work/||g; s|$here/||g" "$folder/output.map"
}
