/* The example's script with .data placed "> RAM AT> RAM" and the code range
 * ended with the flash sections: the initial values of .data are loaded
 * where .data runs, in RAM, where no image carries them.
 * Linked by build.sh as at_ram (GNU ld) and at_ram_lld; pakforge refuses
 * both. */
ENTRY(__entryPoint__)

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
    KEEP(*(.text.loop))
    *(.text*)
    KEEP(*(.rodata.Modbus*))
    *(.rodata*)
    /* Sections the linker makes itself (interworking stubs, veneers): left
     * unplaced, they would be listed after the end of the block. */
    *(.glue_7) *(.glue_7t) *(.vfp11_veneer) *(.v4_bx) *(.iplt) *(.rel.iplt)
    . = ALIGN(4);
  } > FLASH

  .ARM.exidx :
  {
    *(.ARM.exidx* .gnu.linkonce.armexidx.*)
  } > FLASH

  _flash_end = .;

  .data :
  {
    _sdata = .;
    *(.data*)
    . = ALIGN(4);
    _edata = .;
  } > RAM AT> RAM
  _data_image_size = _edata - _sdata;
  _sidata = LOADADDR(.data);

  .bss (NOLOAD) :
  {
    _sbss = .;
    *(.bss*)
    *(COMMON)
    . = ALIGN(4);
    _ebss = .;
  } > RAM

  /* The RAM check takes the start of the RAM data from the last line of the
   * map that holds both ".data" and a RAM address; input sections of .data
   * from later files can stand there otherwise. */
  . = ADDR(.data);
  _ram_data_start = ADDR(.data);
}
