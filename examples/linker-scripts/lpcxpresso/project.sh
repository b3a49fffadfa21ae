# An LPCXpresso-style project: the vector table in .isr_vector, the
# start-up code's own names (_data, _edata, _bss, _ebss; the copy source
# from the section table, here _etext), the stack top _vStackTop; linked
# with --gc-sections.
defines=(-DVECTORS_SECTION='".isr_vector"' -DSTACK_TOP=_vStackTop -DDATA_LOAD=_etext
  -DDATA_START=_data -DDATA_END=_edata -DBSS_START=_bss -DBSS_END=_ebss)
link_flags=(-Wl,--gc-sections)
linkers=(gnu lld)
# The second bank, which the device lacks, is empty in this firmware; --fix
# moves its sections into .data and .bss with their section table entries
# (PF507), where the recipe drops them.
fixes=(OFFSET KEEP DATANAME END BANKS RAMSECTIONS RAMSTART)
# The edits aelfdump --link must name for the stock form, by linker.
named_gnu=(OFFSET KEEP DATANAME END BANKS)
named_lld=(OFFSET KEEP DATANAME END BANKS)
