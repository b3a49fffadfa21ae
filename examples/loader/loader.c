/* A reference loader for an STM32F4 (QEMU's netduinoplus2 board): it finds
 * the AELF image in flash with its code at addrExe, checks it with
 * pakforge/aelf.h, calls the firmware's entry point once and its loop a
 * fixed number of times, and reports through semihosting (with, when a
 * test asks, the words at one address of the application's RAM). Its own stack and
 * data lie above the application's RAM (0x20000000-0x20008000).
 *
 * Exit statuses: 0 the firmware ran (and changed its RAM); 1 no image, or a
 * damaged one (aelf_check's status is printed); 2 the image's code is not
 * at its addrExe; 3 the firmware faulted, or left its RAM as it was. */
#include <stdint.h>

#include "pakforge/aelf.h"

/* The image lies somewhere in the flash above the loader, starting at a
 * word boundary; it runs only where its code is at its addrExe. */
#define SEARCH_FROM 0x08010000u
#define FLASH_END 0x08100000u
#define APP_RAM_START 0x20000000u
#define APP_RAM_END 0x20008000u
#define LOOPS 5000u
/* A test may ask for the words at an address of the application's RAM
 * after the run, to see what the firmware did: QEMU's generic loader
 * writes that address here (-device loader,addr=0x2001FFF0,data=ADDRESS,
 * data-len=4), at the top of the SRAM that neither the application nor
 * the loader uses; RAM that nothing wrote reads 0, which asks for nothing. */
#define WATCH_AT 0x2001FFF0u
#define WATCH_WORDS 8u

/* ARM semihosting: an operation number and a pointer, through BKPT 0xAB. */
static uint32_t semihost(uint32_t operation, const void* argument) {
  register uint32_t r0 __asm__("r0") = operation;
  register const void* r1 __asm__("r1") = argument;
  __asm__ volatile("bkpt 0xAB" : "+r"(r0) : "r"(r1) : "memory");
  return r0;
}

static void print(const char* text) {
  semihost(0x04u, text); /* SYS_WRITE0 */
}

static void printHex(uint32_t value) {
  char text[11] = "0x";
  for (int i = 0; i < 8; ++i) {
    const uint32_t digit = (value >> (28 - 4 * i)) & 0xFu;
    text[2 + i] = (char)(digit < 10 ? '0' + digit : 'A' + digit - 10);
  }
  text[10] = '\0';
  print(text);
}

static void leave(uint32_t status) {
  /* SYS_EXIT_EXTENDED: ADP_Stopped_ApplicationExit with the status. */
  const uint32_t block[2] = {0x20026u, status};
  semihost(0x20u, block);
  for (;;) {
  }
}

/* What the firmware leaves in its RAM, as one number. */
static uint32_t ramDigest(void) {
  uint32_t digest = 2166136261u;
  for (const volatile uint32_t* at = (const volatile uint32_t*)APP_RAM_START;
       at < (const volatile uint32_t*)APP_RAM_END; ++at) {
    digest = (digest ^ *at) * 16777619u;
  }
  return digest;
}

/* The first word boundary from SEARCH_FROM that holds the magic. */
static const uint8_t* findImage(void) {
  for (uint32_t at = SEARCH_FROM; at + AELF_CODE_OFFSET <= FLASH_END; at += 4u) {
    const uint8_t* bytes = (const uint8_t*)at;
    if (bytes[0] == 'A' && bytes[1] == 'E' && bytes[2] == 'L' && bytes[3] == 'F') {
      return bytes;
    }
  }
  return (const uint8_t*)SEARCH_FROM;
}

void loaderMain(void) {
  const uint8_t* bytes = findImage();
  /* The image's length from its own header, bounded by the flash. */
  const uint32_t room = FLASH_END - (uint32_t)bytes;
  const uint32_t appSize = aelf_read32(bytes + AELF_HEADER_OFFSET + AELF_APP_SIZE);
  const uint32_t resourcesSize = aelf_read32(bytes + AELF_HEADER_OFFSET + AELF_RESOURCES_SIZE);
  uint32_t length = room;
  if (appSize <= room - AELF_CODE_OFFSET &&
      resourcesSize <= room - AELF_CODE_OFFSET - appSize) {
    length = AELF_CODE_OFFSET + appSize + resourcesSize;
  }
  aelf_image image;
  const aelf_status status = aelf_check(bytes, length, &image);
  if (status != AELF_OK) {
    print("loader: refused: ");
    print(aelf_status_text(status));
    print("\n");
    leave(1u);
  }
  if ((uint32_t)image.code != image.addr_exe) {
    print("loader: refused: the code is at ");
    printHex((uint32_t)image.code);
    print(", not at its addrExe ");
    printHex(image.addr_exe);
    print("\n");
    leave(2u);
  }
  for (volatile uint32_t* at = (volatile uint32_t*)APP_RAM_START;
       at < (volatile uint32_t*)APP_RAM_END; ++at) {
    *at = 0;
  }
  const uint32_t before = ramDigest();
  /* The header's addresses carry no Thumb bit: set it for the call. */
  void (*const entry)(void) = (void (*)(void))(image.entry_point_addr | 1u);
  void (*const loop)(void) = (void (*)(void))(image.loop_addr | 1u);
  entry();
  for (uint32_t i = 0; i < LOOPS; ++i) {
    loop();
  }
  const uint32_t after = ramDigest();
  print("loader: the firmware ran: its RAM digest went from ");
  printHex(before);
  print(" to ");
  printHex(after);
  print("\n");
  const uint32_t watched = *(const volatile uint32_t*)WATCH_AT;
  if (watched >= APP_RAM_START && watched <= APP_RAM_END - 4u * WATCH_WORDS && watched % 4u == 0) {
    print("loader: the words at ");
    printHex(watched);
    print(":");
    for (uint32_t i = 0; i < WATCH_WORDS; ++i) {
      print(" ");
      printHex(((const volatile uint32_t*)watched)[i]);
    }
    print("\n");
  }
  leave(after != before ? 0u : 3u);
}

void faultHandler(void) {
  print("loader: the firmware faulted\n");
  leave(3u);
}

extern uint32_t _estack[];
void resetHandler(void) {
  loaderMain();
}

typedef void (*Handler)(void);
__attribute__((used, section(".vectors"))) const Handler vectors[16] = {
    (Handler)_estack, resetHandler, faultHandler, faultHandler, faultHandler, faultHandler,
    faultHandler, 0, 0, 0, 0, faultHandler, faultHandler, 0, faultHandler, faultHandler};
