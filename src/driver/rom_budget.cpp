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
  printSectionTitle(report, Budget::rom);
  printItemLine(report, "App size = ", header.appSize, f.limit);
  printItemLine(report, "Resources size = ", header.resourcesSize, f.limit);
  printItemLine(report, "Modbus table size = ", f.modbus, f.limit);
  return printSectionTotals(report, Budget::rom, "Total size = ", f.total, f.limit) ? 0 : -6;
}

}  // namespace pakforge
