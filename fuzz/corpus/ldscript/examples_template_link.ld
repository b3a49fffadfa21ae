/* The application's linker script, written for pakforge's map rules, and a
 * template for C and C++ firmware built the way STM32CubeMX and
 * STM32CubeIDE projects are: it has the section and symbol names that their
 * startup files, newlib (-nano) and libstdc++ use, so such a project links
 * with it as it stands, under GNU ld and LLD alike.
 *
 * The device's loader occupies the flash below 0x08020000; the application
 * owns the rest, up to 0x0803FE00. pakforge finds the code range in the map
 * file: it starts at the first line holding ".text" and ends at the last
 * address line before the first line holding ".data". So everything the
 * application needs in flash (code, read-only data, the exception and
 * constructor tables, and the initial values of .data) is placed in one
 * block from the start of .text, and the line that ends the block
 * (_flash_end) comes right before .data, in an expression that does not
 * itself name .data (the forward reference to _data_image_size).
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
 * - LLD will not put .ARM.exidx inside another output section: it gets a
 *   flash section of its own, inside the block.
 * - C++ exception tables refer to their type information through
 *   R_ARM_TARGET2, which LLD turns into a .got unless it is linked with
 *   --target2=rel, as GNU ld reads it for this target. */
ENTRY(__entryPoint__)

MEMORY
{
  FLASH (rx)  : ORIGIN = 0x08020000, LENGTH = 0x1FE00
  RAM   (rwx) : ORIGIN = 0x20000000, LENGTH = 32K
}

/* The heap and the stack the firmware reserves after .bss, by the names a
 * CubeMX project's sysmem.c uses; --defsym=_Min_Stack_Size=0x800 and the
 * like set others. newlib's malloc takes the heap a 4 KiB page at a time,
 * and a C++ throw allocates its exception there: 8 KiB leave room for both
 * (CubeMX's 0x200 makes the first `new` fail). */
PROVIDE(_Min_Heap_Size = 0x2000);
PROVIDE(_Min_Stack_Size = 0x400);

SECTIONS
{
  .text : ALIGN(0x20000)
  {
    /* A vector table first, where a Cortex-M's VTOR can point: the start of
     * .text is 128 KiB aligned. */
    KEEP(*(.isr_vector))
    KEEP(*(.text.__entryPoint__))
    KEEP(*(.text.loop))
    *(.text*)
    KEEP(*(.init))
    KEEP(*(.fini))
    *(.eh_frame)
    KEEP(*(.rodata.Modbus*))
    *(.rodata*)
    *(.ARM.extab* .gnu.linkonce.armextab.*)
    /* Sections the linker makes itself (interworking stubs, veneers): left
     * unplaced, they would be listed after the end of the block. */
    *(.glue_7) *(.glue_7t) *(.vfp11_veneer) *(.v4_bx) *(.iplt) *(.rel.iplt)
    . = ALIGN(4);
  } > FLASH

  /* The unwinder's index of the exception tables (libgcc's unwinder looks
   * for it between these two symbols). */
  .ARM.exidx :
  {
    __exidx_start = .;
    *(.ARM.exidx* .gnu.linkonce.armexidx.*)
    __exidx_end = .;
  } > FLASH

  /* Static constructors and destructors, run by __libc_init_array. */
  .preinit_array :
  {
    PROVIDE_HIDDEN(__preinit_array_start = .);
    KEEP(*(.preinit_array*))
    PROVIDE_HIDDEN(__preinit_array_end = .);
  } > FLASH
  .init_array :
  {
    PROVIDE_HIDDEN(__init_array_start = .);
    KEEP(*(SORT(.init_array.*)))
    KEEP(*(.init_array*))
    PROVIDE_HIDDEN(__init_array_end = .);
  } > FLASH
  .fini_array :
  {
    PROVIDE_HIDDEN(__fini_array_start = .);
    KEEP(*(SORT(.fini_array.*)))
    KEEP(*(.fini_array*))
    PROVIDE_HIDDEN(__fini_array_end = .);
  } > FLASH

  /* A 64-bit variable or a double makes .data 8-aligned, and the file keeps
   * that alignment for its initial values: loaded at an address that is
   * only 4-aligned, they would lie further on in the file than in the
   * flash. */
  . = ALIGN(8);
  _sidata = .;
  . = _sidata + _data_image_size;
  _flash_end = .;

  /* Functions the firmware runs from RAM (.RamFunc) are copied with the
   * initial values of .data by the startup code. ALIGN(8) here makes the
   * file keep .data 8-aligned too, whatever it holds: the file then has the
   * gap before the initial values that the flash has. */
  .data : AT(_sidata) ALIGN(8)
  {
    _sdata = .;
    *(.data*)
    *(.RamFunc)
    *(.RamFunc*)
    . = ALIGN(8);
    _edata = .;
  } > RAM
  _data_image_size = _edata - _sdata;

  .bss (NOLOAD) :
  {
    _sbss = .;
    __bss_start__ = _sbss;
    *(.bss*)
    *(COMMON)
    . = ALIGN(8);
    _ebss = .;
    __bss_end__ = _ebss;
  } > RAM

  /* The heap from `end` (where newlib's _sbrk starts it), then the stack,
   * whose top _estack is the end of what the firmware uses: the RAM report
   * reads its highest RAM address from that line, so it counts .data, .bss
   * and this reservation, and CubeMX's _sbrk stops the heap at
   * _estack - _Min_Stack_Size. */
  ._user_heap_stack (NOLOAD) :
  {
    . = ALIGN(8);
    PROVIDE(end = .);
    PROVIDE(_end = .);
    . = . + _Min_Heap_Size;
    . = . + _Min_Stack_Size;
    . = ALIGN(8);
    _estack = .;
  } > RAM

  /* The RAM check takes the start of the RAM data from the last line of the
   * map that holds both ".data" and a RAM address; input sections of .data
   * from later files can stand there otherwise. */
  . = ADDR(.data);
  _ram_data_start = ADDR(.data);
}
