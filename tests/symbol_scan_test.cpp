#include "mapfile/symbol_scan.h"

#include <gtest/gtest.h>

#include <sstream>
#include <tuple>

#include "scan_helpers.h"

namespace pakforge {
namespace {

const std::string kPad(16, ' ');

std::string symbolLine(const std::string& address, const std::string& name) {
  return kPad + address + kPad + name + "\n";
}

const std::string kAllSymbols = symbolLine("0x08004000", "__entryPoint__") +
                                symbolLine("0x08004100", "loop") +
                                symbolLine("0x08004200", "ModbusHGroups_Table") +
                                symbolLine("0x08004300", "ModbusIGroups_Table") +
                                symbolLine("0x08004400", "ModbusRemoteRegTables");

const std::string kTextLine = ".text           0x08004000     0x1a2c\n";
const std::string kDataLine = ".data           0x20000000     0x400\n";

struct Scan {
  bool ok;
  ImageHeader header;
  std::string messages;
  bool operator==(const Scan& o) const {
    return ok == o.ok && encodeHeader(header) == encodeHeader(o.header) && messages == o.messages;
  }
};

// The configuration's values, to see which fields the scan wrote.
ImageHeader configured() {
  ImageHeader h;
  h.entryPointAddr = h.loopAddr = h.hGroupsTableAddr = h.iGroupsTableAddr = h.remoteRegTablesAddr =
      h.addrExe = h.appSize = 0xEEEEEEEE;
  return h;
}

Scan scan(const std::string& map) {
  return scanEverySize(map, [](std::istream& in, std::size_t size) {
    Scan s{false, configured(), ""};
    std::ostringstream messages;
    s.ok = scanMapSymbols(in, s.header, messages, size);
    s.messages = messages.str();
    return s;
  });
}

TEST(SymbolScan, ReadsCodeRangeAndSymbols) {
  const Scan s =
      scan("Memory map\n" + kTextLine + kAllSymbols + symbolLine("0x08005a2c", "_etext") +
           kDataLine + symbolLine("0x20000400", "_ebss"));
  ASSERT_TRUE(s.ok) << s.messages;
  EXPECT_EQ(s.messages, "");
  EXPECT_EQ(s.header.addrExe, 0x8004000u);
  EXPECT_EQ(s.header.appSize, 0x1a2cu);
  EXPECT_EQ(s.header.entryPointAddr, 0x8004000u);
  EXPECT_EQ(s.header.loopAddr, 0x8004100u);
  EXPECT_EQ(s.header.hGroupsTableAddr, 0x8004200u);
  EXPECT_EQ(s.header.iGroupsTableAddr, 0x8004300u);
  EXPECT_EQ(s.header.remoteRegTablesAddr, 0x8004400u);
}

TEST(SymbolScan, CrLfReadsLikeLf) {
  std::string lf = kTextLine + kAllSymbols + kDataLine;
  std::string crlf;
  for (char c : lf) {
    crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  }
  const Scan a = scan(lf);
  const Scan b = scan(crlf);
  EXPECT_TRUE(b.ok) << b.messages;
  EXPECT_EQ(a, b);
}

TEST(SymbolScan, AddressIsSevenCharactersFromTheFirstEight) {
  const Scan s = scan(kTextLine + kAllSymbols +
                      // RAM address: the text starts at the 8 of 80.
                      symbolLine("0x20000080", "loop") + kDataLine);
  EXPECT_EQ(s.header.loopAddr, 0x80u);
  // An '8' before the address: "8 0x080" gives 8.
  EXPECT_EQ(scan(kTextLine + kAllSymbols + "8 0x08000100 loop\n" + kDataLine).header.loopAddr,
            0x8u);
  // Reading stops at the first character that is no hex digit.
  EXPECT_EQ(scan(kTextLine + kAllSymbols + "8000 loop\n" + kDataLine).header.loopAddr, 0x8000u);
  // An 8 near the line end gives a shorter text.
  EXPECT_EQ(scan(kTextLine + kAllSymbols + "x loop 0x8A\n" + kDataLine).header.appSize,
            0x8Au - 0x8004000u);
  EXPECT_EQ(scan(kTextLine + kAllSymbols + "xx8\n" + kDataLine).header.appSize, 0x8u - 0x8004000u);
}

TEST(SymbolScan, NameFollowsTheLastSpaceOnly) {
  // Text after the name makes the last word the key.
  Scan s = scan(kTextLine + kAllSymbols + symbolLine("0x08000100", "loop extra") + kDataLine);
  EXPECT_EQ(s.header.loopAddr, 0x8004100u);
  // A tab does not separate: the whole line is the key, so no loop.
  s = scan(kTextLine + "\t0x08000100\tloop\n" + kDataLine);
  EXPECT_FALSE(s.ok);
  EXPECT_EQ(s.messages, "func __entryPoint__ not found\n");
  // A trailing space gives the empty name, not the word before it.
  s = scan(kTextLine + kAllSymbols + symbolLine("0x08000100", "loop ") + kDataLine);
  EXPECT_EQ(s.header.loopAddr, 0x8004100u);
  // Names are compared byte for byte.
  s = scan(kTextLine + symbolLine("0x08004000", "__entrypoint__") + kDataLine);
  EXPECT_FALSE(s.ok);
}

TEST(SymbolScan, LaterDuplicateWinsAndSecondTextLineIsASymbol) {
  const Scan s = scan(kTextLine + kAllSymbols + symbolLine("0x08006000", "loop") +
                      " .text          0x08007000     second.text\n" + kDataLine);
  ASSERT_TRUE(s.ok);
  EXPECT_EQ(s.header.loopAddr, 0x8006000u);
  EXPECT_EQ(s.header.addrExe, 0x8004000u);
  EXPECT_EQ(s.header.appSize, 0x3000u);
}

TEST(SymbolScan, OnlyLinesInsideTheCodeRangeCount) {
  const std::string before = symbolLine("0x08001000", "loop");
  const std::string after = symbolLine("0x08009000", "loop");
  Scan s = scan(before + kTextLine + kAllSymbols + kDataLine + after);
  EXPECT_EQ(s.header.loopAddr, 0x8004100u);
  // A name that stands only outside the range is missing.
  std::string withoutLoop = kTextLine + symbolLine("0x08004000", "__entryPoint__") + kDataLine;
  s = scan(before + withoutLoop + after);
  EXPECT_FALSE(s.ok);
  EXPECT_EQ(s.messages, "func loop not found\n");
  EXPECT_EQ(s.header.entryPointAddr, 0x8004000u);
  EXPECT_EQ(s.header.hGroupsTableAddr, 0xEEEEEEEEu);
}

TEST(SymbolScan, LinesWithoutAnEightAreNotSymbolLines) {
  const Scan s = scan(kTextLine + kAllSymbols + symbolLine("0x08005000", "_etext") + "\n" +
                      " *(.text.unlikely)\n" + "\r\n" + kDataLine);
  ASSERT_TRUE(s.ok);
  EXPECT_EQ(s.header.appSize, 0x1000u);
  // Nor is a line that holds a wanted name but no address.
  const Scan named = scan(kTextLine + kAllSymbols + symbolLine("0x08005000", "_etext") +
                          "  (no address) loop\n" + kDataLine);
  EXPECT_EQ(named.header.appSize, 0x1000u);
  EXPECT_EQ(named.header.loopAddr, 0x8004100u);
}

TEST(SymbolScan, WithoutADataLineAppSizeStaysAsConfigured) {
  const Scan s = scan(kTextLine + kAllSymbols.substr(0, kAllSymbols.size() - 1));
  ASSERT_TRUE(s.ok) << s.messages;
  EXPECT_EQ(s.header.appSize, 0xEEEEEEEEu);
  EXPECT_EQ(s.header.remoteRegTablesAddr, 0x8004400u);
}

TEST(SymbolScan, AppSizeWrapsWhenTheRangeEndsBelowItsStart) {
  const Scan s =
      scan(".text 0x08004000\n" + kAllSymbols + symbolLine("0x08000000", "x") + kDataLine);
  EXPECT_EQ(s.header.appSize, 0xFFFFC000u);
}

TEST(SymbolScan, FailureMessagesAndWhatStaysWritten) {
  // No code start: no line feed after the message, nothing written.
  for (const std::string& map :
       {std::string(), std::string("a\nb\n"), kAllSymbols + kDataLine + kTextLine + kAllSymbols}) {
    const Scan s = scan(map);
    EXPECT_FALSE(s.ok);
    EXPECT_EQ(s.messages, "addrExe not found");
    EXPECT_EQ(encodeHeader(s.header), encodeHeader(configured()));
  }
  // Only the first missing name, in table order.
  Scan s = scan(kTextLine + symbolLine("0x08004000", "__entryPoint__") +
                symbolLine("0x08004200", "ModbusHGroups_Table") + kDataLine);
  EXPECT_EQ(s.messages, "func loop not found\n");
  EXPECT_EQ(s.header.addrExe, 0x8004000u);
  EXPECT_EQ(s.header.appSize, 0x200u);
  EXPECT_EQ(s.header.entryPointAddr, 0x8004000u);
  EXPECT_EQ(s.header.hGroupsTableAddr, 0xEEEEEEEEu);
  // A .text line without an address.
  s = scan(".text\n" + kAllSymbols + kDataLine);
  EXPECT_FALSE(s.ok);
  EXPECT_EQ(s.messages, "addrExe not found: the .text line holds no address\n");
  // A data line right after the code start: no end for appSize.
  s = scan(kTextLine + "\n" + kDataLine + kAllSymbols);
  EXPECT_FALSE(s.ok);
  EXPECT_EQ(s.messages, "appSize not found: no symbol line between the .text and .data lines\n");
  EXPECT_EQ(s.header.addrExe, 0x8004000u);
  EXPECT_EQ(s.header.appSize, 0xEEEEEEEEu);
}

TEST(SymbolScan, LinesLongerThanAnyBuffer) {
  const std::string longName(300000, 'n');
  const Scan s =
      scan(std::string(400000, ' ') + kTextLine + kAllSymbols + symbolLine("0x08004000", longName) +
           kPad + "0x08005000" + std::string(300000, ' ') + "loop\r\n" + kDataLine);
  ASSERT_TRUE(s.ok) << s.messages;
  EXPECT_EQ(s.header.loopAddr, 0x8005000u);
  EXPECT_EQ(s.header.appSize, 0x1000u);
}

}  // namespace
}  // namespace pakforge
