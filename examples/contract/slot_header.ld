/* After the scripts of applications that a boot loader starts from a slot,
 * given only the device's edits (the slot at 0x08020000, 32 KiB of RAM):
 * the slot's first 0x200 bytes a region of their own, filled, for the
 * header the boot loader's tool writes after the link; the code region
 * after it, the vector table first there in an output section of its own;
 * .data loaded into the flash with AT>, .bss, and the stack top at the end
 * of RAM. The start-up code's names are its own; it points the vector
 * table register at 0x08020200. */
ENTRY(Reset_Handler)

MEMORY
{
  SLOT_HEADER (r) : ORIGIN = 0x08020000, LENGTH = 0x200
  CODE (rx)       : ORIGIN = 0x08020200, LENGTH = 0x1FC00
  RAM (rwx)       : ORIGIN = 0x20000000, LENGTH = 32K
}

__stack_top = ORIGIN(RAM) + LENGTH(RAM);

SECTIONS
{
  .slot_header :
  {
    FILL(0xFFFFFFFF)
    . = . + 0x200;
  } > SLOT_HEADER

  .vectors :
  {
    KEEP(*(.isr_vector))
  } > CODE

  .text :
  {
    *(.text .text.*)
    *(.rodata .rodata.*)
    . = ALIGN(4);
  } > CODE

  __data_load = LOADADDR(.data);

  .data :
  {
    . = ALIGN(4);
    __data_lo = .;
    *(.data .data.*)
    . = ALIGN(4);
    __data_hi = .;
  } > RAM AT> CODE

  .bss (NOLOAD) :
  {
    . = ALIGN(4);
    __zero_lo = .;
    *(.bss .bss.*)
    *(COMMON)
    . = ALIGN(4);
    __zero_hi = .;
  } > RAM
}
