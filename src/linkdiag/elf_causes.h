// What in the link a disagreement the build's check finds comes from, told
// from the ELF file alone: the rule it answers and the change to make. The
// build refuses with these words; each is defined beside the diagnosis's
// detectors of the same rules, which tell the same causes from the map, so
// that a rule's two readings of a link stand in one file.
#pragma once

#include <cstdint>
#include <string>

#include "elf/elf_reader.h"
#include "elf/flash_layout.h"
#include "format/image_header.h"
#include "rules/rules.h"

namespace pakforge {

// A change to the link, and the rule it answers.
struct Advice {
  Rule rule = Rule::none;
  std::string text;
};

// Where the file holds the code: why the flash content is not one block
// from the offset derived from the code start; empty when the layout shows
// no cause.
Advice layoutCause(const ElfReader& elf, const FlashLayout& layout, const ImageHeader& header);
// The file's own headers loaded with the code, in the page before it: the
// change to the page alignment of the segments.
Advice headersLoadedCause(const ElfReader& elf, std::uint32_t addrExe);
// The range ends inside the initial values of `section`, loaded at an
// address the linker aligned past the one its end line counts from.
Advice misalignedValuesCause(const ElfSection& section, std::uint64_t start);

// What the flash content the range leaves out before its start is, from
// "the ELF loads ... leaves out" (`fact`): the whole problem and its rule.
Advice leftOutBeforeCause(const ElfReader& elf, const FlashPart& part, std::uint32_t addrExe,
                          const std::string& fact);

// What the flash content the range leaves out at its end, from `start`, is:
// the words that follow the fact, and the change that brings it in.
Advice leftOutAtEndCause(ElfReader& elf, const FlashPart& part, std::uint64_t start);
// The code range `range` does not end in the flash.
Advice rangeEndNotFlashCause(const std::string& range);

}  // namespace pakforge
