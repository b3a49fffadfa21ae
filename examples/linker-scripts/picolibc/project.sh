# picolibc's own linker script, as Debian's picolibc-arm-none-eabi installs
# it: used as it is, not copied here. A project sets the flash and RAM with
# --defsym, as picolibc's documentation says to; the vector table in
# .text.init.enter, where the script keeps the start-up code; .data copied
# from __data_source to __data_start..__data_end and .bss zeroed from
# __bss_start to __bss_end; linked without --gc-sections.
picolibc_ld=${PICOLIBC_LD:-/usr/lib/picolibc/arm-none-eabi/lib/picolibc.ld}
defines=(-DVECTORS_SECTION='".text.init.enter"' -DSTACK_TOP=__stack -DDATA_LOAD=__data_source
  -DDATA_START=__data_start -DDATA_END=__data_end -DBSS_START=__bss_start -DBSS_END=__bss_end)
link_flags=(-Wl,--defsym=__flash=0x08020000 -Wl,--defsym=__flash_size=0x1FE00
  -Wl,--defsym=__ram=0x20000000 -Wl,--defsym=__ram_size=0x8000)
# LLD 14 does not know ALIGN_WITH_INPUT, which the script uses.
linkers=(gnu)
fixes=(TEXTFIRST DATANAME OFFSET END RAMSECTIONS RAMSTART)
# The edits aelfdump --link must name for the stock form, by linker.
named_gnu=(TEXTFIRST DATANAME OFFSET END RAMSECTIONS)

# make_script OUT FIX...: the installed script with the recipe's edits.
make_script() {
  local out=$1
  shift
  cp "$picolibc_ld" "$out"
  # In the recipe's order, whatever order they are asked for in: later
  # edits match what earlier ones wrote.
  local fix asked=" $* "
  for fix in "${fixes[@]}"; do
    [[ "$asked" == *" $fix "* ]] || continue
    case $fix in
      TEXTFIRST)  # the start-up code of .init at the start of .text
        perl -0pi -e 's/\t\.init : \{\n(.*?)\n\t\} >flash AT>flash :text\n\n\t\.text : \{\n/\t.text : {\n$1\n/s' "$out" ;;
      DATANAME)  # no line of .text naming .data: the map's first such line ends the range
        perl -pi -e 's/\(\.data\.init\.enter\)/(.dat[a].init.enter)/; s/\*\(\.data\.rel\.ro \.data\.rel\.ro\.\*\)/*(.dat[a].rel.ro .dat[a].rel.ro.*)/' "$out" ;;
      OFFSET)
        perl -pi -e 's/^\t\.text : \{$/\t.text : ALIGN(0x20000) {/' "$out" ;;
      END)  # the range ends after the initial values of .data and .tdata
        perl -0pi -e 's/(\t\.toc : \{.*?\n\t\} >flash AT>flash :text\n)/$1\n\t_sidata = .;\n\t. = _sidata + _data_image_size;\n\t_flash_end = .;\n/s;
          s/\.data : ALIGN_WITH_INPUT \{/.data : AT(_sidata) ALIGN_WITH_INPUT {/;
          s/(\.data : AT.*?\} >ram) AT>flash :ram_init/$1 :ram_init/s;
          s/\.tdata : ALIGN_WITH_INPUT \{/.tdata : AT(LOADADDR(.data) + SIZEOF(.data)) ALIGN_WITH_INPUT {/;
          s/(\.tdata : AT.*?\} >ram) AT>flash :tls :ram_init\n/$1 :tls :ram_init\n\t_data_image_size = LOADADDR(.tdata) + SIZEOF(.tdata) - _sidata;\n/s' "$out" ;;
      RAMSECTIONS)  # .preserve, a RAM section, after .bss instead of before .data
        perl -0pi -e 's/(\t\.preserve \(NOLOAD\) : \{.*?\n\t\} >ram AT>ram :ram\n)//s and $p = $1;
          s/(\t\.bss \(NOLOAD\) : \{.*?\n\t\} >ram AT>ram :ram\n)/$1$p/s' "$out" ;;
      RAMSTART)  # the RAM report starts at .data
        perl -0pi -e 's/(\t\/\* Throw away C\+\+ exception handling information \*\/)/\t. = ADDR(.data);\n\t_ram_data_start = ADDR(.data);\n\n$1/' "$out" ;;
      *) echo "picolibc: no edit $fix" >&2; return 1 ;;
    esac
  done
}
