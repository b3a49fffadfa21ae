// Whether the application's RAM data fits the device, read from the linker
// map, with the RAM section of the usage report.
#pragma once

#include <cstdint>
#include <istream>
#include <ostream>
#include <string>

#include "mapfile/line_reader.h"

namespace pakforge {

struct RamUsage {
  std::uint32_t dataStart = 0;
  std::uint32_t dataEnd = 0;
};

// Where the RAM data starts and the highest RAM address, from every line of
// the map that holds "2000".
class RamScan : public LineScan {
 public:
  RamScan();
  std::size_t nextCandidate(std::string_view run, std::size_t from) override;
  bool onLine(const LineFeatures& line) override;
  const RamUsage& usage() const { return usage_; }

 private:
  RamUsage usage_;
};

// Reads the whole map: where the RAM data starts and the highest RAM address.
RamUsage scanRamUsage(std::istream& map, std::size_t bufferSize = LineReader::kDefaultBufferSize);

// Prints the RAM section to `report`; 0 when the data fits, -2 when not.
int reportRamBudget(const RamUsage& usage, std::ostream& report);

}  // namespace pakforge
