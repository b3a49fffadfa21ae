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
RamScan::RamScan(bool countLines)
    : LineScan(LineFeatures("2000", ".data", '2', 8)), countLines_(countLines) {}

// Only lines holding "2000" count, and most map lines do not; the lines
// between are counted, when they are, not looked at.
std::size_t RamScan::nextCandidate(std::string_view run, std::size_t from) {
  const std::size_t next = findPattern(run, "2000", from);
  if (countLines_) {
    const std::size_t start = next == npos ? run.size() : lineStart(run, from, next);
    number_ += countLineFeeds(run.substr(from, start - from));
  }
  return next;
}

bool RamScan::onLine(const LineFeatures& line) {
  ++number_;
  if (!line.holds(kRamAddress)) {
    return true;
  }
  const std::uint32_t value = line.windowValue();
  const auto taken = [&line, this] {
    return MapLine{countLines_ ? number_ : 0, std::string(line.head().substr(0, MapLine::kMaxText)),
                   line.offset()};
  };
  if (line.holds(kData)) {
    usage_.dataStart = value;
    usage_.startLine = taken();
  } else if (value > usage_.dataEnd && value > usage_.dataStart) {
    usage_.dataEnd = value;
    usage_.endLine = taken();
  }
  return true;
}

void RamScan::onHiddenLine(std::string_view /*line*/) {
  ++number_;
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
