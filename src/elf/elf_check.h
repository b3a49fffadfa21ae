// Whether an image's code and header agree with the ELF file they were taken
// from. The map rules and the derived file offset give the right code for
// firmware linked the way they expect; for any other link they can give a
// wrong image, and a device flashed with it boots garbage. This check turns
// that into a failure that says what is wrong.
#pragma once

#include <cstdint>
#include <istream>
#include <span>
#include <string>

#include "format/image_header.h"

namespace pakforge {

enum class ElfVerdict {
  // No 32-bit little-endian ELF file, or one whose headers can't be read:
  // its bytes are taken as they are, unchecked.
  notElf,
  agrees,
  disagrees,
};

// Checks, in this order, that each of the five header symbols the ELF file
// defines globally has the address the header holds (bit 0, the Thumb bit,
// aside); that every code byte at an address a loadable segment fills from
// the file equals that byte; and that everything the ELF file loads into the
// flash lies inside the code range. `code` holds the header's appSize bytes.
// On `disagrees`, `problem` says what is wrong, with addresses in hex and,
// where it can tell, what to change.
ElfVerdict checkImageAgainstElf(std::istream& elf, std::uint64_t length, const ImageHeader& header,
                                std::span<const char> code, std::string& problem);

// For an ELF file too short to hold the code at the offset derived from
// addrExe: true, with `problem` set, when it is a readable ELF file that holds
// the code start elsewhere, to say where.
bool describeMisplacedCode(std::istream& elf, std::uint64_t length, const ImageHeader& header,
                           std::string& problem);

}  // namespace pakforge
