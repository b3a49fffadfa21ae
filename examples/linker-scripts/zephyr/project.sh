# A Zephyr-style application: the vector table in .exc_vector_table, the
# start-up code's own names for the copy and zero bounds
# (__data_region_load_start, __data_region_start, __data_region_end,
# __bss_start, __bss_end), the stack an array in bss; linked with
# --gc-sections.
defines=(-DVECTORS_SECTION='".exc_vector_table"' -DSTACK_WORDS=256
  -DDATA_LOAD=__data_region_load_start -DDATA_START=__data_region_start
  -DDATA_END=__data_region_end -DBSS_START=__bss_start -DBSS_END=__bss_end)
link_flags=(-Wl,--gc-sections)
# LLD 14 does not know ALIGN_WITH_INPUT.
linkers=(gnu)
fixes=(TEXTNAME VECTORS OFFSET KEEP DATANAME END APPS RAMSTART)
# The edits aelfdump --link must name for the stock form, by linker.
named_gnu=(TEXTNAME KEEP VECTORS DATANAME END APPS OFFSET RAMSTART)
