/* Code and data that nothing uses: a link with --gc-sections discards them,
 * and the map lists them first, at address 0. The file's name holds an '8',
 * as the names of real files do, which is where a map rule that takes the
 * first '8' of a line would go wrong. */
#include <stdint.h>

uint32_t unusedChecksum8(const uint8_t* bytes, uint32_t count) {
  uint32_t sum = 0;
  for (uint32_t i = 0; i < count; ++i) {
    sum = (sum << 1) ^ bytes[i];
  }
  return sum;
}

uint8_t unusedBuffer8[8192] = {1, 2, 3};
