#include "mapfile/ram_budget.h"

#include <gtest/gtest.h>

#include <sstream>
#include <utility>

#include "scan_helpers.h"

namespace pakforge {
namespace {

std::pair<std::uint32_t, std::uint32_t> scan(const std::string& map) {
  return scanEverySize(map, [](std::istream& in, std::size_t size) {
    const RamUsage usage = scanRamUsage(in, size);
    return std::make_pair(usage.dataStart, usage.dataEnd);
  });
}

std::pair<int, std::string> report(std::uint32_t dataStart, std::uint32_t dataEnd) {
  std::ostringstream out;
  RamUsage usage;
  usage.dataStart = dataStart;
  usage.dataEnd = dataEnd;
  const int result = reportRamBudget(usage, out);
  return {result, out.str()};
}

const std::string kGreen = "\033[01;38;05;113m";
const std::string kReset = "\033[0m";
const std::string kTitle = "\n---------  RAM  -----------\n";
const std::string kRule = "---------------------------\n\n";

std::string green(const std::string& free, const std::string& percent) {
  return "Free space = " + kGreen + free + kReset + " Bytes (" + kGreen + percent + kReset +
         "/100%)\n";
}

TEST(RamBudget, DataStartAndHighestAddressInEitherOrder) {
  const std::string data = " .data   0x20000000   0x120 main.o\n";
  const std::string a = "        0x20000120   counter\n";
  const std::string b = "        0x20000800   _ebss\n";
  const auto expected = std::make_pair(0x20000000u, 0x20000800u);
  EXPECT_EQ(scan(data + a + b), expected);
  // Accepted against a dataStart of 0 before the .data line sets it.
  EXPECT_EQ(scan(b + a + data), expected);
  EXPECT_EQ(report(0x20000000, 0x20000800),
            std::make_pair(0, kTitle + "App RAM data size = 2048/32768 Bytes (6.25/100%)\n" +
                                  green("30720", "93.75") + kRule));
}

TEST(RamBudget, OnlyLinesHoldingTwoThousandCountAndTheValueStartsAtTheFirstTwo) {
  // ".data2 0x20000000": the first '2' ends the section name, the value is 2.
  EXPECT_EQ(scan(".data2 0x20000000\n"), std::make_pair(2u, 0u));
  // .rodata is not .data; a .data line without 2000 changes nothing.
  EXPECT_EQ(scan(" .rodata 0x20000100\n .data 0x30000000\n"), std::make_pair(0u, 0x20000100u));
  // Exactly "2000" is a candidate worth 0x2000; "200" is not a candidate.
  EXPECT_EQ(scan("2000\n200\n"), std::make_pair(0u, 0x2000u));
  // At most eight characters, read up to the first non-hex one.
  EXPECT_EQ(scan("x 200000011234\n"), std::make_pair(0u, 0x20000001u));
  EXPECT_EQ(scan("x 2000g1\r\n"), std::make_pair(0u, 0x2000u));
  // A last line without a line feed counts.
  EXPECT_EQ(scan("a\n 0x20000400"), std::make_pair(0u, 0x20000400u));
}

TEST(RamBudget, DataEndRisesOnlyAboveBothBounds) {
  // The last .data line wins, even when lower; dataEnd keeps what it took.
  EXPECT_EQ(scan(".data 0x20000400\n 0x20000500\n .data 0x20000100\n 0x20000300\n"),
            std::make_pair(0x20000100u, 0x20000500u));
  // Not above dataStart, or equal to dataEnd: unchanged.
  EXPECT_EQ(scan(".data 0x20000400\n 0x20000200\n 0x20000400\n"), std::make_pair(0x20000400u, 0u));
  EXPECT_EQ(scan(".data 0x20000000\n 0x20000600\n 0x20000600\n 0x20000500\n"),
            std::make_pair(0x20000000u, 0x20000600u));
}

TEST(RamBudget, EmptyMapAndDataEndLeftAtZero) {
  EXPECT_EQ(scan(""), std::make_pair(0u, 0u));
  EXPECT_EQ(report(0, 0),
            std::make_pair(0, kTitle + "App RAM data size = 0/536903680 Bytes (0/100%)\n" +
                                  green("536903680", "100") + kRule));
  EXPECT_EQ(
      report(0x20000000, 0),
      std::make_pair(0, kTitle + "App RAM data size = -536870912/32768 Bytes (-1.6384e+06/100%)\n" +
                            green("536903680", "1.6385e+06") + kRule));
  // ".data2" leaves a dataStart of 2.
  EXPECT_EQ(report(2, 0).second.substr(kTitle.size(), 43),
            "App RAM data size = -2/536903678 Bytes (-3.");
}

TEST(RamBudget, FullIsWithinBudgetAndOneMoreIsNot) {
  EXPECT_EQ(report(0x20000000, 0x20008000),
            std::make_pair(0, kTitle + "App RAM data size = 32768/32768 Bytes (100/100%)\n" +
                                  "\033[31mFree space = 0 Bytes (0/100%)\033[0m\n" + kRule));
  EXPECT_EQ(report(0x20000000, 0x20008010),
            std::make_pair(-2, kTitle +
                                   "App RAM data size = 32784/32768 Bytes (100.049/100%)\n"
                                   "\033[31mFree space = -16 Bytes (-0.0488281/100%)\033[0m\n" +
                                   kRule +
                                   "\033[31mError: Not enough RAM memory on the selected "
                                   "device.\033[0m"));
}

TEST(RamBudget, LongLinesAndBinaryBytes) {
  std::string map(1 << 20, 'x');
  map += " 0x20000040\n";
  map += std::string("\0\xff\n\x01 2", 7) + std::string(300000, '\0') + "2000\n";
  EXPECT_EQ(scan(map), std::make_pair(0u, 0x20000040u));
}

}  // namespace
}  // namespace pakforge
