/* link: gnu -Wl,-n */
/* A word that ends the image, placed last, after .data's initial values. */
ENTRY(__entryPoint__)
MEMORY
{
  FLASH (rx)  : ORIGIN = 0x08020000, LENGTH = 0x1FE00
  RAM   (rwx) : ORIGIN = 0x20000000, LENGTH = 32K
}
SECTIONS
{
  .text : ALIGN(0x20000) { KEEP(*(.isr_vector)) *(.text*) *(.rodata*) . = ALIGN(4); } > FLASH
  _sidata = LOADADDR(.data);
  .data : { _sdata = .; *(.data*) . = ALIGN(4); _edata = .; } > RAM AT> FLASH
  .bss (NOLOAD) : { _sbss = .; *(.bss*) *(COMMON) . = ALIGN(4); _ebss = .; } > RAM
  ._stack (NOLOAD) : { . = ALIGN(8); . = . + 0x400; _estack = .; } > RAM
  .last_section : { LONG(0xE015E015) } > FLASH
  . = ADDR(.data);
  _ram_data_start = ADDR(.data);
}
