#include "elf/elf_check.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "elf/elf_reader.h"
#include "format/hex_text.h"

namespace pakforge {
namespace {

constexpr std::array<std::string_view, 5> kSymbolNames = {
    "__entryPoint__", "loop", "ModbusHGroups_Table", "ModbusIGroups_Table",
    "ModbusRemoteRegTables"};
constexpr std::array<std::uint32_t ImageHeader::*, 5> kSymbolFields = {
    &ImageHeader::entryPointAddr, &ImageHeader::loopAddr, &ImageHeader::hGroupsTableAddr,
    &ImageHeader::iGroupsTableAddr, &ImageHeader::remoteRegTablesAddr};

// The part of a loadable segment's file bytes that goes to the flash.
struct FlashPart {
  ElfSegment segment;
  std::uint64_t from = 0;
  std::uint64_t to = 0;
};

bool flashPart(ElfReader& elf, std::uint32_t index, FlashPart& part) {
  if (!elf.loadSegment(index, part.segment)) {
    return false;
  }
  const ElfSegment& s = part.segment;
  part.from = std::max<std::uint64_t>(s.physicalAddress, FLASH_BASE);
  part.to = std::min<std::uint64_t>(std::uint64_t{s.physicalAddress} + s.fileSize, ROM_LIMIT);
  return part.from < part.to;
}

// How the file lays out what the ELF loads into the flash, to tell the cause
// of a code that is not where pakforge takes it from.
struct FlashLayout {
  bool any = false;
  FlashPart first;  // the lowest in the flash
  std::uint64_t end = 0;
  // A segment placed further on in the file than in the flash, at a page
  // boundary: the link lacks -n.
  bool pageAligned = false;
};

// Where a one-block layout from the derived offset puts flash address `at`.
std::uint64_t derivedOffsetOf(const ImageHeader& header, std::uint64_t at) {
  return elfCodeOffset(header.addrExe) + (at - header.addrExe);
}

FlashLayout flashLayout(ElfReader& elf, const ImageHeader& header) {
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
  for (std::uint32_t i = 0; i < elf.segmentCount(); ++i) {
    if (!flashPart(elf, i, part) || part.from == layout.first.from) {
      continue;
    }
    const ElfSegment& s = part.segment;
    const std::uint32_t page = std::min<std::uint32_t>(s.alignment, 0x10000);
    if (page >= 0x1000 && s.physicalAddress >= header.addrExe &&
        s.offset > derivedOffsetOf(header, s.physicalAddress) &&
        s.offset % page == s.virtualAddress % page) {
      layout.pageAligned = true;
    }
  }
  return layout;
}

// What to change so that the file holds the flash content as one block from
// the derived offset, for the cause the layout shows; empty when it shows
// none.
std::string layoutFix(const FlashLayout& layout, const ImageHeader& header) {
  const std::uint32_t derived = elfCodeOffset(header.addrExe);
  const ElfSegment& first = layout.first.segment;
  const bool firstMisplaced = layout.first.from >= header.addrExe &&
                              first.offset + (layout.first.from - first.physicalAddress) !=
                                  derivedOffsetOf(header, layout.first.from);
  if (firstMisplaced && derived != 0) {
    return "align .text to " + hexText(derived, 1) + " (ALIGN(" + hexText(derived, 1) +
           ")) so that the file holds it from offset " + hexText(derived, 1) +
           (layout.pageAligned ? ", and link with -n (no page alignment of segments)" : "");
  }
  if (!firstMisplaced && layout.pageAligned) {
    return "link with -n (no page alignment of segments), so that the file holds the flash "
           "content as one block, as the flash does";
  }
  return {};
}

// The name of the section whose file bytes go to flash address `at`.
std::string sectionAt(ElfReader& elf, std::uint64_t at) {
  ElfSection section;
  for (std::uint32_t i = 1; i < elf.sectionCount(); ++i) {
    if (!elf.section(i, section) || !section.allocated() || !section.hasContent() ||
        section.size == 0) {
      continue;
    }
    FlashPart part;
    for (std::uint32_t k = 0; k < elf.segmentCount(); ++k) {
      if (!flashPart(elf, k, part) || section.offset < part.segment.offset ||
          section.offset - part.segment.offset >= part.segment.fileSize) {
        continue;
      }
      const std::uint64_t loadAt =
          std::uint64_t{part.segment.physicalAddress} + (section.offset - part.segment.offset);
      if (at >= loadAt && at < loadAt + section.size) {
        return section.name;
      }
    }
  }
  return {};
}

// GNU ld writes no linker name into the file; LLD does, in .comment.
bool linkedByLld(ElfReader& elf) {
  ElfSection section;
  for (std::uint32_t i = 1; i < elf.sectionCount(); ++i) {
    if (!elf.section(i, section) || section.name != ".comment") {
      continue;
    }
    std::array<char, 1024> text{};
    const std::size_t n = std::min<std::size_t>(text.size(), section.size);
    if (!elf.readAt(section.offset, std::span<char>(text.data(), n))) {
      return false;
    }
    // "Linker: LLD 14.0.6", or with a vendor's word between ("Linker: Debian
    // LLD 14.0.6"), among the zero-ended strings of the section.
    const std::string_view comment(text.data(), n);
    const std::size_t linker = comment.find("Linker: ");
    return linker != std::string_view::npos &&
           comment.substr(linker, comment.find('\0', linker) - linker).find("LLD") !=
               std::string_view::npos;
  }
  return false;
}

// Where the header came from, and why it can disagree with the ELF file.
std::string_view sourceText(HeaderSource source) {
  return source == HeaderSource::mapFile ? "the map file" : "the image's header";
}
std::string_view staleText(HeaderSource source) {
  return source == HeaderSource::mapFile ? "the map file may be from an earlier link"
                                         : "the image may be from an earlier link";
}

bool checkSymbols(ElfReader& elf, const ImageHeader& header, HeaderSource source,
                  std::string& problem) {
  std::array<ElfSymbol, 5> found{};
  if (!elf.findSymbols(kSymbolNames, found)) {
    return true;
  }
  for (std::size_t i = 0; i < kSymbolNames.size(); ++i) {
    const std::uint32_t inHeader = header.*kSymbolFields[i];
    // Thumb code addresses carry bit 0 in the symbol table, not in GNU ld's
    // map; either way they name the same instruction.
    if (found[i].defined && ((found[i].value ^ inHeader) & ~std::uint32_t{1}) != 0) {
      problem =
          std::string(kSymbolNames[i]) + " is " + hexText(found[i].value) + " in the ELF but " +
          hexText(inHeader) + " in " + std::string(sourceText(source)) + " (" +
          std::string(staleText(source)) +
          (source == HeaderSource::mapFile ? ", or give the address of a local symbol of that name)"
                                           : ")");
      return false;
    }
  }
  return true;
}

// What the flash content the range leaves out at its end is, and the change
// that brings it in.
std::string leftOutAtEnd(ElfReader& elf, const FlashPart& part, std::uint64_t start,
                         std::uint64_t codeEnd) {
  const ElfSegment& s = part.segment;
  const std::string name = sectionAt(elf, start);
  if (s.virtualAddress == s.physicalAddress) {
    // A flash section of its own after the end of the range.
    const std::string what = name.empty() ? std::string("it") : name;
    return " (" + (name.empty() ? std::string("flash content") : "section " + name) + "); place " +
           what + " inside .text, or in the flash before the line that ends the code range";
  }
  std::string fix =
      "; the code range must end after the last flash content, the initial values of ";
  fix += name.empty() || name == ".data" ? ".data" : ".data and " + name;
  fix += " included";
  if (start == codeEnd && linkedByLld(elf)) {
    fix +=
        " (in a map from LLD an assignment line shows the location counter, not the value "
        "assigned: move the location counter there)";
  } else {
    fix +=
        ": end it with a line before .data that moves the location counter past them, in an "
        "expression that does not name .data (. = _sidata + _data_image_size; _flash_end = .;)";
  }
  return fix;
}

bool checkRange(ElfReader& elf, const ImageHeader& header, HeaderSource source,
                std::string& problem) {
  const std::uint64_t codeStart = header.addrExe;
  const std::uint64_t codeEnd = codeStart + header.appSize;
  const std::string range = hexText(codeStart) + "-" + hexText(codeEnd);
  FlashPart part;
  for (std::uint32_t i = 0; i < elf.segmentCount(); ++i) {
    if (!flashPart(elf, i, part)) {
      continue;
    }
    if (part.from < codeStart) {
      const std::uint64_t end = std::min(part.to, codeStart);
      problem = "the ELF loads " + std::to_string(end - part.from) + " bytes at " +
                hexText(part.from) + " that the code range " + range +
                " leaves out; the code range starts at the first line of the map holding .text, "
                "so nothing may be placed in the flash before it";
      const std::string name = sectionAt(elf, part.from);
      if (!name.empty() && name != ".text") {
        problem += ": move " + name + " into .text, at its start";
      }
      return false;
    }
    if (part.to > codeEnd) {
      const std::uint64_t start = std::max(part.from, codeEnd);
      problem = "the ELF loads " + std::to_string(part.to - start) + " bytes at " + hexText(start) +
                " that the code range " + range + " leaves out" +
                leftOutAtEnd(elf, part, start, codeEnd);
      return false;
    }
  }
  const FlashLayout layout = flashLayout(elf, header);
  if (!layout.any) {
    problem = "the ELF loads nothing into the flash (" + hexText(FLASH_BASE) + "-" +
              hexText(ROM_LIMIT) + "), but the code range is " + range;
    return false;
  }
  if (codeEnd > layout.end) {
    problem = "the code range " + range + " runs " + std::to_string(codeEnd - layout.end) +
              " bytes past the end of the flash content the ELF loads, " + hexText(layout.end) +
              " (" + std::string(staleText(source)) + ")";
    return false;
  }
  return true;
}

bool checkCodeBytes(ElfReader& elf, const ImageHeader& header, std::span<const char> code,
                    std::string& problem) {
  const std::uint64_t codeStart = header.addrExe;
  const std::uint64_t codeEnd = codeStart + code.size();
  std::array<char, 4096> bytes{};
  for (std::uint32_t i = 0; i < elf.segmentCount(); ++i) {
    ElfSegment s;
    if (!elf.loadSegment(i, s)) {
      continue;
    }
    const std::uint64_t from = std::max<std::uint64_t>(s.physicalAddress, codeStart);
    const std::uint64_t to = std::min(std::uint64_t{s.physicalAddress} + s.fileSize, codeEnd);
    for (std::uint64_t at = from; at < to;) {
      const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), to - at));
      const std::uint64_t fileOffset = s.offset + (at - s.physicalAddress);
      if (!elf.readAt(fileOffset, std::span<char>(bytes.data(), n))) {
        problem = "the ELF file can't be read at offset " + hexText(fileOffset, 1);
        return false;
      }
      const auto image = code.subspan(static_cast<std::size_t>(at - codeStart), n);
      const auto differ =
          std::mismatch(bytes.begin(), bytes.begin() + static_cast<long>(n), image.begin());
      if (differ.first != bytes.begin() + static_cast<long>(n)) {
        const std::uint64_t address = at + static_cast<std::uint64_t>(differ.first - bytes.begin());
        const std::uint64_t inFile = s.offset + (address - s.physicalAddress);
        const std::uint64_t used = derivedOffsetOf(header, address);
        problem = "the code differs from the ELF at " + hexText(address) + " (code byte " +
                  std::to_string(address - codeStart) + ")";
        if (inFile != used) {
          problem += ": the ELF file holds that byte at offset " + hexText(inFile, 1) + ", not " +
                     hexText(used, 1);
          const std::string fix = layoutFix(flashLayout(elf, header), header);
          if (!fix.empty()) {
            problem += "; " + fix;
          }
        }
        return false;
      }
      at += n;
    }
  }
  return true;
}

