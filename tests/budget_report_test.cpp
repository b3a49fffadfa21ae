#include "format/budget_report.h"

#include <gtest/gtest.h>

#include <limits>
#include <sstream>

namespace pakforge {
namespace {

std::string freeLine(std::int32_t used, std::int32_t limit) {
  std::ostringstream out;
  printFreeSpaceLine(out, used, limit);
  return out.str();
}

const std::string kGreen = "\033[01;38;05;113m";
const std::string kReset = "\033[0m";

TEST(BudgetReport, FreeSpaceColourFollowsStrictThresholds) {
  EXPECT_EQ(freeLine(960, 1000), "\033[31mFree space = 40 Bytes (4/100%)\033[0m\n");
  EXPECT_EQ(freeLine(950, 1000), "\033[43;1mFree space = 50 Bytes (5/100%)\033[0m\n");
  EXPECT_EQ(freeLine(820, 1000), "Free space = " + kGreen + "180" + kReset + " Bytes (" + kGreen +
                                     "18" + kReset + "/100%)\n");
  EXPECT_EQ(freeLine(1200, 1000), "\033[31mFree space = -200 Bytes (-20/100%)\033[0m\n");
  // A negative limit cancels the sign: green, although over budget.
  EXPECT_EQ(freeLine(1000, -500), "Free space = " + kGreen + "-1500" + kReset + " Bytes (" +
                                      kGreen + "300" + kReset + "/100%)\n");
  EXPECT_EQ(freeLine(1000, 1000), "\033[31mFree space = 0 Bytes (0/100%)\033[0m\n");
}

TEST(BudgetReport, FreeSpaceWrapsIn32Bits) {
  EXPECT_EQ(freeLine(std::numeric_limits<std::int32_t>::min(), 1),
            "\033[31mFree space = -2147483647 Bytes (-2.14748e+11/100%)\033[0m\n");
}

TEST(BudgetReport, PercentagesUseSinglePrecisionAndTheDefaultFormat) {
  std::ostringstream out;
  printItemLine(out, "A = ", 1, 3);
  printItemLine(out, "B = ", 1, 65536 * 100);
  printItemLine(out, "C = ", 0, 130560);
  printItemLine(out, "D = ", 0xFFFFFFFFu, 130560);
  printUsageLine(out, "E = ", 130561, 130560);
  printUsageLine(out, "F = ", -536870912, 32768);
  EXPECT_EQ(out.str(),
            "A = 1 Bytes (33.3333%)\n"
            "B = 1 Bytes (1.52588e-05%)\n"
            "C = 0 Bytes (0%)\n"
            "D = 4294967295 Bytes (3.28965e+06%)\n"
            "E = 130561/130560 Bytes (100.001/100%)\n"
            "F = -536870912/32768 Bytes (-1.6384e+06/100%)\n");
  // Multiplied first, then divided, in float: 1 * 100 / 3.
  EXPECT_EQ(percentOf(1.0f, 3.0f), 100.0f / 3.0f);
}

TEST(BudgetReport, ZeroLimitSpellsInfinityAndNanTheSameEverywhere) {
  std::ostringstream out;
  printItemLine(out, "A = ", 5, 0);
  printUsageLine(out, "B = ", -5, 0);
  printUsageLine(out, "C = ", 0, 0);
  EXPECT_EQ(out.str(),
            "A = 5 Bytes (inf%)\n"
            "B = -5/0 Bytes (-inf/100%)\n"
            "C = 0/0 Bytes (nan/100%)\n");
  // Free 0 of limit 0 is not a number: it fails both tests, so green.
  EXPECT_EQ(freeLine(0, 0), "Free space = " + kGreen + "0" + kReset + " Bytes (" + kGreen + "nan" +
                                kReset + "/100%)\n");
  // Free -5 of limit 0 is minus infinity: red.
  EXPECT_EQ(freeLine(5, 0), "\033[31mFree space = -5 Bytes (-inf/100%)\033[0m\n");
}

TEST(BudgetReport, FramingLines) {
  std::ostringstream out;
  printSectionTitle(out, Budget::rom);
  printSectionTitle(out, Budget::ram);
  printClosingRule(out);
  printOverBudgetLine(out, Budget::rom);
  printOverBudgetLine(out, Budget::ram);
  EXPECT_EQ(out.str(),
            "\n---------  ROM  -----------\n"
            "\n---------  RAM  -----------\n"
            "---------------------------\n\n"
            "\033[31mError: Not enough ROM memory on the selected device.\033[0m"
            "\033[31mError: Not enough RAM memory on the selected device.\033[0m");
}

}  // namespace
}  // namespace pakforge
