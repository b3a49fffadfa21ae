# A firmware on a community GCC template for HDSC's HC32L110 parts: the
# vector table in .vectors (after a .stack section for the stack pointer's
# word, which this start-up file does not use), the stack top __stacktop,
# .data copied from __data_load to __data_start..__data_end and .bss
# zeroed from __bss_start to __bss_end; linked with --gc-sections.
defines=(-DVECTORS_SECTION='".vectors"' -DSTACK_TOP=__stacktop -DDATA_LOAD=__data_load
  -DDATA_START=__data_start -DDATA_END=__data_end -DBSS_START=__bss_start -DBSS_END=__bss_end)
link_flags=(-Wl,--gc-sections)
linkers=(gnu lld)
fixes=(OFFSET KEEP END APPS RAMSTART)
# The edits aelfdump --link must name for the stock form, by linker.
named_gnu=(OFFSET KEEP END APPS)
named_lld=(OFFSET KEEP END RAMSTART)
