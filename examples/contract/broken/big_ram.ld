/* big_ram.ld with the code range fixed but the RAM region left as the larger
 * part's: the stack top at its end, the vector table's first word, lies 64 KiB
 * past the device's RAM. */
ENTRY(Reset_Handler)

MEMORY
{
  FLASH (rx)  : ORIGIN = 0x08020000, LENGTH = 0x1FE00
  RAM   (rwx) : ORIGIN = 0x20000000, LENGTH = 96K
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
