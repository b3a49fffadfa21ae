/* The AELF image format, for the loader on the device: its constants, its
 * little-endian field reads, and aelf_check(), which validates an image in
 * memory before the loader trusts a byte of it.
 *
 * C99, freestanding: no C library and no allocation, fixed-width types
 * only; it compiles as C++ too. Header-only: every function is static
 * inline.
 *
 * An image is the magic "AELF", the 72-byte header, appSize bytes of code
 * and resourcesSize bytes of resources. The header's addresses are flash
 * addresses as the linker map gives them: a function's address carries no
 * Thumb bit (entryPointAddr is 0x08020000, not 0x08020001), so a loader
 * sets bit 0 before it calls one; a call to an even address faults on
 * Cortex-M. */
#ifndef PAKFORGE_AELF_H
#define PAKFORGE_AELF_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define AELF_MAGIC_SIZE 4u
#define AELF_HEADER_SIZE 72u
/* Where the header starts, and where the code starts. */
#define AELF_HEADER_OFFSET 4u
#define AELF_CODE_OFFSET 76u

/* Field offsets within the header. */
#define AELF_ENTRY_POINT_ADDR 0u
#define AELF_LOOP_ADDR 4u
#define AELF_H_GROUPS_TABLE_ADDR 8u
#define AELF_I_GROUPS_TABLE_ADDR 12u
#define AELF_REMOTE_REG_TABLES_ADDR 16u
#define AELF_ADDR_EXE 28u
#define AELF_APP_SIZE 32u
#define AELF_MODBUS_TABLE_END 40u
#define AELF_RESOURCES_SIZE 44u
#define AELF_MODBUS_TABLE_START 60u

/* The application's flash: from the start of the device's flash up to the
 * loader's limit. */
#define AELF_FLASH_BASE 0x08000000u
#define AELF_ROM_LIMIT 0x0803FE00u

/* What aelf_check() finds, in the order it looks. */
typedef enum {
  AELF_OK = 0,
  AELF_BAD_MAGIC = 1,          /* the bytes there do not begin with "AELF" */
  AELF_TOO_SHORT = 2,          /* shorter than the magic and the header */
  AELF_BAD_LENGTH = 3,         /* not 76 + appSize + resourcesSize bytes */
  AELF_CODE_OUTSIDE_FLASH = 4, /* addrExe .. addrExe + appSize not in the flash */
  AELF_ENTRY_OUTSIDE_CODE = 5, /* entryPointAddr not in the code */
  AELF_LOOP_OUTSIDE_CODE = 6   /* loopAddr not in the code */
} aelf_status;

/* A checked image: the header's fields, and where its parts are in the
 * bytes given to aelf_check(). */
typedef struct {
  uint32_t entry_point_addr;
  uint32_t loop_addr;
  uint32_t h_groups_table_addr;
  uint32_t i_groups_table_addr;
  uint32_t remote_reg_tables_addr;
  uint32_t addr_exe;
  uint32_t app_size;
  uint32_t modbus_table_end;
  uint32_t resources_size;
  uint32_t modbus_table_start;
  const uint8_t* header;    /* the 72 header bytes */
  const uint8_t* code;      /* app_size bytes */
  const uint8_t* resources; /* resources_size bytes */
} aelf_image;

/* The little-endian 32-bit word at `bytes`. */
static inline uint32_t aelf_read32(const uint8_t* bytes) {
  return (uint32_t)bytes[0] | ((uint32_t)bytes[1] << 8) | ((uint32_t)bytes[2] << 16) |
         ((uint32_t)bytes[3] << 24);
}

/* A header field, by its offset within the header. */
static inline uint32_t aelf_field(const uint8_t* header, uint32_t offset) {
  return aelf_read32(header + offset);
}

static inline int aelf_in_code_(uint32_t address, uint32_t start, uint32_t size) {
  /* Bit 0 of a function's address is not part of it. */
  const uint32_t at = address & ~(uint32_t)1u;
  return at >= start && at - start < size;
}

/* Checks the `length` bytes at `bytes` as an AELF image, reading no more
 * than the first 76 of them (nor more than `length`). On AELF_OK, and on
 * AELF_CODE_OUTSIDE_FLASH and later codes too, `image` holds the header's
 * fields and where the parts are; on the others, zeros and null pointers.
 * For an image in flash, `length` is the length its header describes
 * (76 + appSize + resourcesSize), bounded by the flash from the image to
 * its end, as examples/loader does; a loader that can't bound it passes
 * the flash that follows the image, and gets AELF_BAD_LENGTH unless the
 * image ends exactly there. It does not check where the image lies:
 * that its code is at addr_exe, where the code must run, is the loader's to
 * see, as is what the resources hold. */
