#include "mapfile/symbol_scan.h"

#include <algorithm>
#include <string_view>

namespace pakforge {
namespace {

struct RequiredSymbol {
  std::string_view name;
  std::uint32_t ImageHeader::*field;
};

// Looked up in this order; only the first missing one is reported.
constexpr std::array<RequiredSymbol, kRequiredSymbolCount> kRequiredSymbols = {{
    {"__entryPoint__", &ImageHeader::entryPointAddr},
    {"loop", &ImageHeader::loopAddr},
    {"ModbusHGroups_Table", &ImageHeader::hGroupsTableAddr},
    {"ModbusIGroups_Table", &ImageHeader::iGroupsTableAddr},
    {"ModbusRemoteRegTables", &ImageHeader::remoteRegTablesAddr},
}};

constexpr std::size_t kText = 0;
constexpr std::size_t kData = 1;

using Outcome = MapSymbols::Outcome;

// What may start a line the scan must see: while it seeks the code start,
// ".text" and ".data"; in the code range, the data line and the wanted names,
// "Modbus" standing for the three tables.
constexpr std::array<std::string_view, 2> kSeekPatterns = {".text", ".data"};
constexpr std::array<std::string_view, 4> kRangePatterns = {".data", "__entryPoint__", "loop",
                                                            "Modbus"};

}  // namespace

// Flash addresses are written 0x08xxxxxx: the seven characters from the first
// '8' of a line are their significant digits.
SymbolScan::SymbolScan() : LineScan(LineFeatures(".text", ".data", '8', 7)) {}

void SymbolScan::beginRun(std::string_view /*run*/) {
  next_.reset();
}

std::size_t SymbolScan::nextCandidate(std::string_view run, std::size_t from) {
  if (symbols_.outcome != Outcome::reading) {
    return npos;
  }
  if (!inCodeRange_) {
    return next_.from(run, kSeekPatterns, from);
  }
  const std::size_t next = next_.from(run, kRangePatterns, from);
  // Of the lines passed over on the way to the next one holding a pattern
  // (or to the run's end), only the last with an address can matter: as the
  // end of the code range, should no later line before the data line have
  // one.
  std::size_t gapEnd = run.size();
  if (next != npos) {
    const std::size_t lineFeed = run.substr(0, next).rfind('\n');
    gapEnd = lineFeed == npos || lineFeed < from ? from : lineFeed + 1;
  }
  const std::size_t lastAddress = run.substr(from, gapEnd - from).rfind('8');
  return lastAddress == npos ? next : from + lastAddress;
}

bool SymbolScan::onLine(const LineFeatures& line) {
  if (!inCodeRange_) {
    if (line.holds(kText)) {
      if (line.leadWindow().empty()) {
        symbols_.outcome = Outcome::noCodeStartAddress;
        return false;
      }
      symbols_.addrExe = line.windowValue();
      symbols_.haveAddrExe = true;
      inCodeRange_ = true;
      next_.reset();
    } else if (line.holds(kData)) {
      symbols_.outcome = Outcome::noCodeStart;
      return false;
    }
    return true;
  }
  if (line.holds(kData)) {
    if (!haveSymbolLine_) {
      symbols_.outcome = Outcome::noSymbolLine;
      return false;
    }
    symbols_.appSize =
        hexValue({lastSymbolWindow_.data(), lastSymbolWindowLength_}) - symbols_.addrExe;
    symbols_.haveAppSize = true;
    symbols_.outcome = Outcome::done;
    return false;
  }
  // Linker maps are full of lines without an address (blank lines, section
  // headings); they are not symbol lines.
  const std::string_view window = line.leadWindow();
  if (window.empty()) {
    return true;
  }
  // Only the last symbol line's address is ever used: keep its text and read
  // it once, at the data line.
  lastSymbolWindowLength_ = window.copy(lastSymbolWindow_.data(), lastSymbolWindow_.size());
  haveSymbolLine_ = true;
  if (line.nameKnown()) {
    const std::string_view name = line.name();
    for (std::size_t i = 0; i < kRequiredSymbols.size(); ++i) {
      if (name == kRequiredSymbols[i].name) {
        symbols_.seen[i] = true;
        symbols_.address[i] = hexValue(window);
      }
    }
  }
  return true;
}

bool applyMapSymbols(const MapSymbols& symbols, ImageHeader& header, std::ostream& messages) {
  if (symbols.haveAddrExe) {
    header.addrExe = symbols.addrExe;
  }
  if (symbols.haveAppSize) {
    header.appSize = symbols.appSize;
  }
  switch (symbols.outcome) {
    case Outcome::noCodeStart:
      // Printed as it always has been: no line feed, no flush.
      messages << "addrExe not found";
      return false;
    case Outcome::noCodeStartAddress:
      messages << "addrExe not found: the .text line holds no address" << std::endl;
      return false;
    case Outcome::noSymbolLine:
      messages << "appSize not found: no symbol line between the .text and .data lines"
               << std::endl;
      return false;
    case Outcome::reading:
      if (!symbols.haveAddrExe) {
        messages << "addrExe not found";
        return false;
      }
      break;
    case Outcome::done:
      break;
  }
  for (std::size_t i = 0; i < kRequiredSymbols.size(); ++i) {
    if (!symbols.seen[i]) {
      messages << "func " << kRequiredSymbols[i].name << " not found" << std::endl;
      return false;
    }
    header.*kRequiredSymbols[i].field = symbols.address[i];
  }
  return true;
}

bool scanMapSymbols(std::istream& map, ImageHeader& header, std::ostream& messages,
                    std::size_t bufferSize) {
  SymbolScan scan;
  scanLines(map, {&scan}, bufferSize);
  return applyMapSymbols(scan.symbols(), header, messages);
}

}  // namespace pakforge
