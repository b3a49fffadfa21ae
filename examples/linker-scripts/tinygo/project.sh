# A TinyGo-built firmware's layout: the vector table in .isr_vector, the
# recipe's names for the copy and zero bounds, the stack top _stack_top;
# linked with --gc-sections.
defines=(-DVECTORS_SECTION='".isr_vector"' -DSTACK_TOP=_stack_top)
link_flags=(-Wl,--gc-sections)
linkers=(gnu lld)
fixes=(OFFSET KEEP END RAMSECTIONS RAMSTART)
# The edits aelfdump --link must name for the stock form, by linker.
named_gnu=(OFFSET KEEP END)
named_lld=(OFFSET KEEP END)
