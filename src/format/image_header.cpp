#include "format/image_header.h"

namespace pakforge {

const std::array<HeaderField, kHeaderSize / 4> kHeaderFields = {{
    {0, "entryPointAddr", &ImageHeader::entryPointAddr, true},
    {4, "loopAddr", &ImageHeader::loopAddr, true},
    {8, "hGroupsTableAddr", &ImageHeader::hGroupsTableAddr, true},
    {12, "iGroupsTableAddr", &ImageHeader::iGroupsTableAddr, true},
    {16, "remoteRegTablesAddr", &ImageHeader::remoteRegTablesAddr, true},
    {20, "config20", &ImageHeader::config20, false},
    {24, "config24", &ImageHeader::config24, false},
    {28, "addrExe", &ImageHeader::addrExe, true},
    {32, "appSize", &ImageHeader::appSize, true},
    {36, "config36", &ImageHeader::config36, false},
    {40, "modbusTableEnd", &ImageHeader::modbusTableEnd, true},
    {44, "resourcesSize", &ImageHeader::resourcesSize, true},
    {48, "config48", &ImageHeader::config48, false},
    {52, "config52", &ImageHeader::config52, false},
    {56, "config56", &ImageHeader::config56, false},
    {60, "modbusTableStart", &ImageHeader::modbusTableStart, true},
    {64, "config64", &ImageHeader::config64, false},
    {68, "config68", &ImageHeader::config68, false},
}};

// Byte-wise so that the image is the same whatever the host's byte order.
ImageHeader decodeHeader(const HeaderBytes& bytes) {
  ImageHeader header;
  for (const HeaderField& field : kHeaderFields) {
    std::uint32_t value = 0;
    for (std::size_t i = 4; i-- > 0;) {
      value = (value << 8) | bytes[field.offset + i];
    }
    header.*field.member = value;
  }
  return header;
}

HeaderBytes encodeHeader(const ImageHeader& header) {
  HeaderBytes bytes{};
  for (const HeaderField& field : kHeaderFields) {
    const std::uint32_t value = header.*field.member;
    for (std::size_t i = 0; i < 4; ++i) {
      bytes[field.offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
  }
  return bytes;
}

// The offset is the lowest non-zero hex digit of (addrExe - FLASH_BASE) alone,
// not the whole difference: 0x08020000 gives 0x20000, but 0x08020100 gives
// 0x100. The linker scripts in use place the code at such round offsets, and
// images built so far were cut by this very rule, so it stays as it is.
std::uint32_t elfCodeOffset(std::uint32_t addrExe) {
  const std::uint32_t d = addrExe - FLASH_BASE;
  for (std::uint32_t mask = 0xF; mask != 0; mask <<= 4) {
    if ((d & mask) != 0) {
      return d & mask;
    }
  }
  return 0;
}

}  // namespace pakforge
