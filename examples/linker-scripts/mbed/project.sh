# An Mbed OS project: the vector table in .isr_vector, the stack top
# __StackTop, .data copied from __etext to __data_start__..__data_end__ and
# .bss zeroed from __bss_start__ to __bss_end__; linked with --gc-sections.
defines=(-DVECTORS_SECTION='".isr_vector"' -DSTACK_TOP=__StackTop -DDATA_LOAD=__etext
  -DDATA_START=__data_start__ -DDATA_END=__data_end__ -DBSS_START=__bss_start__
  -DBSS_END=__bss_end__)
link_flags=(-Wl,--gc-sections)
# Mbed builds with GNU ld: LLD would place its COPY sections at address 0.
linkers=(gnu)
fixes=(OFFSET KEEP ALIGN END NOLOAD STACK RAMSTART)
# The edits aelfdump --link must name for the stock form, by linker.
named_gnu=(OFFSET KEEP ALIGN END STACK)
