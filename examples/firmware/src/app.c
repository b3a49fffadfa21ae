/* A small Cortex-M application, started by the device's loader: it calls
 * __entryPoint__ once, then loop() over and over, and reads the three Modbus
 * tables through the addresses in the image header. */
#include <stdint.h>

#include "modbus.h"

/* Where the linker script puts the initial values of .data, .data itself and
 * .bss. Scripts name these differently; a project built with another
 * script defines the names it uses (-DDATA_LOAD=_data_loadaddr ...). */
#ifndef DATA_LOAD
#define DATA_LOAD _sidata
#endif
#ifndef DATA_START
#define DATA_START _sdata
#endif
#ifndef DATA_END
#define DATA_END _edata
#endif
#ifndef BSS_START
#define BSS_START _sbss
#endif
#ifndef BSS_END
#define BSS_END _ebss
#endif
extern uint32_t DATA_LOAD[], DATA_START[], DATA_END[], BSS_START[], BSS_END[];

/* Initialised data: its initial values travel in flash, after the code. */
volatile uint32_t blinkPeriod = 500;
uint16_t holdingRegisters[8] = {1, 2, 3, 4, 5, 6, 7, 8};

static uint32_t ticks;
static uint32_t ledState;

static volatile uint32_t* const GPIOA_ODR = (volatile uint32_t*)0x40020014u;

void __entryPoint__(void) {
  /* The loader copies nothing: set up .data and .bss first. */
  const uint32_t* from = DATA_LOAD;
  for (uint32_t* to = DATA_START; to < DATA_END;) {
    *to++ = *from++;
  }
  for (uint32_t* to = BSS_START; to < BSS_END;) {
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
