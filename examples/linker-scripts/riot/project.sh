# A RIOT-style project: the vector table in .vectors, the stack top
# _estack, .data copied from _etext to _srelocate.._erelocate and .bss zeroed
# from _szero to _ezero; linked with --gc-sections.
defines=(-DVECTORS_SECTION='".vectors"' -DSTACK_TOP=_estack -DDATA_LOAD=_etext
  -DDATA_START=_srelocate -DDATA_END=_erelocate -DBSS_START=_szero -DBSS_END=_ezero)
link_flags=(-Wl,--gc-sections)
linkers=(gnu lld)
fixes=(OFFSET KEEP DATANAME END RAMSECTIONS STACK RAMSTART)
# The edits aelfdump --link must name for the stock form, by linker. The
# RAM report ends at the end of the heap, which takes the RAM left: that is
# what the firmware reserves, and no stack edit is named.
named_gnu=(OFFSET KEEP DATANAME END RAMSECTIONS RAMSTART)
named_lld=(OFFSET KEEP DATANAME END RAMSECTIONS RAMSTART)
