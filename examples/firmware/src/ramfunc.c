/* Code run from RAM (flash writes, fast loops): the startup code copies it
 * from the flash with the initial values of .data, so its bytes must travel
 * in the image like them. */
#include <stdint.h>

__attribute__((section(".ramfunc"), noinline)) uint32_t mixWords(const uint32_t* words,
                                                                uint32_t count) {
  uint32_t mixed = 0x9E3779B9u;
  for (uint32_t i = 0; i < count; ++i) {
    mixed = (mixed ^ words[i]) * 0x01000193u;
    mixed ^= mixed >> 15;
  }
  return mixed;
}