ElfCheck checkBeforeCode(ElfReader& reader, const ImageHeader& header, HeaderSource source) {
  ElfCheck check;
  switch (reader.open(check.problem)) {
    case ElfOpen::notElf:
      return check;
    case ElfOpen::unreadable:
      check.verdict = ElfVerdict::unreadable;
      return check;
    case ElfOpen::ok:
      break;
  }
  check.symbolsChecked = reader.hasSymbols();
  const bool agrees = checkSymbols(reader, header, source, check.problem) &&
                      checkRange(reader, header, source, check.problem);
  check.verdict = agrees ? ElfVerdict::agrees : ElfVerdict::disagrees;
  return check;
}

}  // namespace

ElfCheck checkElfAgainstHeader(std::istream& elf, std::uint64_t length, const ImageHeader& header,
                               HeaderSource source) {
  ElfReader reader(elf, length);
  return checkBeforeCode(reader, header, source);
}

ElfCheck checkImageAgainstElf(std::istream& elf, std::uint64_t length, const ImageHeader& header,
                              std::span<const char> code, HeaderSource source) {
  ElfReader reader(elf, length);
  ElfCheck check = checkBeforeCode(reader, header, source);
  if (check.verdict == ElfVerdict::agrees && !checkCodeBytes(reader, header, code, check.problem)) {
    check.verdict = ElfVerdict::disagrees;
  }
  return check;
}

std::string describeMisplacedCode(std::istream& elf, std::uint64_t length,
                                  const ImageHeader& header) {
  ElfReader reader(elf, length);
  std::string reason;
  if (reader.open(reason) != ElfOpen::ok) {
    return {};
  }
  for (std::uint32_t i = 0; i < reader.segmentCount(); ++i) {
    ElfSegment s;
    if (!reader.loadSegment(i, s) || header.addrExe < s.physicalAddress ||
        header.addrExe - s.physicalAddress >= s.fileSize) {
      continue;
    }
    const std::uint64_t inFile = std::uint64_t{s.offset} + (header.addrExe - s.physicalAddress);
    const std::uint32_t derived = elfCodeOffset(header.addrExe);
    if (inFile == derived) {
      return {};
    }
    std::string problem = "the ELF holds the code at file offset " + hexText(inFile, 1) + ", not " +
                          hexText(derived, 1);
    const std::string fix = layoutFix(flashLayout(reader, header), header);
    if (!fix.empty()) {
      problem += "; " + fix;
    }
    return problem;
  }
  return {};
}

}  // namespace pakforge
