#include "elf/flash_layout.h"

#include <algorithm>

namespace pakforge {
namespace {

// Whether a segment's alignment is the page size rather than that of its
// sections: GNU ld and LLD align segments to pages in the file unless the
// link is made with -n. Without section headers, a segment placed further on
// in the file than a one-block layout puts it, at a page boundary, tells.
bool pageAlignedSegment(const ElfReader& elf, const ElfSegment& s, std::uint64_t further) {
  const std::uint32_t page = std::min<std::uint32_t>(s.alignment, 0x10000);
  if (page < 0x1000 || s.offset % page != s.virtualAddress % page) {
    return false;
  }
  if (elf.sectionCount() == 0) {
    return further > 0;
  }
  return s.alignment > s.sectionAlignment;
}

}  // namespace

bool flashPart(const ElfReader& elf, std::uint32_t index, FlashPart& part) {
  if (!elf.loadSegment(index, part.segment)) {
    return false;
  }
  const ElfSegment& s = part.segment;
  part.from = std::max<std::uint64_t>(s.physicalAddress, FLASH_BASE);
  part.to = std::min<std::uint64_t>(std::uint64_t{s.physicalAddress} + s.fileSize, ROM_LIMIT);
  return part.from < part.to;
}

std::uint64_t derivedOffsetOf(const ImageHeader& header, std::uint64_t at) {
  return elfCodeOffset(header.addrExe) + (at - header.addrExe);
}

FlashLayout flashExtent(const ElfReader& elf) {
  FlashLayout layout;
  FlashPart part;
  for (std::uint32_t i = 0; i < elf.segmentCount(); ++i) {
    if (!flashPart(elf, i, part)) {
      continue;
    }
    if (!layout.any || part.from < layout.first.from) {
      layout.first = part;
    }
    layout.end = std::max(layout.end, part.to);
    layout.any = true;
  }
  return layout;
}

FlashLayout flashLayout(const ElfReader& elf, const ImageHeader& header) {
  FlashLayout layout = flashExtent(elf);
  FlashPart part;
  for (std::uint32_t i = 0; i < elf.segmentCount(); ++i) {
    if (!flashPart(elf, i, part)) {
      continue;
    }
    const ElfSegment& s = part.segment;
    const std::uint64_t derived = derivedOffsetOf(header, s.physicalAddress);
    const std::uint64_t further = s.offset > derived ? s.offset - derived : 0;
    if (pageAlignedSegment(elf, s, further)) {
      layout.pageAligned = true;
    } else if (part.from != layout.first.from && s.physicalAddress >= header.addrExe &&
               further > 0 && s.alignment > 1 && further < s.alignment &&
               s.physicalAddress % s.alignment != s.virtualAddress % s.alignment &&
               !layout.misaligned) {
      layout.misaligned = true;
      layout.misalignedSegment = s;
    }
  }
  return layout;
}

std::uint64_t fileHeadersSize(const ElfReader& elf) {
  return 52 + std::uint64_t{32} * elf.segmentCount();
}

bool alignKeepsStart(const ElfReader& elf, std::uint32_t addrExe) {
  const std::uint64_t derived = elfCodeOffset(addrExe);
  return derived != 0 && (derived & (derived - 1)) == 0 && addrExe % derived == 0 &&
         derived >= fileHeadersSize(elf);
}

}  // namespace pakforge
