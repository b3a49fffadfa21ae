#include "mapfile/ram_budget.h"

#include <string_view>

#include "format/budget_report.h"
#include "format/image_header.h"
#include "mapfile/line_reader.h"

namespace pakforge {

namespace {
constexpr std::size_t kRamAddress = 0;
constexpr std::size_t kData = 1;
}  // namespace

// RAM addresses are written 0x2000xxxx; the value is read from the first '2'
// of the line, which may stand before the "2000" itself (".data2").
RamScan::RamScan() : LineScan(LineFeatures("2000", ".data", '2', 8)) {}

// Only lines holding "2000" count, and most map lines do not.
std::size_t RamScan::nextCandidate(std::string_view run, std::size_t from) {
  return findPattern(run, "2000", from);
}

bool RamScan::onLine(const LineFeatures& line) {
  if (!line.holds(kRamAddress)) {
    return true;
  }
  const std::uint32_t value = line.windowValue();
  if (line.holds(kData)) {
    usage_.dataStart = value;
  } else if (value > usage_.dataEnd && value > usage_.dataStart) {
    usage_.dataEnd = value;
  }
  return true;
}

RamUsage scanRamUsage(std::istream& map, std::size_t bufferSize) {
  RamScan scan;
  scanLines(map, {&scan}, bufferSize);
  return scan.usage();
}

int reportRamBudget(const RamUsage& usage, std::ostream& report) {
  const auto used = static_cast<std::int32_t>(usage.dataEnd - usage.dataStart);
  const auto limit = static_cast<std::int32_t>(RAM_LIMIT - usage.dataStart);
  printSectionTitle(report, Budget::ram);
  return printSectionTotals(report, Budget::ram, "App RAM data size = ", used, limit) ? 0 : -2;
}

}  // namespace pakforge
