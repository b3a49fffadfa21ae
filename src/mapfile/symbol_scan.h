// Reading the code range and the firmware symbols from the linker map.
#pragma once

#include <istream>
#include <ostream>
#include <string>

#include "format/image_header.h"
#include "mapfile/line_reader.h"

namespace pakforge {

// Completes `header` from the map file at `mapPath`: addrExe, appSize (when
// the map has a data line) and the five symbol addresses. On false a message
// has been printed to standard output; fields written before the failure
// stay written.
bool scanMapSymbols(const std::string& mapPath, ImageHeader& header);

// The same on a map already open; messages go to `messages`.
bool scanMapSymbols(std::istream& map, ImageHeader& header, std::ostream& messages,
                    std::size_t bufferSize = LineReader::kDefaultBufferSize);

}  // namespace pakforge
