MEMORY
{
  flash0 (rx) : org = 0x08020000, len = 0x1FE00
  ram0 (wx) : org = 0x20000000, len = 32k
  ram1 (wx) : org = 0x20000000, len = 112k
  ram2 (wx) : org = 0x2001C000, len = 16k
  ram4 (wx) : org = 0x10000000, len = 64k
}
REGION_ALIAS("VECTORS_FLASH", flash0);
REGION_ALIAS("XTORS_FLASH", flash0);
REGION_ALIAS("TEXT_FLASH", flash0);
REGION_ALIAS("RODATA_FLASH", flash0);
REGION_ALIAS("VARIOUS_FLASH", flash0);
REGION_ALIAS("RAMTEXT_RAM", ram0);
REGION_ALIAS("MAIN_STACK_RAM", ram0);
REGION_ALIAS("PROCESS_STACK_RAM", ram0);
REGION_ALIAS("DATA_RAM", ram0);
REGION_ALIAS("BSS_RAM", ram0);
REGION_ALIAS("HEAP_RAM", ram0);
__main_stack_size__ = 0x400;
__process_stack_size__ = 0x400;
__ram0_base__ = ORIGIN(ram0);
__ram0_size__ = LENGTH(ram0);
__ram0_end__ = __ram0_base__ + __ram0_size__;
__ram1_base__ = ORIGIN(ram1);
__ram1_size__ = LENGTH(ram1);
__ram1_end__ = __ram1_base__ + __ram1_size__;
__ram2_base__ = ORIGIN(ram2);
__ram2_size__ = LENGTH(ram2);
__ram2_end__ = __ram2_base__ + __ram2_size__;
__ram4_base__ = ORIGIN(ram4);
__ram4_size__ = LENGTH(ram4);
__ram4_end__ = __ram4_base__ + __ram4_size__;
ENTRY(Reset_Handler)
SECTIONS
{
  .vectors : ALIGN(16)
  {
    KEEP(*(.vectors))
  } > VECTORS_FLASH
  .xtors : ALIGN(4)
  {
    __init_array_start = .;
    KEEP(*(SORT(.init_array.*)))
    KEEP(*(.init_array))
    __init_array_end = .;
    __fini_array_start = .;
    KEEP(*(.fini_array))
    KEEP(*(SORT(.fini_array.*)))
    __fini_array_end = .;
  } > XTORS_FLASH
  .text : ALIGN(16)
  {
    __text_base = .;
    *(.text)
    *(.text.*)
    *(.glue_7t)
    *(.glue_7)
    *(.gcc*)
    __text_end = .;
  } > TEXT_FLASH
  .rodata : ALIGN(4)
  {
    . = ALIGN(4);
    __rodata_base__ = .;
    *(.rodata)
    *(.rodata.*)
    . = ALIGN(4);
    __rodata_end__ = .;
  } > RODATA_FLASH
  .ARM.extab :
  {
    *(.ARM.extab* .gnu.linkonce.armextab.*)
  } > VARIOUS_FLASH
  .ARM.exidx : {
    __exidx_start = .;
    *(.ARM.exidx* .gnu.linkonce.armexidx.*)
    __exidx_end = .;
  } > VARIOUS_FLASH
  .eh_frame_hdr :
  {
    *(.eh_frame_hdr)
  } > VARIOUS_FLASH
  .eh_frame : ONLY_IF_RO
  {
    *(.eh_frame)
  } > VARIOUS_FLASH
  .mstack :
  {
    . = ALIGN(8);
    __main_stack_base__ = .;
    . += __main_stack_size__;
    . = ALIGN(8);
    __main_stack_end__ = .;
  } > MAIN_STACK_RAM
  .pstack :
  {
    __process_stack_base__ = .;
    __main_thread_stack_base__ = .;
    . += __process_stack_size__;
    . = ALIGN(8);
    __process_stack_end__ = .;
    __main_thread_stack_end__ = .;
  } > PROCESS_STACK_RAM
  .data : ALIGN(4)
  {
    PROVIDE(_textdata = LOADADDR(.data));
    PROVIDE(_data = .);
    __textdata_base__ = LOADADDR(.data);
    __data_base__ = .;
    *(.data)
    *(.data.*)
    *(.ramtext)
    . = ALIGN(4);
    PROVIDE(_edata = .);
    __data_end__ = .;
  } > DATA_RAM AT > flash0
  .bss (NOLOAD) : ALIGN(4)
  {
    __bss_base__ = .;
    *(.bss)
    *(.bss.*)
    *(COMMON)
    . = ALIGN(4);
    __bss_end__ = .;
    PROVIDE(end = .);
  } > BSS_RAM
  __heap_base__ = ALIGN(8);
  __heap_end__ = __ram0_end__;
}
