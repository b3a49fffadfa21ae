# A FreeRTOS MPU demo's project: the vector table in .isr_vector, the
# recipe's names for the copy and zero bounds, the stack top _estack;
# linked without --gc-sections.
defines=(-DVECTORS_SECTION='".isr_vector"' -DSTACK_TOP=_estack)
linkers=(gnu lld)
fixes=(VECTORS OFFSET END RAMSTART)
# The edits aelfdump --link must name for the stock form, by linker.
named_gnu=(VECTORS OFFSET END)
named_lld=(VECTORS OFFSET END)
