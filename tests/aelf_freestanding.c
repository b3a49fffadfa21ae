/* pakforge/aelf.h as a device's loader compiles it: C99, freestanding, no
 * C library, with warnings as errors at every optimisation level. Compiled,
 * never run: the tests run it as C++. The uses are a loader's ordinary ones:
 * the fields read after a successful check, and after a failed one where
 * the header was read (to say where the code would have gone). */
#include "pakforge/aelf.h"

int aelf_runs_here(const uint8_t* bytes, size_t length);
uint32_t aelf_where(const uint8_t* bytes, size_t length);
void aelf_start(const uint8_t* bytes, size_t length, void (*report)(uint32_t));

int aelf_runs_here(const uint8_t* bytes, size_t length) {
  aelf_image image;
  const aelf_status status = aelf_check(bytes, length, &image);
  return status == AELF_OK ? (int)(image.entry_point_addr | 1u) : -(int)status;
}

uint32_t aelf_where(const uint8_t* bytes, size_t length) {
  aelf_image image;
  const aelf_status status = aelf_check(bytes, length, &image);
  if (status >= AELF_CODE_OUTSIDE_FLASH) {
    return image.addr_exe;
  }
  return status == AELF_OK ? image.addr_exe + image.app_size : 0u;
}

void aelf_start(const uint8_t* bytes, size_t length, void (*report)(uint32_t)) {
  aelf_image image;
  if (aelf_check(bytes, length, &image) != AELF_OK) {
    report(image.addr_exe);
    return;
  }
  if ((uintptr_t)image.code != image.addr_exe) {
    report(image.app_size);
    return;
  }
  ((void (*)(void))(image.entry_point_addr | 1u))();
  ((void (*)(void))(image.loop_addr | 1u))();
}
