/* _sbrk as a CubeMX project's sysmem.c has it: the heap grows from `end`
 * and stops where the stack reservation below _estack begins. */
#include <errno.h>
#include <stddef.h>
#include <stdint.h>

extern uint8_t end[];
extern uint8_t _estack[];
extern uint32_t _Min_Stack_Size;

static uint8_t* heapEnd = NULL;

void* _sbrk(ptrdiff_t increment) {
  const uint32_t stackLimit = (uint32_t)_estack - (uint32_t)&_Min_Stack_Size;
  if (heapEnd == NULL) {
    heapEnd = end;
  }
  if ((uint32_t)(heapEnd + increment) > stackLimit) {
    errno = ENOMEM;
    return (void*)-1;
  }
  uint8_t* previous = heapEnd;
  heapEnd += increment;
  return previous;
}
