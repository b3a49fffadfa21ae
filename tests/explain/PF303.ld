/* link: gnu -Wl,-n -Wl,--gc-sections */
/* The recipe's script linked with --gc-sections: the tables only the loader reads are discarded. */
ENTRY(__entryPoint__)
MEMORY
{
  FLASH (rx)  : ORIGIN = 0x08020000, LENGTH = 0x1FE00
  RAM   (rwx) : ORIGIN = 0x20000000, LENGTH = 32K
}
SECTIONS
{
  .text : ALIGN(0x20000) { KEEP(*(.isr_vector)) KEEP(*(.text.__entryPoint__)) KEEP(*(.text.loop)) *(.text*)
    *(.rodata*)
    . = ALIGN(4); } > FLASH
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
