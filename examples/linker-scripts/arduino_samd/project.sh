# An Arduino SAMD core sketch: the vector table in .isr_vector, the core's
# names for the copy and zero bounds (__etext, __data_start__, __data_end__,
# __bss_start__, __bss_end__), the stack top __StackTop; linked with
# --gc-sections.
defines=(-DVECTORS_SECTION='".isr_vector"' -DSTACK_TOP=__StackTop -DDATA_LOAD=__etext
  -DDATA_START=__data_start__ -DDATA_END=__data_end__ -DBSS_START=__bss_start__
  -DBSS_END=__bss_end__)
link_flags=(-Wl,--gc-sections)
linkers=(gnu lld)
fixes=(OFFSET KEEP END ALIGN RAMSTART)
# The edits aelfdump --link must name for the stock form, by linker.
named_gnu=(OFFSET KEEP END ALIGN)
named_lld=(OFFSET KEEP END ALIGN)
