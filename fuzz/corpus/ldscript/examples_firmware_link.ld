/* The application's linker script, written for pakforge's map rules.
 *
 * The device's loader occupies the flash below 0x08020000; the application
 * owns the rest, up to 0x0803FE00. pakforge finds the code range in the map
 * file: it starts at the first line holding ".text" and ends at the last
 * address line before the first line holding ".data". So everything the
 * application needs in flash (code, read-only data and the initial values
 * of .data) is placed in one block from the start of .text, and the line
 * that ends the block (_flash_end) comes right before .data, in an
 * expression that does not itself name .data (the forward reference to
 * _data_image_size).
 *
 * pakforge takes the code from the ELF file at offset 0x20000 for code at
 * 0x08020000: ALIGN(0x20000) on .text, with the link made with -n (no page
 * alignment of segments), puts .text exactly there, and .data's initial
 * values right after it, as in flash.
 *
 * The same script serves GNU ld and LLVM's LLD. Where they differ:
 * - LLD's map prints an assignment with the location counter at that point,
 *   not with the value assigned. So the end of the block moves the location
 *   counter itself (". = _sidata + _data_image_size"), and the RAM data's
 *   start is set the same way (". = ADDR(.data)") before the line that
 *   names it; GNU ld prints the same values for these lines.
 * - clang always emits .ARM.exidx, and LLD will not put it inside .text: it
 *   gets a flash section of its own, inside the block. */
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

  _sidata = .;
  . = _sidata + _data_image_size;
  _flash_end = .;

  .data : AT(_sidata)
  {
    _sdata = .;
    *(.data*)
    . = ALIGN(4);
    _edata = .;
  } > RAM
  _data_image_size = _edata - _sdata;

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
