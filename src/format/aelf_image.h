// Reading an AELF image back: its magic, its header and whether its length
// matches the payloads the header describes. Used by aelfdump.
#pragma once

#include <cstdint>
#include <string>

#include "format/image_header.h"

namespace pakforge {

// deviceRefuses: the image is whole, but the device's own check (aelf_check
// of pakforge/aelf.h) refuses its header.
enum class ImageProblem { none, cannotOpen, notAelf, tooShort, lengthMismatch, deviceRefuses };

struct AelfImage {
  ImageHeader header;
  std::uint64_t fileSize = 0;
  // aelf_check's status for it (AELF_OK, 0, when it accepts it).
  int deviceStatus = 0;
};

// What the device's check says of an image with this header and the
// payloads it describes: AELF_OK (0), or the status it refuses it with.
int deviceCheck(const ImageHeader& header);
// Why: the status's name and the header fields it concerns, such as
// "loopAddr 0x0801FF7C lies outside the code, 0x08020000-0x0802010C
// (AELF_LOOP_OUTSIDE_CODE)". Empty for AELF_OK.
std::string deviceRefusal(const ImageHeader& header, int status);

// Reads the first 76 bytes and the length of the image at `path`; never
// more, whatever the header claims.
ImageProblem readAelfImage(const std::string& path, AelfImage& image);

}  // namespace pakforge
