/* link: gnu -Wl,-n */
/* The application's flash region starting at 0x08023000, past a reserved block. */
ENTRY(__entryPoint__)
MEMORY
{
  FLASH (rx) : ORIGIN = 0x08023000, LENGTH = 0x1CE00
  RAM   (rwx) : ORIGIN = 0x20000000, LENGTH = 32K
}
SECTIONS
{
  .text : { KEEP(*(.isr_vector)) *(.text*) *(.rodata*) . = ALIGN(4); } > FLASH
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
