/* A firmware of a team's own, for checking that a fixed linker script keeps
 * what the firmware relies on: its start-up code copies .data and zeroes
 * .bss by names of its own (not the recipe's _sidata, _sdata ...), its
 * vector table is an object named exception_table in .isr_vector, and its
 * entry point points the vector table register at the application's flash
 * (0x08020000, as CubeMX's SystemInit does with VECT_TAB_OFFSET 0x20000)
 * and takes a PendSV interrupt on every loop. A vector table that no longer
 * stands at the code start sends that interrupt elsewhere; .data that runs
 * outside RAM keeps nothing; a copy or zero symbol that moved leaves the
 * report below wrong.
 *
 *   COPY_TABLE     the start-up reads .data's bounds from a copy table the
 *                  script writes (LONG(LOADADDR(.data)) ...), not from symbols
 *   VECTOR_BOUNDS  the script names the vector table's bounds
 *                  (__vectors_start, __vectors_end), which must hold the
 *                  16 words of exception_table: the report's end marker
 *                  says 0xBAD when they don't
 *   SECTION_TABLE  the start-up walks a section table the script writes, as
 *                  LPCXpresso's does: (load, run, size) for each bank's
 *                  data, (run, size) for each bank's .bss; a word of the
 *                  second bank's data must arrive, or the checksum is wrong
 *   APPLICATION_VECTORS  where the vector table stands, for the register
 *                  (0x08020000 by default; an image a boot loader's slot
 *                  header precedes has it further on) */
#include <stdint.h>

#include "modbus.h"

typedef void (*Handler)(void);

extern uint32_t __stack_top[];
#ifdef COPY_TABLE
extern const uint32_t __copy_table[3];
#elif defined(SECTION_TABLE)
extern const uint32_t __data_section_table[], __data_section_table_end[];
extern const uint32_t __bss_section_table[], __bss_section_table_end[];
#else
extern uint32_t __data_load[], __data_lo[], __data_hi[];
#endif
extern uint32_t __zero_lo[], __zero_hi[];
#ifdef VECTOR_BOUNDS
extern const uint32_t __vectors_start[], __vectors_end[];
#endif

/* What the test reads back after the loader's run: its first word is
 * initialised data, which only a right copy makes 0x5AFE0001. */
struct Report {
  uint32_t magic;
  uint32_t pendSvs;       /* interrupts taken through this table */
  uint32_t loops;         /* loop() calls */
  uint32_t stackTop;      /* the vector table's first word */
  uint32_t zeroed;        /* 1 when .bss read zero after the start-up */
  uint32_t checksum;      /* the Modbus registers, from .data */
  uint32_t wrongHandler;  /* interrupts that reached the default handler */
  uint32_t end;
};
volatile struct Report report = {0x5AFE0001u, 0, 0, 0, 0, 0, 0, 0xE0Du};
uint16_t holdingRegisters[8] = {1, 2, 3, 4, 5, 6, 7, 8};
static volatile uint32_t leftZero[4];

#define SCB_ICSR (*(volatile uint32_t*)0xE000ED04u)
#define SCB_VTOR (*(volatile uint32_t*)0xE000ED08u)
#ifndef APPLICATION_VECTORS
#define APPLICATION_VECTORS 0x08020000u
#endif

void Default_Handler(void) {
  ++report.wrongHandler;
}

void PendSV_Handler(void) {
  ++report.pendSvs;
}

void Reset_Handler(void);

__attribute__((used, section(".isr_vector"))) const Handler exception_table[16] = {
    (Handler)__stack_top, Reset_Handler, Default_Handler, Default_Handler, Default_Handler,
    Default_Handler, Default_Handler, 0, 0, 0, 0, Default_Handler, Default_Handler, 0,
    PendSV_Handler, Default_Handler};

#ifdef SECTION_TABLE
/* Initialised data of the second RAM bank, which its entry copies. */
__attribute__((section(".data.$RAM2"))) volatile uint32_t bankWord = 0x5A5A5A5Au;
#endif

#if defined(VECTOR_BOUNDS) || defined(SECTION_TABLE)
/* An address as the linker set it: the compiler may take two symbols for
 * distinct objects and fold a comparison of them. */
static uintptr_t addressOf(const volatile void* symbol) {
  uintptr_t address = (uintptr_t)symbol;
  __asm__("" : "+r"(address));
  return address;
}
#endif

#ifdef SECTION_TABLE
static void startData(void) {
  for (uintptr_t e = addressOf(__data_section_table); e < addressOf(__data_section_table_end);
       e += 12) {
    const uint32_t* entry = (const uint32_t*)e;
    const uint32_t* from = (const uint32_t*)entry[0];
    uint32_t* to = (uint32_t*)entry[1];
    for (uint32_t n = 0; n < entry[2]; n += 4) {
      *to++ = *from++;
    }
  }
  leftZero[1] = 0x77u; /* the zeroing below must clear it */
  for (uintptr_t e = addressOf(__bss_section_table); e < addressOf(__bss_section_table_end);
       e += 8) {
    const uint32_t* entry = (const uint32_t*)e;
    uint32_t* z = (uint32_t*)entry[0];
    for (uint32_t n = 0; n < entry[1]; n += 4) {
      *z++ = 0;
    }
  }
}
#else
static void startData(void) {
#ifdef COPY_TABLE
  const uint32_t* from = (const uint32_t*)__copy_table[0];
  uint32_t* to = (uint32_t*)__copy_table[1];
  uint32_t* const end = (uint32_t*)__copy_table[2];
#else
  const uint32_t* from = __data_load;
  uint32_t* to = __data_lo;
  uint32_t* const end = __data_hi;
#endif
  while (to < end) {
    *to++ = *from++;
  }
  leftZero[1] = 0x77u; /* the zeroing below must clear it */
  for (uint32_t* z = __zero_lo; z < __zero_hi;) {
    *z++ = 0;
  }
}
#endif

void __entryPoint__(void) {
  startData();
  report.zeroed = leftZero[1] == 0 ? 1u : 0u;
  report.stackTop = *(const volatile uint32_t*)APPLICATION_VECTORS;
  report.checksum = modbusChecksum();
#ifdef SECTION_TABLE
  report.checksum ^= bankWord ^ 0x5A5A5A5Au;
#endif
#ifdef VECTOR_BOUNDS
  if (addressOf(__vectors_end) - addressOf(__vectors_start) != sizeof exception_table ||
      addressOf(__vectors_start) != addressOf(exception_table)) {
    report.end = 0xBADu;
  }
#endif
  SCB_VTOR = APPLICATION_VECTORS;
  __asm__ volatile("dsb\n isb" ::: "memory");
}

void loop(void) {
  ++report.loops;
  SCB_ICSR = 1u << 28; /* PENDSVSET */
  __asm__ volatile("dsb\n isb" ::: "memory");
}

void Reset_Handler(void) {
  __entryPoint__();
  for (;;) {
    loop();
  }
}
