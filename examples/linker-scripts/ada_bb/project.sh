# A project on an Ada bare-board runtime's ROM script: the vector table in
# .vectors, the runtime's names for the copy and zero bounds (__data_load,
# __data_start, __data_end, __bss_start, __bss_end), the stack top
# __stack_end; linked without --gc-sections.
defines=(-DVECTORS_SECTION='".vectors"' -DSTACK_TOP=__stack_end -DDATA_LOAD=__data_load
  -DDATA_START=__data_start -DDATA_END=__data_end -DBSS_START=__bss_start -DBSS_END=__bss_end)
linkers=(gnu lld)
fixes=(OFFSET END RAMSTART)
# The edits aelfdump --link must name for the stock form, by linker.
named_gnu=(OFFSET END)
named_lld=(OFFSET END)
