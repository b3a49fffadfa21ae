# A firmware on the Rust embedded runtime's script (a mixed C and Rust
# project): the vector table in the runtime's three sections, the stack top
# written by the script, .data copied from __sidata to __sdata..__edata and
# .bss zeroed from __sbss to __ebss; linked with --gc-sections, as rustc
# links.
defines=(-DSPLIT_VECTORS -DDATA_LOAD=__sidata -DDATA_START=__sdata -DDATA_END=__edata
  -DBSS_START=__sbss -DBSS_END=__ebss)
link_flags=(-Wl,--gc-sections)
linkers=(gnu lld)
fixes=(VECTORS OFFSET KEEP END STACK RAMSTART)
# The edits aelfdump --link must name for the stock form, by linker.
named_gnu=(VECTORS OFFSET KEEP END STACK)
named_lld=(VECTORS OFFSET KEEP END RAMSTART)
