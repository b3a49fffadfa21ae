/* After vendor SDK scripts that name the vector table's bounds for the
 * start-up code, given only the device's edits (the flash at 0x08020000,
 * 32 KiB of RAM): the table in an output section of its own, .vectors,
 * with a start symbol inside it and its size and end set from SIZEOF
 * after it; .data loaded AT> the flash, .bss, the stack top at the end of
 * RAM. The start-up code checks the bounds (VECTOR_BOUNDS). */
ENTRY(Reset_Handler)

MEMORY
{
  FLASH (rx)  : ORIGIN = 0x08020000, LENGTH = 0x1FE00
  RAM   (rwx) : ORIGIN = 0x20000000, LENGTH = 32K
}

__stack_top = ORIGIN(RAM) + LENGTH(RAM);

SECTIONS
{
  .vectors :
  {
    __vectors_start = .;
    KEEP(*(.isr_vector))
  } > FLASH
  __vectors_size = SIZEOF(.vectors);
  __vectors_end = __vectors_start + __vectors_size;

  .text :
  {
    . = ALIGN(4);
    *(.text*)
    *(.rodata*)
    . = ALIGN(4);
  } > FLASH

  __data_load = LOADADDR(.data);
  .data :
  {
    . = ALIGN(4);
    __data_lo = .;
    *(.data*)
    . = ALIGN(4);
    __data_hi = .;
  } > RAM AT> FLASH

  .bss (NOLOAD) :
  {
    . = ALIGN(4);
    __zero_lo = .;
    *(.bss*)
    *(COMMON)
    . = ALIGN(4);
    __zero_hi = .;
  } > RAM
}