static inline aelf_status aelf_check(const uint8_t* bytes, size_t length, aelf_image* image) {
  static const uint8_t magic[AELF_MAGIC_SIZE] = {0x41u, 0x45u, 0x4Cu, 0x46u};
  size_t i;
  size_t payload;
  const uint8_t* header;
  /* Every field is written on every path, so that no use of `image` after
   * a failed check reads anything undefined, and no compiler warns that it
   * might. */
  image->entry_point_addr = 0;
  image->loop_addr = 0;
  image->h_groups_table_addr = 0;
  image->i_groups_table_addr = 0;
  image->remote_reg_tables_addr = 0;
  image->addr_exe = 0;
  image->app_size = 0;
  image->modbus_table_end = 0;
  image->resources_size = 0;
  image->modbus_table_start = 0;
  image->header = NULL;
  image->code = NULL;
  image->resources = NULL;
  for (i = 0; i < AELF_MAGIC_SIZE && i < length; ++i) {
    if (bytes[i] != magic[i]) {
      return AELF_BAD_MAGIC;
    }
  }
  if (length < AELF_CODE_OFFSET) {
    return AELF_TOO_SHORT;
  }
  header = bytes + AELF_HEADER_OFFSET;
  image->entry_point_addr = aelf_field(header, AELF_ENTRY_POINT_ADDR);
  image->loop_addr = aelf_field(header, AELF_LOOP_ADDR);
  image->h_groups_table_addr = aelf_field(header, AELF_H_GROUPS_TABLE_ADDR);
  image->i_groups_table_addr = aelf_field(header, AELF_I_GROUPS_TABLE_ADDR);
  image->remote_reg_tables_addr = aelf_field(header, AELF_REMOTE_REG_TABLES_ADDR);
  image->addr_exe = aelf_field(header, AELF_ADDR_EXE);
  image->app_size = aelf_field(header, AELF_APP_SIZE);
  image->modbus_table_end = aelf_field(header, AELF_MODBUS_TABLE_END);
  image->resources_size = aelf_field(header, AELF_RESOURCES_SIZE);
  image->modbus_table_start = aelf_field(header, AELF_MODBUS_TABLE_START);
  image->header = header;
  image->code = bytes + AELF_CODE_OFFSET;
  /* The sum 76 + appSize + resourcesSize, taken apart so that it can't wrap
   * on a 32-bit device. */
  payload = length - AELF_CODE_OFFSET;
  if (image->app_size > payload || payload - image->app_size != image->resources_size) {
    return AELF_BAD_LENGTH;
  }
  image->resources = image->code + image->app_size;
  if (image->addr_exe < AELF_FLASH_BASE || image->addr_exe > AELF_ROM_LIMIT ||
      image->app_size > AELF_ROM_LIMIT - image->addr_exe) {
    return AELF_CODE_OUTSIDE_FLASH;
  }
  if (!aelf_in_code_(image->entry_point_addr, image->addr_exe, image->app_size)) {
    return AELF_ENTRY_OUTSIDE_CODE;
  }
  if (!aelf_in_code_(image->loop_addr, image->addr_exe, image->app_size)) {
    return AELF_LOOP_OUTSIDE_CODE;
  }
  return AELF_OK;
}

/* A short text for each status. */
static inline const char* aelf_status_text(aelf_status status) {
  switch (status) {
    case AELF_OK:
      return "a valid AELF image";
    case AELF_BAD_MAGIC:
      return "no AELF magic";
    case AELF_TOO_SHORT:
      return "shorter than the 76 bytes of magic and header";
    case AELF_BAD_LENGTH:
      return "its length is not 76 + appSize + resourcesSize";
    case AELF_CODE_OUTSIDE_FLASH:
      return "its code range is not in the application's flash";
    case AELF_ENTRY_OUTSIDE_CODE:
      return "entryPointAddr is outside the code";
    case AELF_LOOP_OUTSIDE_CODE:
      return "loopAddr is outside the code";
  }
  return "an unknown status";
}

#ifdef __cplusplus
}
#endif

#endif /* PAKFORGE_AELF_H */
