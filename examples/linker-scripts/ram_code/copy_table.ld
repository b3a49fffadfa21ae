/* The ram_code project's script with a copy table, after CMSIS-style
 * vendor scripts: the start-up code reads, from words in the flash, where
 * .data's initial values and the RAM code's bytes are loaded, where they
 * run and how long they are (LOADADDR, ADDR and SIZEOF of .ramfunc). The
 * RAM code stands in an output section of its own after .bss, which --fix
 * merges into .data: the table's words must still say the same. Used by
 * tests/fix_test.sh; the application's flash from 0x08020000, 32 KiB of
 * RAM. */
ENTRY(Reset_Handler)
MEMORY
{
  FLASH (rx) : ORIGIN = 0x08020000, LENGTH = 0x1FE00
  RAM  (rwx) : ORIGIN = 0x20000000, LENGTH = 32K
}
SECTIONS
{
  .text : ALIGN(0x20000)
  {
    KEEP(*(.isr_vector))
    *(.text*)
    KEEP(*(.rodata.Modbus*))
    *(.rodata*)
    . = ALIGN(4);
    __copy_table_start__ = .;
    LONG(LOADADDR(.data))
    LONG(__data_start__)
    LONG(__data_end__ - __data_start__)
    LONG(LOADADDR(.ramfunc))
    LONG(ADDR(.ramfunc))
    LONG(SIZEOF(.ramfunc))
    __copy_table_end__ = .;
    . = ALIGN(4);
  } > FLASH
  .data :
  {
    __data_start__ = .;
    _sdata = .;
    *(.data*)
    . = ALIGN(4);
    _edata = .;
    __data_end__ = .;
  } > RAM AT> FLASH
  _sidata = LOADADDR(.data);
  .bss (NOLOAD) :
  {
    _sbss = .;
    *(.bss*)
    *(COMMON)
    . = ALIGN(4);
    _ebss = .;
  } > RAM
  .ramfunc :
  {
    *(.ramfunc*)
  } > RAM AT> FLASH
  .stack (NOLOAD) :
  {
    . = ALIGN(8);
    . += 0x400;
    _estack = .;
  } > RAM
}
