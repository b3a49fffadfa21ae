// One read of the linker map for both of its checks: the RAM budget and the
// symbol scan each keep their own few facts from the same buffers.
#pragma once

#include <iostream>
#include <istream>
#include <string>

#include "mapfile/line_reader.h"
#include "mapfile/ram_budget.h"
#include "mapfile/symbol_scan.h"

namespace pakforge {

struct MapFacts {
  RamUsage ram;
  MapSymbols symbols;
};

MapFacts scanMap(std::istream& map, std::size_t bufferSize = LineReader::kDefaultBufferSize);

// Reads and closes the map file at `mapPath`. False when it can't be opened,
// after "map file not open PATH" on `messages`.
bool readMapFile(const std::string& mapPath, MapFacts& facts, std::ostream& messages = std::cout);

}  // namespace pakforge
