/* A script for a larger part with the device's edits made, that keeps a
 * heap in the part's CCM bank, which the device lacks: everything else is
 * as pakforge wants it, so only the bank stands between it and an image
 * of a firmware whose first allocation faults. */
ENTRY(Reset_Handler)

MEMORY
{
  FLASH (rx)  : ORIGIN = 0x08020000, LENGTH = 0x1FE00
  RAM   (rwx) : ORIGIN = 0x20000000, LENGTH = 32K
  CCM   (rw)  : ORIGIN = 0x10000000, LENGTH = 64K
}

__stack_top = ORIGIN(RAM) + LENGTH(RAM);

SECTIONS
{
  .text : ALIGN(0x20000)
  {
    KEEP(*(.isr_vector))
    *(.text*)
    *(.rodata*)
    . = ALIGN(4);
  } > FLASH
  __data_load = .;
  . = __data_load + __data_size;
  __flash_end = .;

  .data : AT(__data_load)
  {
    __data_lo = .;
    *(.data*)
    . = ALIGN(4);
    __data_hi = .;
  } > RAM
  __data_size = SIZEOF(.data);

  .bss (NOLOAD) :
  {
    __zero_lo = .;
    *(.bss*)
    *(COMMON)
    . = ALIGN(4);
    __zero_hi = .;
  } > RAM

  .heap (NOLOAD) :
  {
    __heap_lo = .;
    . = . + 0x800;
    __heap_hi = .;
  } > CCM

  . = ADDR(.data);
  _ram_data_start = ADDR(.data);
}
