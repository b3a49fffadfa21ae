// The 72-byte image header and the AELF image layout.
//
// The header starts as the first 72 bytes of the configuration file. It is
// eighteen little-endian 32-bit words; pakforge fills some of them and carries
// every other word into the image unchanged.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace pakforge {

inline constexpr std::uint32_t FLASH_BASE = 0x08000000;
inline constexpr std::uint32_t ROM_LIMIT = 0x0803FE00;
inline constexpr std::uint32_t RAM_LIMIT = 0x20008000;
// Where the application's flash starts: below it lies the device's loader.
inline constexpr std::uint32_t APP_FLASH_START = 0x08020000;
// Where the device's RAM starts: the application's RAM is [RAM_BASE, RAM_LIMIT).
inline constexpr std::uint32_t RAM_BASE = 0x20000000;
// The SRAM window of the address map, where sections that run in RAM run.
inline constexpr bool inSramWindow(std::uint64_t address) {
  return address >= RAM_BASE && address < 0x40000000;
}
// The flash window of the address map: flash, whether the application may
// use it (up to ROM_LIMIT) or not.
inline constexpr std::uint32_t FLASH_WINDOW_END = 0x10000000;
inline constexpr bool inFlashWindow(std::uint64_t address) {
  return address >= FLASH_BASE && address < FLASH_WINDOW_END;
}

inline constexpr std::size_t kHeaderSize = 72;
inline constexpr std::string_view kAelfMagic = "AELF";
// "AELF" and the header come before the code in every image.
inline constexpr std::size_t kImagePrefixSize = kAelfMagic.size() + kHeaderSize;

struct ImageHeader {
  std::uint32_t entryPointAddr = 0;       // offset 0
  std::uint32_t loopAddr = 0;             // 4
  std::uint32_t hGroupsTableAddr = 0;     // 8
  std::uint32_t iGroupsTableAddr = 0;     // 12
  std::uint32_t remoteRegTablesAddr = 0;  // 16
  std::uint32_t config20 = 0;
  std::uint32_t config24 = 0;
  std::uint32_t addrExe = 0;  // 28
  std::uint32_t appSize = 0;  // 32
  std::uint32_t config36 = 0;
  std::uint32_t modbusTableEnd = 0;  // 40
  std::uint32_t resourcesSize = 0;   // 44
  std::uint32_t config48 = 0;
  std::uint32_t config52 = 0;
  std::uint32_t config56 = 0;
  std::uint32_t modbusTableStart = 0;  // 60
  std::uint32_t config64 = 0;
  std::uint32_t config68 = 0;
};

// One word of the header: where it sits, what it is called, where it lives in
// ImageHeader. `named` is false for the configuration words pakforge carries.
struct HeaderField {
  std::size_t offset;
  std::string_view name;
  std::uint32_t ImageHeader::*member;
  bool named;
};

// All eighteen words in file order; the single description of the layout.
extern const std::array<HeaderField, kHeaderSize / 4> kHeaderFields;

using HeaderBytes = std::array<std::uint8_t, kHeaderSize>;

ImageHeader decodeHeader(const HeaderBytes& bytes);
HeaderBytes encodeHeader(const ImageHeader& header);

// File offset of the application code inside the ELF file.
std::uint32_t elfCodeOffset(std::uint32_t addrExe);

}  // namespace pakforge
