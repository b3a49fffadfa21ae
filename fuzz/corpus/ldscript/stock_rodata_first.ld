ENTRY(Reset_Handler)
MEMORY
{
  FLASH (rx) : ORIGIN = 0x08020000, LENGTH = 0x1FE00
  SRAM (rwx) : ORIGIN = 0x20000000, LENGTH = 0x8000
}
SECTIONS
{
  .vectors :
  {
    KEEP(*(.isr_vector))
  } > FLASH
  .rodata :
  {
    . = ALIGN(4);
    *(.rodata .rodata.*)
    . = ALIGN(4);
  } > FLASH
  .text :
  {
    *(.text .text.*)
    *(.glue_7) *(.glue_7t) *(.vfp11_veneer) *(.v4_bx)
    . = ALIGN(4);
    _etext = .;
  } > FLASH
  .data :
  {
    _sdata = .;
    *(.data .data.*)
    . = ALIGN(4);
    _edata = .;
  } > SRAM AT> FLASH
  _sidata = LOADADDR(.data);
  .bss (NOLOAD) :
  {
    _sbss = .;
    *(.bss .bss.*)
    *(COMMON)
    . = ALIGN(4);
    _ebss = .;
  } > SRAM
  .stack (NOLOAD) :
  {
    . = ALIGN(8);
    . += 0x400;
  } > SRAM
  _estack = ORIGIN(SRAM) + LENGTH(SRAM);
}
