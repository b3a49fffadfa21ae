/* After a CubeIDE-style script of a larger part (96 KiB of RAM), given only
 * the flash edit (0x08020000): the RAM region and the stack top at its end
 * are the part's, 64 KiB past the device's RAM; the vector table in an output
 * section of its own before .text, read-only data after the code,
 * .data loaded into the flash with AT>, .bss, and the stack top at the end
 * of RAM. The start-up code's names are its own. */
ENTRY(Reset_Handler)

MEMORY
{
  FLASH (rx)  : ORIGIN = 0x08020000, LENGTH = 0x1FE00
  RAM   (rwx) : ORIGIN = 0x20000000, LENGTH = 96K
}

__stack_top = ORIGIN(RAM) + LENGTH(RAM);

SECTIONS
{
  .isr_vector :
  {
    . = ALIGN(4);
    KEEP(*(.isr_vector))
    . = ALIGN(4);
  } > FLASH

  .text :
  {
    . = ALIGN(4);
    *(.text)
    *(.text*)
    . = ALIGN(4);
    __code_end = .;
  } > FLASH

  .rodata :
  {
    . = ALIGN(4);
    *(.rodata)
    *(.rodata*)
    . = ALIGN(4);
  } > FLASH

  __data_load = LOADADDR(.data);

  .data :
  {
    . = ALIGN(4);
    __data_lo = .;
    *(.data)
    *(.data*)
    . = ALIGN(4);
    __data_hi = .;
  } > RAM AT> FLASH

  .bss :
  {
    . = ALIGN(4);
    __zero_lo = .;
    *(.bss)
    *(.bss*)
    *(COMMON)
    . = ALIGN(4);
    __zero_hi = .;
  } > RAM
}
