MEMORY
{
  rom (rx) : ORIGIN = 0x08020000, LENGTH = 0x1FE00
  ram (w!rx) : ORIGIN = 0x20000000, LENGTH = 32K
}
ENTRY(Reset_Handler)
SECTIONS
{
  .text :
  {
    . = ALIGN(4);
    _sfixed = .;
    KEEP(*(SORT(.vectors*)))
    *(.text .text.* .gnu.linkonce.t.*)
    *(.glue_7t) *(.glue_7)
    *(.rodata .rodata* .gnu.linkonce.r.*)
    *(.ARM.extab* .gnu.linkonce.armextab.*)
    . = ALIGN(4);
    KEEP(*(.init))
    . = ALIGN(4);
    __preinit_array_start = .;
    KEEP (*(.preinit_array))
    __preinit_array_end = .;
    . = ALIGN(4);
    __init_array_start = .;
    KEEP (*(SORT(.init_array.*)))
    KEEP (*(.init_array))
    __init_array_end = .;
    . = ALIGN(4);
    KEEP(*(.fini))
    . = ALIGN(4);
    __fini_array_start = .;
    KEEP (*(.fini_array))
    KEEP (*(SORT(.fini_array.*)))
    __fini_array_end = .;
    . = ALIGN(4);
    _efixed = .;
  } > rom
  PROVIDE_HIDDEN (__exidx_start = .);
  .ARM.exidx :
  {
    *(.ARM.exidx* .gnu.linkonce.armexidx.*)
  } > rom
  PROVIDE_HIDDEN (__exidx_end = .);
  . = ALIGN(4);
  .eh_frame :
  {
    KEEP (*(.eh_frame))
  } > rom
  . = ALIGN(4);
  _etext = .;
  .stack (NOLOAD):
  {
    . = ALIGN(8);
    _sstack = .;
    KEEP (*(.isr_stack))
    . = . + 0x400;
    . = ALIGN(8);
    _estack = .;
  } > ram
  .relocate
  :
  {
    . = ALIGN(4);
    _srelocate = .;
    *(.ramfunc .ramfunc.*);
    *(.data .data.*);
    . = ALIGN(4);
    _erelocate = .;
  } > ram AT> rom
  .bss (NOLOAD) :
  {
    . = ALIGN(4);
    _sbss = . ;
    _szero = .;
    *(.bss .bss.*)
    *(COMMON)
    . = ALIGN(4);
    _ebss = . ;
    _ezero = .;
  } > ram
  .noinit (NOLOAD) :
  {
    __noinit_start = .;
    *(.noinit)
    . = ALIGN(4);
    __noinit_end = .;
  } > ram
  . = ALIGN(4);
  _sheap = . ;
  _eheap = ORIGIN(ram) + LENGTH(ram);
  _sram = ORIGIN(ram);
  _eram = ORIGIN(ram) + LENGTH(ram);
}
