# A libopencm3 project: the vector table in .vectors, the stack top _stack,
# .data copied from _data_loadaddr to _data.._edata and .bss zeroed from
# _edata to _ebss; linked with --gc-sections.
defines=(-DVECTORS_SECTION='".vectors"' -DSTACK_TOP=_stack -DDATA_LOAD=_data_loadaddr
  -DDATA_START=_data -DDATA_END=_edata -DBSS_START=_edata -DBSS_END=_ebss)
link_flags=(-Wl,--gc-sections)
linkers=(gnu lld)
fixes=(OFFSET KEEP END STACK RAMSTART)
# The edits aelfdump --link must name for the stock form, by linker.
named_gnu=(OFFSET KEEP END STACK)
named_lld=(OFFSET KEEP END RAMSTART)
