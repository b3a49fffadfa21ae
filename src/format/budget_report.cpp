#include "format/budget_report.h"

#include <cmath>

namespace pakforge {
namespace {

constexpr std::string_view kRed = "\033[31m";
constexpr std::string_view kYellow = "\033[43;1m";
constexpr std::string_view kGreen = "\033[01;38;05;113m";
constexpr std::string_view kReset = "\033[0m";

// The stream's default format, except that a NaN is always "nan": the C
// library spells a negative one "-nan", which would make the report depend
// on the platform.
void printPercent(std::ostream& out, float percent) {
  if (std::isnan(percent)) {
    out << "nan";
  } else {
    out << percent;
  }
}

}  // namespace

float percentOf(float value, float limit) {
  return value * 100.0f / limit;
}

void printSectionTitle(std::ostream& out, Budget which) {
  out << (which == Budget::rom ? "\n---------  ROM  -----------\n"
                               : "\n---------  RAM  -----------\n");
}

void printItemLine(std::ostream& out, std::string_view label, std::uint32_t value,
                   std::int32_t limit) {
  out << label << value << " Bytes (";
  printPercent(out, percentOf(static_cast<float>(value), static_cast<float>(limit)));
  out << "%)\n";
}

void printUsageLine(std::ostream& out, std::string_view label, std::int32_t used,
                    std::int32_t limit) {
  out << label << used << "/" << limit << " Bytes (";
  printPercent(out, percentOf(static_cast<float>(used), static_cast<float>(limit)));
  out << "/100%)\n";
}

void printFreeSpaceLine(std::ostream& out, std::int32_t used, std::int32_t limit) {
  const auto free = static_cast<std::int32_t>(static_cast<std::uint32_t>(limit) -
                                              static_cast<std::uint32_t>(used));
  const float p = percentOf(static_cast<float>(free), static_cast<float>(limit));
  // A NaN fails both tests and so takes the green form.
  if (p < 5.0f || p < 18.0f) {
    out << (p < 5.0f ? kRed : kYellow) << "Free space = " << free << " Bytes (";
    printPercent(out, p);
    out << "/100%)" << kReset << "\n";
  } else {
    out << "Free space = " << kGreen << free << kReset << " Bytes (" << kGreen;
    printPercent(out, p);
    out << kReset << "/100%)\n";
  }
}

void printClosingRule(std::ostream& out) {
  out << "---------------------------\n\n";
}

void printOverBudgetLine(std::ostream& out, Budget which) {
  out << kRed
      << (which == Budget::rom ? "Error: Not enough ROM memory on the selected device."
                               : "Error: Not enough RAM memory on the selected device.")
      << kReset;
}

bool printSectionTotals(std::ostream& out, Budget which, std::string_view label, std::int32_t used,
                        std::int32_t limit) {
  printUsageLine(out, label, used, limit);
  printFreeSpaceLine(out, used, limit);
  printClosingRule(out);
  if (limit < used) {
    printOverBudgetLine(out, which);
    return false;
  }
  return true;
}

}  // namespace pakforge
