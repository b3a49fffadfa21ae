ENTRY(Reset_Handler)
MEMORY
{
  m_interrupts (RX) : ORIGIN = 0x08020000, LENGTH = 0x00000400
  m_text (RX) : ORIGIN = 0x08020400, LENGTH = 0x0001FA00
  m_data (RW) : ORIGIN = 0x20000000, LENGTH = 0x00008000
}
SECTIONS
{
  .interrupts :
  {
    __VECTOR_TABLE = .;
    . = ALIGN(4);
    KEEP(*(.isr_vector))
    . = ALIGN(4);
  } > m_interrupts
  .text :
  {
    . = ALIGN(4);
    *(.text)
    *(.text*)
    *(.rodata)
    *(.rodata*)
    *(.glue_7) *(.glue_7t) *(.vfp11_veneer) *(.v4_bx)
    KEEP(*(.init))
    KEEP(*(.fini))
    . = ALIGN(4);
  } > m_text
  .ARM :
  {
    __exidx_start = .;
    *(.ARM.exidx*)
    __exidx_end = .;
  } > m_text
  .data :
  {
    . = ALIGN(4);
    __DATA_RAM = .;
    _sdata = .;
    *(.data)
    *(.data*)
    . = ALIGN(4);
    _edata = .;
    __DATA_END = .;
  } > m_data AT> m_interrupts
  _sidata = LOADADDR(.data);
  .bss (NOLOAD) :
  {
    . = ALIGN(4);
    _sbss = .;
    *(.bss)
    *(.bss*)
    *(COMMON)
    . = ALIGN(4);
    _ebss = .;
  } > m_data
  .stack (NOLOAD) :
  {
    . = ALIGN(8);
    . += 0x400;
  } > m_data
  _estack = ORIGIN(m_data) + LENGTH(m_data);
}
