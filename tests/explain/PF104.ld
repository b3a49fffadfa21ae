/* link: gnu -Wl,-n */
/* The vector table and the reset handler in an output section of their own before .text. */
ENTRY(__entryPoint__)
MEMORY
{
  FLASH (rx)  : ORIGIN = 0x08020000, LENGTH = 0x1FE00
  RAM   (rwx) : ORIGIN = 0x20000000, LENGTH = 32K
}
SECTIONS
{
  .startup : ALIGN(0x20000) { KEEP(*(.isr_vector)) *(.text.Reset_Handler) } > FLASH
  .text :
  {
    *(.text*)
    *(.rodata*)
  } > FLASH
  _sidata = .;
  . = _sidata + _data_image_size;
  _flash_end = .;
  .data : AT(_sidata) { _sdata = .; *(.data*) . = ALIGN(4); _edata = .; } > RAM
  _data_image_size = _edata - _sdata;
  .bss (NOLOAD) : { _sbss = .; *(.bss*) *(COMMON) . = ALIGN(4); _ebss = .; } > RAM
  ._stack (NOLOAD) : { . = ALIGN(8); . = . + 0x400; _estack = .; } > RAM
  . = ADDR(.data);
  _ram_data_start = ADDR(.data);
}
