# A TrueSTUDIO-era STM32 project (as FreeRTOS's STM32F4 demos build): the
# vector table in .isr_vector, the stack top _estack, a 64-bit variable in
# .data; linked without --gc-sections.
defines=(-DVECTORS_SECTION='".isr_vector"' -DSTACK_TOP=_estack -DEIGHT_BYTE_DATA)
linkers=(gnu lld)
fixes=(VECTORS OFFSET ALIGN END NOLOAD STACK RAMSTART)
# The edits aelfdump --link must name for the stock form, by linker.
named_gnu=(VECTORS OFFSET ALIGN END STACK)
named_lld=(VECTORS OFFSET ALIGN END NOLOAD STACK RAMSTART)
