/* pakforge/aelf.h as a device's loader compiles it: C99, freestanding, no
 * C library. Compiled, never run: the tests run it as C++. */
#include "pakforge/aelf.h"

int aelf_runs_here(const uint8_t* bytes, size_t length);

int aelf_runs_here(const uint8_t* bytes, size_t length) {
  aelf_image image;
  const aelf_status status = aelf_check(bytes, length, &image);
  return status == AELF_OK ? (int)(image.entry_point_addr | 1u) : -(int)status;
}
