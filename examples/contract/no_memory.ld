/* After a bare-metal project's script that has no MEMORY block: the
 * location counter is set to the flash, then to the RAM before .data, whose
 * initial values follow the code (AT). */
ENTRY(Reset_Handler)

__stack_top = 0x20008000;

SECTIONS
{
  . = 0x08020000;
  .text :
  {
    KEEP(*(.isr_vector))
    *(.text*)
    *(.rodata*)
    . = ALIGN(4);
  }
  __data_load = .;

  . = 0x20000000;
  .data : AT(__data_load)
  {
    __data_lo = .;
    *(.data*)
    . = ALIGN(4);
    __data_hi = .;
  }

  .bss :
  {
    __zero_lo = .;
    *(.bss*)
    *(COMMON)
    . = ALIGN(4);
    __zero_hi = .;
  }
}
