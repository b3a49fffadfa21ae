# An STM32F407 project as STM32CubeMX generates it for CMake: the
# STM32CubeIDE script of ../st_cubeide (the same generator writes both),
# linked with --gc-sections, and a 64-bit variable in .data, which makes
# .data 8-aligned: once the code range ends after the initial values, they
# need an 8-aligned load address.
defines=(-DVECTORS_SECTION='".isr_vector"' -DSTACK_TOP=_estack -DEIGHT_BYTE_DATA)
link_flags=(-Wl,--gc-sections)
linkers=(gnu lld)
fixes=(VECTORS OFFSET KEEP END ALIGN NOLOAD STACK RAMSTART)
# The edits aelfdump --link must name for the stock form, by linker.
named_gnu=(VECTORS OFFSET KEEP END ALIGN STACK)

# make_script OUT FIX...: ST's script, with the recipe's edits.
make_script() {
  local out=$1
  shift
  "$cc" -E -P -x c -undef "${@/#/-DFIX_}" "$here/st_cubeide/script.ld.in" -o "$out"
}
