# A project whose script lays the flash out as some vendors' older
# templates do: the vector table, then the read-only data, then the code,
# each an output section of its own; the stack top _estack; linked without
# --gc-sections.
defines=(-DVECTORS_SECTION='".isr_vector"' -DSTACK_TOP=_estack)
linkers=(gnu lld)
fixes=(VECTORS OFFSET END STACK RAMSTART)
# The edits aelfdump --link must name for the stock form, by linker.
named_gnu=(VECTORS OFFSET END STACK)
named_lld=(VECTORS OFFSET END RAMSTART)
