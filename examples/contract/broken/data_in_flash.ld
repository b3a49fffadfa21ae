/* no_memory.ld as an edit of the code range's end left it: the end lines
 * after the location counter was set to the RAM, so .data and .bss run in
 * the flash after the initial values. */
ENTRY(Reset_Handler)

__stack_top = 0x20008000;

SECTIONS
{
  . = 0x08020000;
  .text : ALIGN(0x20000)
  {
    KEEP(*(.isr_vector))
    *(.text*)
    *(.rodata*)
    . = ALIGN(4);
  }
  __data_load = .;

  . = 0x20000000;
  . = __data_load + __data_size;
  __flash_end = .;
  .data : AT(__data_load)
  {
    __data_lo = .;
    *(.data*)
    . = ALIGN(4);
    __data_hi = .;
  }
  __data_size = SIZEOF(.data);

  .bss :
  {
    __zero_lo = .;
    *(.bss*)
    *(COMMON)
    . = ALIGN(4);
    __zero_hi = .;
  }
}
