MEMORY
{
  FLASH (rx) : ORIGIN = 0x08020000, LENGTH = 0x1FE00
  FLASH_ISR (rx) : ORIGIN = 0x08020000, LENGTH = 0x200
  FLASH_TEXT (rx) : ORIGIN = 0x08020200, LENGTH = 0x1FC00
  RAM (xrw) : ORIGIN = 0x20000000, LENGTH = 32K
}
_minimum_stack_size = 2K;
_minimum_heap_size = 8K;
_estack = ORIGIN(RAM) + LENGTH(RAM);
_ram_start = ORIGIN(RAM);
_ram_end = ORIGIN(RAM) + LENGTH(RAM);
ENTRY(Reset_Handler)
REGION_ALIAS("FLASH_COMMON", FLASH_TEXT);
SECTIONS
{
  .isr_vector :
  {
    . = ALIGN(4);
    KEEP(*(.isr_vector))
    . = ALIGN(4);
  } >FLASH_ISR
  .text :
  {
    . = ALIGN(4);
    *(.text*)
    *(.rodata*)
    . = ALIGN(4);
    _etext = .;
  } >FLASH_COMMON
  .ARM :
  {
    __exidx_start = .;
    *(.ARM.exidx*)
    __exidx_end = .;
  } >FLASH_COMMON
  _sidata = LOADADDR(.data);
  .data :
  {
    . = ALIGN(4);
    _sdata = .;
    *(.data*)
    . = ALIGN(4);
    _edata = .;
  } >RAM AT> FLASH_COMMON
  .bss :
  {
    . = ALIGN(4);
    _sbss = .;
    *(.bss*)
    *(COMMON)
    . = ALIGN(4);
    _ebss = .;
  } >RAM
  .heap :
  {
    . = ALIGN(4);
    . = . + _minimum_heap_size;
    . = ALIGN(4);
  } >RAM
  .stack :
  {
    . = ALIGN(4);
    . = . + _minimum_stack_size;
    . = ALIGN(4);
  } >RAM
}
_heap_start = _ebss;
_heap_end = _sstack;
_sstack = _estack - _minimum_stack_size;
