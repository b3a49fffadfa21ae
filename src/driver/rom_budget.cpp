#include "driver/rom_budget.h"

#include <cstdint>

#include "format/budget_report.h"

namespace pakforge {

int checkRomBudget(const ImageHeader& header, std::ostream& report) {
  const auto limit = static_cast<std::int32_t>(ROM_LIMIT - header.addrExe);
  const std::uint32_t modbus = header.modbusTableEnd - header.modbusTableStart;
  const auto total = static_cast<std::int32_t>(header.resourcesSize + header.appSize + modbus);
  printSectionTitle(report, Budget::rom);
  printItemLine(report, "App size = ", header.appSize, limit);
  printItemLine(report, "Resources size = ", header.resourcesSize, limit);
  printItemLine(report, "Modbus table size = ", modbus, limit);
  printUsageLine(report, "Total size = ", total, limit);
  printFreeSpaceLine(report, total, limit);
  printClosingRule(report);
  if (limit < total) {
    printOverBudgetLine(report, Budget::rom);
    return -6;
  }
  return 0;
}

}  // namespace pakforge
