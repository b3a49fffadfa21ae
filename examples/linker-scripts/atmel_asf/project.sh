# An ASF-style SAM project: the vector table in .vectors, the start-up
# code's own names for the copy and zero bounds (_etext, _srelocate,
# _erelocate, _szero, _ezero), the stack top _estack; linked with
# --gc-sections.
defines=(-DVECTORS_SECTION='".vectors"' -DSTACK_TOP=_estack -DDATA_LOAD=_etext
  -DDATA_START=_srelocate -DDATA_END=_erelocate -DBSS_START=_szero -DBSS_END=_ezero)
link_flags=(-Wl,--gc-sections)
linkers=(gnu lld)
fixes=(OFFSET KEEP DATANAME END RAMSTART)
# The edits aelfdump --link must name for the stock form, by linker.
named_gnu=(OFFSET KEEP DATANAME END)
named_lld=(OFFSET KEEP DATANAME END)
