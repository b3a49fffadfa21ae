# A MicroPython-style STM32 project: the vector table in .isr_vector, the
# stack top _estack, linked with --gc-sections.
defines=(-DVECTORS_SECTION='".isr_vector"' -DSTACK_TOP=_estack)
link_flags=(-Wl,--gc-sections)
linkers=(gnu lld)
fixes=(VECTORS OFFSET KEEP END NOLOAD STACK RAMSTART)
# The edits aelfdump --link must name for the stock form, by linker.
named_gnu=(VECTORS OFFSET KEEP END STACK)
named_lld=(VECTORS OFFSET KEEP END NOLOAD RAMSTART)
