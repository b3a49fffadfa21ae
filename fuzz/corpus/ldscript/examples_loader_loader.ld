/* The loader: its code at the start of the flash, below the image (which
 * starts 76 bytes before 0x08020000); its stack and data above the
 * application's RAM. */
ENTRY(resetHandler)

MEMORY
{
  FLASH (rx) : ORIGIN = 0x08000000, LENGTH = 0x10000
  RAM (rwx)  : ORIGIN = 0x20010000, LENGTH = 0x8000
}

SECTIONS
{
  .text :
  {
    KEEP(*(.vectors))
    *(.text*)
    *(.rodata*)
  } > FLASH

  .bss (NOLOAD) :
  {
    *(.bss*)
    *(COMMON)
  } > RAM

  _estack = ORIGIN(RAM) + LENGTH(RAM);
}
