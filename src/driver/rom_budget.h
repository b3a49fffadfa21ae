// Whether the code, the resources and the Modbus tables fit the flash above
// addrExe, with the ROM section of the usage report.
#pragma once

#include <cstdint>
#include <ostream>

#include "format/image_header.h"

namespace pakforge {

// The figures of the ROM budget, in the device's 32-bit arithmetic.
struct RomFigures {
  std::int32_t limit;    // ROM_LIMIT - addrExe
  std::uint32_t modbus;  // modbusTableEnd - modbusTableStart
  std::int32_t total;    // resourcesSize + appSize + modbus
  std::int32_t free;     // limit - total
};

RomFigures romFigures(const ImageHeader& header);

// Prints the ROM section to `report`; 0 when everything fits, -6 when not.
int checkRomBudget(const ImageHeader& header, std::ostream& report);

}  // namespace pakforge
