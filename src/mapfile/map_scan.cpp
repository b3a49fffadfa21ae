#include "mapfile/map_scan.h"

#include <fstream>
#include <iostream>

#include "format/input_file.h"

namespace pakforge {

MapFacts scanMap(std::istream& map, std::size_t bufferSize) {
  RamScan ram;
  SymbolScan symbols;
  scanLines(map, {&ram, &symbols}, bufferSize);
  return {ram.usage(), symbols.symbols()};
}

bool readMapFile(const std::string& mapPath, MapFacts& facts, std::ostream& messages) {
  std::ifstream map;
  if (!openInputFile(mapPath, std::ios::binary, map)) {
    messages << "map file not open " << mapPath << std::endl;
    return false;
  }
  facts = scanMap(map);
  return true;
}

}  // namespace pakforge
