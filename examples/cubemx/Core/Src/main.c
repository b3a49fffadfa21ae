/* main() as CubeMX leaves it to the user: started on its own, the firmware
 * runs the way the device's loader runs it, the entry point once, then the
 * loop. */
#include "main.h"

int main(void) {
  __entryPoint__();
  for (;;) {
    loop();
  }
}
