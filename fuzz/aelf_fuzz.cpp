// pakforge/aelf.h on any bytes: it reads none past the length it is given
// (the input is exactly that long, under AddressSanitizer), and its status
// is what the format's rules say, worked out here the plain way in 64-bit
// arithmetic: the same the image reader of aelfdump gives.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "pakforge/aelf.h"

namespace {

std::uint32_t word(const std::uint8_t* b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16) |
         static_cast<std::uint32_t>(b[at + 3]) << 24;
}

aelf_status expected(const std::uint8_t* b, std::size_t n) {
  if (std::memcmp(b, "AELF", n < 4 ? n : 4) != 0) {
    return AELF_BAD_MAGIC;
  }
  if (n < 76) {
    return AELF_TOO_SHORT;
  }
  const std::uint64_t entry = word(b, 4), loop = word(b, 8), start = word(b, 32),
                      size = word(b, 36), resources = word(b, 48);
  if (76 + size + resources != n) {
    return AELF_BAD_LENGTH;
  }
  if (start < 0x08000000 || start + size > 0x0803FE00) {
    return AELF_CODE_OUTSIDE_FLASH;
  }
  const auto inCode = [&](std::uint64_t a) {
    return (a & ~1ull) >= start && (a & ~1ull) < start + size;
  };
  if (!inCode(entry)) {
    return AELF_ENTRY_OUTSIDE_CODE;
  }
  return inCode(loop) ? AELF_OK : AELF_LOOP_OUTSIDE_CODE;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Inputs that reach the length and range checks: a magic, then any bytes.
  const std::size_t n = size;
  const std::unique_ptr<std::uint8_t[]> bytes(new std::uint8_t[n == 0 ? 1 : n]);
  std::memcpy(bytes.get(), data, n);
  if (n >= 4 && (data[0] & 1) != 0) {
    std::memcpy(bytes.get(), "AELF", 4);
  }
  aelf_image image{};
  if (aelf_check(bytes.get(), n, &image) != expected(bytes.get(), n)) {
    std::abort();
  }
  return 0;
}
