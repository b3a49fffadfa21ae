/* After an RTOS port's script that places the zeroed RAM before the
 * initialised RAM: .bss first in RAM, then .data, loaded after the code. */
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
    *(.rodata*)
    . = ALIGN(4);
  } > FLASH

  .bss (NOLOAD) :
  {
    __zero_lo = .;
    *(.bss*)
    *(COMMON)
    . = ALIGN(4);
    __zero_hi = .;
  } > RAM

  .data :
  {
    __data_lo = .;
    *(.data*)
    . = ALIGN(4);
    __data_hi = .;
  } > RAM AT> FLASH
  __data_load = LOADADDR(.data);
}
