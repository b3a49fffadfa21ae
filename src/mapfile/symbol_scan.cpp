#include "mapfile/symbol_scan.h"

#include <array>
#include <iostream>
#include <string_view>

#include "format/input_file.h"
#include "mapfile/line_reader.h"

namespace pakforge {
namespace {

struct RequiredSymbol {
  std::string_view name;
  std::uint32_t ImageHeader::*field;
};

// Looked up in this order; only the first missing one is reported.
constexpr std::array<RequiredSymbol, 5> kRequiredSymbols = {{
    {"__entryPoint__", &ImageHeader::entryPointAddr},
    {"loop", &ImageHeader::loopAddr},
    {"ModbusHGroups_Table", &ImageHeader::hGroupsTableAddr},
    {"ModbusIGroups_Table", &ImageHeader::iGroupsTableAddr},
    {"ModbusRemoteRegTables", &ImageHeader::remoteRegTablesAddr},
}};

constexpr std::size_t kText = 0;
constexpr std::size_t kData = 1;

enum class Outcome { reading, done, noCodeStart, noCodeStartAddress, noSymbolLine };

}  // namespace

bool scanMapSymbols(std::istream& map, ImageHeader& header, std::ostream& messages,
                    std::size_t bufferSize) {
  // Only the names looked up are kept, the later line winning, and the
  // address of the last symbol line, which ends the code range.
  std::array<bool, kRequiredSymbols.size()> seen{};
  std::array<std::uint32_t, kRequiredSymbols.size()> address{};
  bool haveSymbolLine = false;
  std::array<char, 7> lastSymbolWindow{};
  std::size_t lastSymbolWindowLength = 0;
  bool inCodeRange = false;
  Outcome outcome = Outcome::reading;

  // Flash addresses are written 0x08xxxxxx: the seven characters from the
  // first '8' of a line are their significant digits.
  LineFeatures line(".text", ".data", '8', 7);
  const auto everyLine = [](std::string_view) { return std::size_t{0}; };
  const auto onLine = [&](const LineFeatures& l) {
    if (!inCodeRange) {
      if (l.holds(kText)) {
        if (l.leadWindow().empty()) {
          outcome = Outcome::noCodeStartAddress;
          return false;
        }
        header.addrExe = l.windowValue();
        inCodeRange = true;
      } else if (l.holds(kData)) {
        outcome = Outcome::noCodeStart;
        return false;
      }
      return true;
    }
    if (l.holds(kData)) {
      if (!haveSymbolLine) {
        outcome = Outcome::noSymbolLine;
        return false;
      }
      header.appSize = hexValue({lastSymbolWindow.data(), lastSymbolWindowLength}) - header.addrExe;
      outcome = Outcome::done;
      return false;
    }
    // Linker maps are full of lines without an address (blank lines,
    // section headings); they are not symbol lines.
    const std::string_view window = l.leadWindow();
    if (window.empty()) {
      return true;
    }
    // Only the last symbol line's address is ever used: keep its text and
    // read it once, at the data line.
    lastSymbolWindowLength = window.copy(lastSymbolWindow.data(), lastSymbolWindow.size());
    haveSymbolLine = true;
    const std::string_view name = l.name();
    for (std::size_t i = 0; l.nameKnown() && i < kRequiredSymbols.size(); ++i) {
      if (name == kRequiredSymbols[i].name) {
        seen[i] = true;
        address[i] = hexValue(window);
      }
    }
    return true;
  };
  forEachLine(map, line, everyLine, onLine, bufferSize);

  if (outcome == Outcome::reading && !inCodeRange) {
    outcome = Outcome::noCodeStart;
  }
  switch (outcome) {
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
    case Outcome::done:
      break;
  }
  for (std::size_t i = 0; i < kRequiredSymbols.size(); ++i) {
    if (!seen[i]) {
      messages << "func " << kRequiredSymbols[i].name << " not found" << std::endl;
      return false;
    }
    header.*kRequiredSymbols[i].field = address[i];
  }
  return true;
}

bool scanMapSymbols(const std::string& mapPath, ImageHeader& header) {
  std::ifstream map;
  if (!openInputFile(mapPath, std::ios::in, map)) {
    std::cout << "map file not open " << mapPath << std::endl;
    return false;
  }
  return scanMapSymbols(map, header, std::cout);
}

}  // namespace pakforge
