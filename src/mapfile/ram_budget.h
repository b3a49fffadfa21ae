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
  // The lines that set them, to say which they were: their text and
  // offset always, their number when the scan counted lines.
  MapLine startLine;
  MapLine endLine;
};

// Where the RAM data starts and the highest RAM address, from every line of
// the map that holds "2000".
class RamScan : public LineScan {
 public:
  // With `countLines`, the lines it takes get their numbers; counting costs
  // a pass over every byte, which a build does without.
  explicit RamScan(bool countLines = false);
  std::size_t nextCandidate(std::string_view run, std::size_t from) override;
  bool onLine(const LineFeatures& line) override;
  void onHiddenLine(std::string_view line) override;
  const RamUsage& usage() const { return usage_; }

 private:
  RamUsage usage_;
  bool countLines_;
  std::uint64_t number_ = 0;
};

// Reads the whole map: where the RAM data starts and the highest RAM address.
RamUsage scanRamUsage(std::istream& map, std::size_t bufferSize = LineReader::kDefaultBufferSize);

// Prints the RAM section to `report`; 0 when the data fits, -2 when not.
int reportRamBudget(const RamUsage& usage, std::ostream& report);

}  // namespace pakforge
