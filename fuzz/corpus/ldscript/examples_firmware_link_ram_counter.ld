/* The example's script after a wrong edit: .bss placed before .data, and
 * "_sidata = .;" written directly before .data, where the location counter
 * is .bss's end in RAM. The initial values of .data are then loaded into
 * RAM, where no image carries them, and the code range ends with the flash
 * sections. Linked by build.sh as ram_counter (GNU ld) and ram_counter_lld;
 * pakforge refuses both. */
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

  .bss (NOLOAD) :
  {
    _sbss = .;
    *(.bss*)
    *(COMMON)
    . = ALIGN(4);
    _ebss = .;
  } > RAM

  . = ALIGN(16);
  _sidata = .;
  .data : AT(_sidata)
  {
    _sdata = .;
    *(.data*)
    . = ALIGN(4);
    _edata = .;
  } > RAM
  _data_image_size = _edata - _sdata;

  /* The RAM check takes the start of the RAM data from the last line of the
   * map that holds both ".data" and a RAM address; input sections of .data
   * from later files can stand there otherwise. */
  . = ADDR(.data);
  _ram_data_start = ADDR(.data);
}
