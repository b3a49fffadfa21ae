/* The same application under a linker script in the style that vendors'
 * project templates use: _etext ends .text, and the initial values of .data
 * are found with LOADADDR(.data). The map rules then end the code range at
 * _etext, before the initial values of .data: pakforge refuses the image
 * rather than leave them out. Kept to show that failure. */
MEMORY
{
  FLASH (rx)  : ORIGIN = 0x08020000, LENGTH = 0x1FE00
  RAM   (rwx) : ORIGIN = 0x20000000, LENGTH = 32K
}

SECTIONS
{
  .text : ALIGN(0x20000)
  {
    KEEP(*(.text.__entryPoint__))
    *(.text*)
    *(.rodata*)
    *(.glue_7) *(.glue_7t) *(.vfp11_veneer) *(.v4_bx) *(.iplt) *(.rel.iplt)
    . = ALIGN(4);
    _etext = .;
  } > FLASH

  _sidata = LOADADDR(.data);

  .data :
  {
    _sdata = .;
    *(.data*)
    . = ALIGN(4);
    _edata = .;
  } > RAM AT > FLASH

  .bss (NOLOAD) :
  {
    _sbss = .;
    *(.bss*)
    *(COMMON)
    . = ALIGN(4);
    _ebss = .;
  } > RAM
}
