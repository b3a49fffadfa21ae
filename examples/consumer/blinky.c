/* Stands in for a firmware application built for the device. */
#include <stdio.h>

int main(void) {
  puts("blink");
  return 0;
}
