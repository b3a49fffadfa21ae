#include "format/image_header.h"

#include <gtest/gtest.h>

namespace pakforge {
namespace {

TEST(ImageHeader, CarriesEveryByteThroughDecodeAndEncode) {
  HeaderBytes bytes{};
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<std::uint8_t>(0xF0 - 3 * i);
  }
  EXPECT_EQ(encodeHeader(decodeHeader(bytes)), bytes);
}

TEST(ImageHeader, NamedFieldsAreLittleEndianWordsAtTheirOffsets) {
  ImageHeader header;
  header.entryPointAddr = 0x11223344;
  header.addrExe = 0x08020000;
  header.appSize = 0x5000;
  header.modbusTableEnd = 0xAABBCCDD;
  header.resourcesSize = 16384;
  header.modbusTableStart = 0x01020304;
  header.config68 = 0xDEADBEEF;
  const HeaderBytes bytes = encodeHeader(header);
  const auto wordAt = [&](std::size_t offset) {
    return std::vector<int>(bytes.begin() + static_cast<long>(offset),
                            bytes.begin() + static_cast<long>(offset) + 4);
  };
  EXPECT_EQ(wordAt(0), (std::vector<int>{0x44, 0x33, 0x22, 0x11}));
  EXPECT_EQ(wordAt(28), (std::vector<int>{0x00, 0x00, 0x02, 0x08}));
  EXPECT_EQ(wordAt(32), (std::vector<int>{0x00, 0x50, 0x00, 0x00}));
  EXPECT_EQ(wordAt(40), (std::vector<int>{0xDD, 0xCC, 0xBB, 0xAA}));
  EXPECT_EQ(wordAt(44), (std::vector<int>{0x00, 0x40, 0x00, 0x00}));
  EXPECT_EQ(wordAt(60), (std::vector<int>{0x04, 0x03, 0x02, 0x01}));
  EXPECT_EQ(wordAt(68), (std::vector<int>{0xEF, 0xBE, 0xAD, 0xDE}));
}

TEST(ElfCodeOffset, KeepsOnlyTheLowestNonZeroHexDigit) {
  EXPECT_EQ(elfCodeOffset(0x08020000), 0x20000u);
  EXPECT_EQ(elfCodeOffset(0x08010000), 0x10000u);
  EXPECT_EQ(elfCodeOffset(0x08004000), 0x4000u);
  EXPECT_EQ(elfCodeOffset(0x08000000), 0u);
  EXPECT_EQ(elfCodeOffset(0x08020100), 0x100u);
  EXPECT_EQ(elfCodeOffset(0x09000000), 0x1000000u);
  EXPECT_EQ(elfCodeOffset(0x08000001), 1u);
  // Below the flash the difference wraps; the rule still holds.
  EXPECT_EQ(elfCodeOffset(0x00000000), 0x08000000u);
  EXPECT_EQ(elfCodeOffset(0x07FFFFFF), 0xFu);
}

}  // namespace
}  // namespace pakforge
