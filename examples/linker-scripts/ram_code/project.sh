# A project on pakforge's recipe that runs a function from RAM, placed in a
# section of its own after .bss: the vector table in .isr_vector, the stack
# top _estack, the RAM function in .ramfunc; linked without --gc-sections.
defines=(-DVECTORS_SECTION='".isr_vector"' -DSTACK_TOP=_estack)
link_flags=(-Wl,-n)
sources=(app modbus startup ramfunc)
linkers=(gnu lld)
fixes=(RAMFUNC)
# The edits aelfdump --link must name for the stock form, by linker.
named_gnu=(RAMFUNC)
named_lld=(RAMFUNC)
