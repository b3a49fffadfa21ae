# A ChibiOS project: the vector table in .vectors, the stack top
# __main_stack_end__, .data copied from __textdata_base__ to
# __data_base__..__data_end__, .bss zeroed from __bss_base__ to __bss_end__;
# linked with --gc-sections.
defines=(-DVECTORS_SECTION='".vectors"' -DSTACK_TOP=__main_stack_end__
  -DDATA_LOAD=__textdata_base__ -DDATA_START=__data_base__ -DDATA_END=__data_end__
  -DBSS_START=__bss_base__ -DBSS_END=__bss_end__)
link_flags=(-Wl,--gc-sections)
linkers=(gnu lld)
fixes=(BANKS VECTORS OFFSET KEEP END RAMSECTIONS RAMSTART)
# The edits aelfdump --link must name for the stock form, by linker.
named_gnu=(BANKS VECTORS OFFSET KEEP END RAMSECTIONS)
named_lld=(VECTORS OFFSET KEEP END RAMSECTIONS RAMSTART)
