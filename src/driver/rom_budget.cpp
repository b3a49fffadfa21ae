#include "driver/rom_budget.h"

#include <cstdint>

#include "format/budget_report.h"

namespace pakforge {

RomFigures romFigures(const ImageHeader& header) {
  RomFigures f{};
  f.limit = static_cast<std::int32_t>(ROM_LIMIT - header.addrExe);
  f.modbus = header.modbusTableEnd - header.modbusTableStart;
  f.total = static_cast<std::int32_t>(header.resourcesSize + header.appSize + f.modbus);
  f.free = static_cast<std::int32_t>(static_cast<std::uint32_t>(f.limit) -
                                     static_cast<std::uint32_t>(f.total));
  return f;
}

int checkRomBudget(const ImageHeader& header, std::ostream& report) {
  const RomFigures f = romFigures(header);
  const std::int32_t limit = f.limit;
  const std::uint32_t modbus = f.modbus;
  const std::int32_t total = f.total;
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
