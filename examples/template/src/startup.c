/* The startup of a CubeMX-generated STM32F407 project, in C: the vector
 * table in .isr_vector, its first word _estack; the copy of .data's initial
 * values from _sidata, .bss cleared, the static constructors run by
 * newlib's __libc_init_array. The device's loader calls __entryPoint__,
 * which starts the firmware the same way; on its own the firmware boots
 * through Reset_Handler. */
#include <stdint.h>

extern uint32_t _sidata[], _sdata[], _edata[], _sbss[], _ebss[], _estack[];
extern void __libc_init_array(void);
extern int main(void);

void startFirmware(void) {
  /* The FPU, as CubeMX's SystemInit enables it: full access for CP10 and
   * CP11, before any floating-point instruction runs. */
  *(volatile uint32_t*)0xE000ED88u |= (0xFu << 20);
  __asm volatile("dsb\n\tisb" ::: "memory");
  const uint32_t* from = _sidata;
  for (uint32_t* to = _sdata; to < _edata;) {
    *to++ = *from++;
  }
  for (uint32_t* to = _sbss; to < _ebss;) {
    *to++ = 0;
  }
  __libc_init_array();
}

void Reset_Handler(void) {
  startFirmware();
  main();
  for (;;) {
  }
}

void Default_Handler(void) {
  for (;;) {
  }
}

typedef void (*Handler)(void);

/* 16 exception and 82 interrupt vectors, as on an STM32F407. */
__attribute__((used, section(".isr_vector"))) const Handler g_pfnVectors[98] = {
    (Handler)_estack, Reset_Handler, [2 ... 97] = Default_Handler};
