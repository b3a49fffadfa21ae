#include "driver/rom_budget.h"

#include <gtest/gtest.h>

#include <sstream>

namespace pakforge {
namespace {

struct Rom {
  int result;
  std::string text;
};

Rom check(std::uint32_t appSize, std::uint32_t resourcesSize, std::uint32_t modbusEnd = 0,
          std::uint32_t modbusStart = 0, std::uint32_t addrExe = 0x08020000) {
  ImageHeader header;
  header.addrExe = addrExe;
  header.appSize = appSize;
  header.resourcesSize = resourcesSize;
  header.modbusTableEnd = modbusEnd;
  header.modbusTableStart = modbusStart;
  std::ostringstream out;
  const int result = checkRomBudget(header, out);
  return {result, out.str()};
}

const std::string kGreen = "\033[01;38;05;113m";
const std::string kReset = "\033[0m";

TEST(RomBudget, EqualIsWithinBudgetOneMoreIsNot) {
  const Rom yellow = check(100000, 20000);
  EXPECT_EQ(yellow.result, 0);
  EXPECT_NE(yellow.text.find("\033[43;1mFree space = 10560 Bytes (8.08823/100%)\033[0m\n"),
            std::string::npos);
  const Rom full = check(100000, 30560);
  EXPECT_EQ(full.result, 0);
  EXPECT_NE(full.text.find("\033[31mFree space = 0 Bytes (0/100%)\033[0m\n"), std::string::npos);
  const Rom over = check(100000, 30561);
  EXPECT_EQ(over.result, -6);
  const std::string tail =
      "\033[31mFree space = -1 Bytes (-0.000765931/100%)\033[0m\n"
      "---------------------------\n\n"
      "\033[31mError: Not enough ROM memory on the selected device.\033[0m";
  EXPECT_EQ(over.text.substr(over.text.size() - tail.size()), tail);
}

TEST(RomBudget, WrappedModbusSizeAndWrappedTotal) {
  // End below start: a huge unsigned item, and the sum wraps to 100 bytes.
  const Rom r = check(100, 100, 0x1000, 0x1064);
  EXPECT_NE(r.text.find("Modbus table size = 4294967196 Bytes (3.28965e+06%)\n"),
            std::string::npos);
  EXPECT_NE(r.text.find("Total size = 100/130560 Bytes (0.0765931/100%)\n"), std::string::npos);
  EXPECT_EQ(r.result, 0);
}

TEST(RomBudget, CodeAboveTheLimitGivesANegativeLimit) {
  // Limit -512: free is negative but so is the limit, hence green, still -6.
  const Rom r = check(1000, 0, 0, 0, 0x08040000);
  EXPECT_NE(r.text.find("Total size = 1000/-512 Bytes (-195.312/100%)\n"), std::string::npos);
  EXPECT_NE(r.text.find("Free space = " + kGreen + "-1512" + kReset), std::string::npos);
  EXPECT_EQ(r.result, -6);
}

}  // namespace
}  // namespace pakforge
