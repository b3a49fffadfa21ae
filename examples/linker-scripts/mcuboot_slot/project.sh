# An application that MCUboot starts from a slot: the vector table in
# .isr_vector, the stack top _estack, linked with --gc-sections.
defines=(-DVECTORS_SECTION='".isr_vector"' -DSTACK_TOP=_estack)
link_flags=(-Wl,--gc-sections)
linkers=(gnu lld)
# The recipe's edits, in script.ld.in.
fixes=(VECTORS OFFSET KEEP END STACK RAMSTART)
# The edits aelfdump --link must name for the stock form, by linker.
named_gnu=(VECTORS OFFSET KEEP END STACK)
named_lld=(VECTORS OFFSET KEEP END RAMSTART)
# Without -n, GNU ld loads the ELF file's own headers in the room before
# the code once the reservation is empty: what a test reads.
between_gnu=(KEEP END VECTORS)
