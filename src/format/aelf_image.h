// Reading an AELF image back: its magic, its header and whether its length
// matches the payloads the header describes. Used by aelfdump.
#pragma once

#include <cstdint>
#include <string>

#include "format/image_header.h"

namespace pakforge {

enum class ImageProblem { none, cannotOpen, notAelf, tooShort, lengthMismatch };

struct AelfImage {
  ImageHeader header;
  std::uint64_t fileSize = 0;
};

// Reads the first 76 bytes and the length of the image at `path`; never
// more, whatever the header claims.
ImageProblem readAelfImage(const std::string& path, AelfImage& image);

}  // namespace pakforge
