/* vectors.ld as an edit that kept the header's symbols left it: their KEEPs
 * in front of the vector table, which now stands past the code start. */
ENTRY(Reset_Handler)

MEMORY
{
  FLASH (rx)  : ORIGIN = 0x08020000, LENGTH = 0x1FE00
  RAM   (rwx) : ORIGIN = 0x20000000, LENGTH = 32K
}

__stack_top = ORIGIN(RAM) + LENGTH(RAM);

SECTIONS
{
  .text : ALIGN(0x20000)
  {
    KEEP(*(.text.loop))
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

  .bss :
  {
    __zero_lo = .;
    *(.bss*)
    *(COMMON)
    . = ALIGN(4);
    __zero_hi = .;
  } > RAM

  . = ADDR(.data);
  _ram_data_start = ADDR(.data);
}
