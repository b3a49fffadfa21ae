/* After the scripts an IDE manages for parts with two RAM banks, given only
 * the device's edits: a section table at the head of .text that the
 * start-up code walks ((load, run, size) for each bank's data, then
 * (run, size) for each bank's .bss), the second bank's .data_RAM2 loaded
 * AT> FLASH before .data, .bss_RAM2 before .bss. The device lacks that
 * bank: its data reaches no memory until the sections move into the
 * device's RAM with their table entries. */
ENTRY(Reset_Handler)

MEMORY
{
  FLASH (rx)  : ORIGIN = 0x08020000, LENGTH = 0x1FE00
  RAM   (rwx) : ORIGIN = 0x20000000, LENGTH = 32K
  RAM2  (rwx) : ORIGIN = 0x2007C000, LENGTH = 16K
}

__stack_top = ORIGIN(RAM) + LENGTH(RAM);

SECTIONS
{
  .text :
  {
    KEEP(*(.isr_vector))
    . = ALIGN(4);
    __data_section_table = .;
    LONG(LOADADDR(.data_RAM2));
    LONG(ADDR(.data_RAM2));
    LONG(SIZEOF(.data_RAM2));
    LONG(LOADADDR(.data));
    LONG(ADDR(.data));
    LONG(SIZEOF(.data));
    __data_section_table_end = .;
    __bss_section_table = .;
    LONG(ADDR(.bss_RAM2));
    LONG(SIZEOF(.bss_RAM2));
    LONG(ADDR(.bss));
    LONG(SIZEOF(.bss));
    __bss_section_table_end = .;
    *(.text*)
    *(.rodata*)
    . = ALIGN(4);
  } > FLASH

  .data_RAM2 : ALIGN(4)
  {
    *(.data.$RAM2*)
    . = ALIGN(4);
  } > RAM2 AT> FLASH

  .data : ALIGN(4)
  {
    *(.data*)
    . = ALIGN(4);
  } > RAM AT> FLASH

  .bss_RAM2 (NOLOAD) : ALIGN(4)
  {
    *(.bss.$RAM2*)
    . = ALIGN(4);
  } > RAM2

  .bss (NOLOAD) : ALIGN(4)
  {
    *(.bss*)
    *(COMMON)
    . = ALIGN(4);
  } > RAM
}
