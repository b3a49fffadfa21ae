// Whether the code, the resources and the Modbus tables fit the flash above
// addrExe, with the ROM section of the usage report.
#pragma once

#include <ostream>

#include "format/image_header.h"

namespace pakforge {

// Prints the ROM section to `report`; 0 when everything fits, -6 when not.
int checkRomBudget(const ImageHeader& header, std::ostream& report);

}  // namespace pakforge
