/* The vector table and reset handler of a Cortex-M project's startup file,
 * so that the example firmware links the way projects built on a vendor's
 * or a framework's linker script link: the table in the section that script
 * expects, its first word the stack top that script defines. Started by the
 * device's loader, the firmware never runs this; on its own, it boots
 * through it.
 *
 *   VECTORS_SECTION  the table's section (".isr_vector" by default)
 *   STACK_TOP        the script's stack top symbol (_estack by default)
 *   SPLIT_VECTORS    the table in the three sections of the Rust embedded
 *                    runtime's script, which writes the stack top itself
 *   EIGHT_BYTE_DATA  a 64-bit counter in .data, which makes .data 8-aligned,
 *                    as a double or a 64-bit variable does in real firmware
 *   APPS_SECTION     a table in that section, which the project keeps in a
 *                    flash region of its own
 *   STACK_WORDS      the stack an array of that many words in .bss, its end
 *                    the stack top, as TI's TivaWare start-up files keep it
 *                    (the script then defines no stack top) */
#include <stdint.h>

#ifndef VECTORS_SECTION
#define VECTORS_SECTION ".isr_vector"
#endif
#ifndef STACK_TOP
#define STACK_TOP _estack
#endif

typedef void (*Handler)(void);

void __entryPoint__(void);
void loop(void);

#ifdef EIGHT_BYTE_DATA
volatile uint64_t resetCount = 1;
#endif

#ifdef APPS_SECTION
__attribute__((used, section(APPS_SECTION))) const uint32_t appsTable[4] = {1, 2, 3, 4};
#endif

void Reset_Handler(void) {
#ifdef EIGHT_BYTE_DATA
  ++resetCount;
#endif
  __entryPoint__();
  for (;;) {
    loop();
  }
}

void Default_Handler(void) {
  for (;;) {
  }
}

#ifdef SPLIT_VECTORS
__attribute__((used, section(".vector_table.reset_vector"))) const Handler resetVector =
    Reset_Handler;
__attribute__((used, section(".vector_table.exceptions"))) const Handler exceptions[14] = {
    [0 ... 13] = Default_Handler};
__attribute__((used, section(".vector_table.interrupts"))) const Handler interrupts[82] = {
    [0 ... 81] = Default_Handler};
#else
#ifdef STACK_WORDS
static uint32_t stack[STACK_WORDS];
#define STACK_END (stack + STACK_WORDS)
#else
extern uint32_t STACK_TOP[];
#define STACK_END STACK_TOP
#endif
/* 16 exception and 82 interrupt vectors, as on an STM32F407. */
__attribute__((used, section(VECTORS_SECTION))) const Handler g_pfnVectors[98] = {
    (Handler)STACK_END, Reset_Handler, [2 ... 97] = Default_Handler};
#endif
