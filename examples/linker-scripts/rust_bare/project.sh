# A firmware on a hand-written linker script of a bare-metal Rust project
# (no runtime crate): the vector table in the three sections of
# ../cortex_m_rt's start-up, the stack top written by the script, .data
# copied from _sidata to _sdata.._edata and .bss zeroed from _sbss to
# _ebss; linked with --gc-sections, as rustc links.
defines=(-DSPLIT_VECTORS -DDATA_LOAD=_sidata -DDATA_START=_sdata -DDATA_END=_edata
  -DBSS_START=_sbss -DBSS_END=_ebss)
link_flags=(-Wl,--gc-sections)
linkers=(gnu lld)
fixes=(VECTORS OFFSET KEEP RAMSECTIONS END RAMSTART)
# The edits aelfdump --link must name for the stock form, by linker.
named_gnu=(VECTORS OFFSET KEEP RAMSECTIONS END)
named_lld=(VECTORS OFFSET KEEP RAMSECTIONS END RAMSTART)
