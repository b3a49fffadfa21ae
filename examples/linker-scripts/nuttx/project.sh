# A NuttX-style project: the vector table in .vectors, .data copied from
# _eronly; the idle thread's stack follows .bss, its top computed at run
# time (the vector table's first word here: _ebss). Linked without
# --gc-sections.
defines=(-DVECTORS_SECTION='".vectors"' -DSTACK_TOP=_ebss -DDATA_LOAD=_eronly)
linkers=(gnu lld)
fixes=(OFFSET END RAMSTART)
# The edits aelfdump --link must name for the stock form, by linker.
named_gnu=(OFFSET END RAMSTART)
named_lld=(OFFSET END RAMSTART)
