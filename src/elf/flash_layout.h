// How an ELF file lays out what it loads into the flash: the part of each
// segment that goes there, where the content starts and ends, and how the
// segments stand in the file against the one block from the offset derived
// from the code start that pakforge reads. Facts of the file alone; what
// in the link causes a layout is told by the diagnosis's detectors.
#pragma once

#include <cstdint>

#include "elf/elf_reader.h"
#include "format/image_header.h"

namespace pakforge {

// The part of a loadable segment's file bytes that goes to the flash.
struct FlashPart {
  ElfSegment segment;
  std::uint64_t from = 0;
  std::uint64_t to = 0;
};
// False when segment `index` is not loaded or loads nothing into the flash.
bool flashPart(const ElfReader& elf, std::uint32_t index, FlashPart& part);

// How the file lays out what the ELF loads into the flash, to tell the cause
// of a code that is not where pakforge takes it from.
struct FlashLayout {
  bool any = false;
  FlashPart first;  // the lowest in the flash
  std::uint64_t end = 0;
  // A segment placed further on in the file than in the flash, at a page
  // boundary: the link lacks -n.
  bool pageAligned = false;
  // A segment whose flash address is not a multiple of its alignment, which
  // the file keeps (the initial values of an 8-aligned .data loaded at an
  // address that is only 4-aligned): it lies a few bytes further on in the
  // file than in the flash.
  bool misaligned = false;
  ElfSegment misalignedSegment;
};

// Where a one-block layout from the derived offset puts flash address `at`.
std::uint64_t derivedOffsetOf(const ImageHeader& header, std::uint64_t at);
// Where the flash content starts and ends; reads the program headers alone.
FlashLayout flashExtent(const ElfReader& elf);
// The extent and, for a hint, how the segments are aligned in the file:
// this reads the section headers too, so only after a refusal.
FlashLayout flashLayout(const ElfReader& elf, const ImageHeader& header);

// The bytes of the ELF header and the program headers, which no loaded
// byte can stand in the file before.
std::uint64_t fileHeadersSize(const ElfReader& elf);
// ALIGN(n) puts .text at file offset n (with -n) without moving it only
// when n is a power of two that the code start is a multiple of, past the
// file's headers; otherwise the fix is where the code starts.
bool alignKeepsStart(const ElfReader& elf, std::uint32_t addrExe);

}  // namespace pakforge
