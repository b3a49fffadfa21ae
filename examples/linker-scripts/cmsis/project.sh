# A project on Arm's CMSIS device template for GCC: the vector table in
# .vectors, the start-up code's own names for the copy and zero bounds
# (__etext, __data_start__, __data_end__, __bss_start__, __bss_end__), the
# stack top __StackTop; linked without --gc-sections.
defines=(-DVECTORS_SECTION='".vectors"' -DSTACK_TOP=__StackTop -DDATA_LOAD=__etext
  -DDATA_START=__data_start__ -DDATA_END=__data_end__ -DBSS_START=__bss_start__
  -DBSS_END=__bss_end__)
# LLD gives COPY sections no addresses in RAM: the ASSERT fails there.
linkers=(gnu)
fixes=(OFFSET END RAMSTART)
# The edits aelfdump --link must name for the stock form, by linker.
named_gnu=(OFFSET END)
