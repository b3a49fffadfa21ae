/* link: gnu -Wl,-n */
/* sources: ramfunc */
/* Code run from RAM in a bank of a larger part (CCM), which the device lacks. */
ENTRY(__entryPoint__)
MEMORY
{
  FLASH  (rx)  : ORIGIN = 0x08020000, LENGTH = 0x1FE00
  RAM    (rwx) : ORIGIN = 0x20000000, LENGTH = 32K
  CCMRAM (rwx) : ORIGIN = 0x10000000, LENGTH = 64K
}
SECTIONS
{
  .text : ALIGN(0x20000) { KEEP(*(.isr_vector)) *(.text*) *(.rodata*) . = ALIGN(4); } > FLASH
  _sidata = LOADADDR(.data);
  .data : { _sdata = .; *(.data*) . = ALIGN(4); _edata = .; } > RAM AT> FLASH
  .ramfunc : { *(.ramfunc*) } > CCMRAM AT> FLASH
  .bss (NOLOAD) : { _sbss = .; *(.bss*) *(COMMON) . = ALIGN(4); _ebss = .; } > RAM
  ._stack (NOLOAD) : { . = ALIGN(8); . = . + 0x400; _estack = .; } > RAM
  . = ADDR(.data);
  _ram_data_start = ADDR(.data);
}
