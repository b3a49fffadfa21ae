/* A small Cortex-M application, started by the device's loader: it calls
 * __entryPoint__ once, then loop() over and over, and reads the three Modbus
 * tables through the addresses in the image header. */
#include <stdint.h>

#include "modbus.h"

extern uint32_t _sidata[], _sdata[], _edata[], _sbss[], _ebss[];

/* Initialised data: its initial values travel in flash, after the code. */
volatile uint32_t blinkPeriod = 500;
uint16_t holdingRegisters[8] = {1, 2, 3, 4, 5, 6, 7, 8};

static uint32_t ticks;
static uint32_t ledState;

static volatile uint32_t* const GPIOA_ODR = (volatile uint32_t*)0x40020014u;

void __entryPoint__(void) {
  /* The loader copies nothing: set up .data and .bss first. */
  const uint32_t* from = _sidata;
  for (uint32_t* to = _sdata; to < _edata;) {
    *to++ = *from++;
  }
  for (uint32_t* to = _sbss; to < _ebss;) {
    *to++ = 0;
  }
  ledState = 0;
}

void loop(void) {
  if (++ticks >= blinkPeriod) {
    ticks = 0;
    ledState ^= 1u;
    *GPIOA_ODR = ledState;
    holdingRegisters[0] = (uint16_t)(holdingRegisters[0] + modbusChecksum());
  }
#ifdef EARLIER_LINK
  holdingRegisters[1] = (uint16_t)ticks;
#endif
}
