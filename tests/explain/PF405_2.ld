/* link: gnu -Wl,-n */
/* A boot loader's image header reserved before .text, as Mynewt's scripts keep it. */
ENTRY(__entryPoint__)
MEMORY
{
  FLASH (rx)  : ORIGIN = 0x08020000, LENGTH = 0x1FE00
  RAM   (rwx) : ORIGIN = 0x20000000, LENGTH = 32K
}
_imghdr_size = 0x20;
SECTIONS
{
  .imghdr (NOLOAD) :
  {
    . = . + _imghdr_size;
  } > FLASH
  __text = .;
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
