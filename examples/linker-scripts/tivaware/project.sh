# A TivaWare-style project: the vector table first in .text, the start-up
# code's own names for the copy and zero bounds (_ldata, _data, _edata,
# _bss, _ebss), the stack an array in .bss; linked without --gc-sections.
defines=(-DVECTORS_SECTION='".isr_vector"' -DSTACK_WORDS=256 -DDATA_LOAD=_ldata
  -DDATA_START=_data -DDATA_END=_edata -DBSS_START=_bss -DBSS_END=_ebss)
linkers=(gnu lld)
fixes=(OFFSET END RAMSTART)
# The edits aelfdump --link must name for the stock form, by linker.
named_gnu=(OFFSET END)
named_lld=(OFFSET END)
