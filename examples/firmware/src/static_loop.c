/* A file-local function that happens to be called loop: the linker's
 * symbol table lists it beside the global loop, but it is not the loop
 * that the device's loader calls. */
#include <stdint.h>

static volatile uint32_t blinks;

__attribute__((noinline)) static void loop(void) { ++blinks; }

void blinkTwice(void) {
  loop();
  loop();
}
