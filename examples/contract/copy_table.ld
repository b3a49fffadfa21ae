/* After a vendor SDK's script whose start-up code reads .data's bounds from
 * a copy table in the flash (LONG(LOADADDR(.data)) ...), given only the
 * device's edits: the table stands in .rodata, before .data. */
ENTRY(Reset_Handler)

MEMORY
{
  FLASH (rx)  : ORIGIN = 0x08020000, LENGTH = 0x1FE00
  RAM   (rwx) : ORIGIN = 0x20000000, LENGTH = 32K
}

__stack_top = ORIGIN(RAM) + LENGTH(RAM);

SECTIONS
{
  .text :
  {
    KEEP(*(.isr_vector))
    *(.text*)
  } > FLASH

  .rodata :
  {
    *(.rodata*)
    . = ALIGN(4);
    __copy_table = .;
    LONG(LOADADDR(.data))
    LONG(ADDR(.data))
    LONG(ADDR(.data) + SIZEOF(.data))
  } > FLASH

  .data :
  {
    *(.data*)
    . = ALIGN(4);
  } > RAM AT> FLASH

  .bss :
  {
    __zero_lo = .;
    *(.bss*)
    *(COMMON)
    . = ALIGN(4);
    __zero_hi = .;
  } > RAM
}
