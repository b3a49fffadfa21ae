// Reading the code range and the firmware symbols from the linker map.
#pragma once

#include <array>
#include <cstdint>
#include <istream>
#include <ostream>
#include <string>
#include <string_view>

#include "format/image_header.h"
#include "mapfile/line_reader.h"

namespace pakforge {

inline constexpr std::size_t kRequiredSymbolCount = 5;

// The five symbols the header carries, in the order they are looked up.
inline constexpr std::array<std::string_view, kRequiredSymbolCount> kRequiredSymbolNames = {
    "__entryPoint__", "loop", "ModbusHGroups_Table", "ModbusIGroups_Table",
    "ModbusRemoteRegTables"};

// What the symbol scan read from the map, kept until the header it completes
// has been read from the configuration file.
struct MapSymbols {
  enum class Outcome { reading, done, noCodeStart, noCodeStartAddress, noSymbolLine };
  Outcome outcome = Outcome::reading;
  bool haveAddrExe = false;
  std::uint32_t addrExe = 0;
  bool haveAppSize = false;
  std::uint32_t appSize = 0;
  // The five symbols in the order they are looked up.
  std::array<bool, kRequiredSymbolCount> seen{};
  std::array<std::uint32_t, kRequiredSymbolCount> address{};
};

// The code start (the first line holding ".text"), then the symbol lines up
// to the first line holding ".data". Inside the code range it looks only at
// the lines that can matter: those holding one of the five names or ".data",
// and of the lines between them the last one with an address.
class SymbolScan : public LineScan {
 public:
  SymbolScan();
  void beginRun(std::string_view run) override;
  std::size_t nextCandidate(std::string_view run, std::size_t from) override;
  bool onLine(const LineFeatures& line) override;
  const MapSymbols& symbols() const { return symbols_; }

 private:
  MapSymbols symbols_;
  bool inCodeRange_ = false;
  bool haveSymbolLine_ = false;
  std::array<char, 7> lastSymbolWindow_{};
  std::size_t lastSymbolWindowLength_ = 0;
  NextMatch next_;
};

// Writes what the scan found into `header`: addrExe and appSize whenever
// their lines were read, then the five symbols in order. On false a message
// has been printed to `messages`; fields written before the failure stay
// written.
bool applyMapSymbols(const MapSymbols& symbols, ImageHeader& header, std::ostream& messages);

// The scan and its completion of `header` from a map already open; messages
// go to `messages`.
bool scanMapSymbols(std::istream& map, ImageHeader& header, std::ostream& messages,
                    std::size_t bufferSize = LineReader::kDefaultBufferSize);

}  // namespace pakforge
