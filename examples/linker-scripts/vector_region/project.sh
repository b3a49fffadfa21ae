# A project whose script gives the vector table a small flash region of its
# own ahead of the code's, and loads the initial values of .data into what
# that region has left (AT>): the vector table in .isr_vector, the stack top
# _estack; linked without --gc-sections.
defines=(-DVECTORS_SECTION='".isr_vector"' -DSTACK_TOP=_estack)
linkers=(gnu lld)
fixes=(VECTORS OFFSET END STACK RAMSTART)
# The edits aelfdump --link must name for the stock form, by linker.
named_gnu=(VECTORS OFFSET END STACK)
named_lld=(VECTORS OFFSET END RAMSTART)
