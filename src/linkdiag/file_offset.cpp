// Detectors of where the file holds the code: the offset pakforge derives
// from the code start, and the alignment of the initial values.
#include "linkdiag/link_diagnosis.h"

#include <algorithm>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "elf/elf_check.h"
#include "format/hex_text.h"
#include "format/image_header.h"
#include "linkdiag/detectors.h"
#include "linkdiag/elf_causes.h"

namespace pakforge::detect {

void offsetFindings(LinkDiagnosis& d, const ElfFacts& facts, const ElfReader& elf) {
  // With flash sections before the range, the code will start where they
  // do, once they are moved into .text: judge the offset of that. Initial
  // values before the range move after the code instead.
  // Room a FILL keeps for a boot loader's header is emptied where it
  // stands, not moved: in a region of its own, the code starts after it.
  std::uint64_t start = d.rangeStart;
  for (const FlashSpan& span : d.flash) {
    const Section* s = span.section.empty() ? nullptr : sectionNamed(facts, span.section);
    if (span.start < start && (s == nullptr || (!inSramWindow(s->header.address) && !s->filled))) {
      start = span.start;
    }
  }
  const bool moved = start != d.rangeStart;
  ImageHeader header;
  header.addrExe = static_cast<std::uint32_t>(start);
  header.appSize = static_cast<std::uint32_t>(d.rangeEnd - start);
  d.derivedOffset = elfCodeOffset(static_cast<std::uint32_t>(d.rangeStart));
  const FileLayout layout = checkFileLayout(elf, header);
  if (layout.oneBlock) {
    d.haveFileOffset = !moved && !d.flash.empty();
    d.fileOffset = d.derivedOffset;
    return;
  }
  if (layout.address == d.rangeStart) {
    d.haveFileOffset = true;
    d.fileOffset = layout.inFile;
  }
  // With the code start where it belongs, aligning .text changes nothing:
  // without a cause the layout shows, no fix is given.
  const bool startInPlace = layout.address != start;
  const Rule rule = layout.rule != Rule::none ? layout.rule
                    : startInPlace            ? Rule::flashNotOneBlock
                                              : Rule::codeStartNotAlignable;
  add(d, rule,
      "the ELF file holds the flash content at " + hexText(layout.address) + " at file offset " +
          hexText(layout.inFile, 1) + ", but pakforge reads it from " + hexText(layout.derived, 1) +
          ", taking the flash content as one block from the offset it derives from the code "
          "start, " +
          hexText(start) +
          (moved ? " (where the code starts once what lies before the code range is in .text)"
                 : ""),
      layout.rule != Rule::none
          ? layout.fix
          : fixText(rule, {hexText(start), hexText(elfCodeOffset(header.addrExe), 1)}));
  if (rule == Rule::textNotAtOffset) {
    // The header of .text the fix writes: aligned to the offset derived
    // from where the code starts once .text holds what lies before it.
    const std::uint32_t derived = elfCodeOffset(header.addrExe);
    d.findings.back().lines = {".text : ALIGN(" + hexText(derived, 1) + ")"};
    d.findings.back().align = derived;
  }
}

// Initial values loaded at an address that is not a multiple of their
// section's alignment: the file keeps the alignment, so, linked with -n,
// they lie a few bytes further on in the file than in the flash.
void alignmentFindings(LinkDiagnosis& d, const ElfFacts& facts) {
  // The build's own check may have given it already, without the line its
  // fix writes.
  LinkFinding* given = nullptr;
  for (LinkFinding& f : d.findings) {
    given = f.rule == Rule::initialValuesMisaligned ? &f : given;
  }
  if (given != nullptr && !given->lines.empty()) {
    return;
  }
  for (const Section& s : facts.sections) {
    const std::uint32_t align = s.header.alignment;
    if (!s.loaded || !inSramWindow(s.header.address) || !inFlash(s.loadAddress) || align <= 1 ||
        s.loadAddress % align == s.header.address % align) {
      continue;
    }
    const std::string n = std::to_string(align);
    if (given != nullptr) {
      given->lines = {". = ALIGN(" + n + ");"};
      given->align = align;
      return;
    }
    add(d, Rule::initialValuesMisaligned,
        join({"the initial values of ", s.header.name, " are loaded at ", hexText(s.loadAddress),
              ", which is not a multiple of ", n, ", the section's alignment: the file keeps ",
              s.header.name, " ", n,
              "-aligned, so with -n they lie further on in the file than in the flash"}),
        fixText(Rule::initialValuesMisaligned, {n}));
    d.findings.back().lines = {". = ALIGN(" + n + ");"};
    d.findings.back().align = align;
    return;
  }
  // What the fixes of the range's end cause: once the range ends after the
  // initial values, they are loaded where the last flash section ends. Said
  // now, so that one round of fixes is enough.
  const bool endMoves = std::any_of(d.findings.begin(), d.findings.end(),
                                    [](const LinkFinding& f) { return f.endsRange; });
  const std::uint32_t align = ramDataAlignment(facts);
  std::uint64_t flashEnd = 0;
  for (const Section& s : facts.sections) {
    if (s.loaded && inFlash(s.loadAddress) && !inSramWindow(s.header.address)) {
      flashEnd = std::max(flashEnd, s.loadAddress + s.header.size);
    }
  }
  if (given == nullptr && endMoves && align > 4 && flashEnd != 0 && flashEnd % align != 0) {
    const std::string n = std::to_string(align);
    add(d, Rule::initialValuesMisaligned,
        "once the code range ends after the initial values of the RAM data, they are loaded "
        "where the flash sections end, " +
            hexText(flashEnd) + ", which is not a multiple of " + n +
            ", the RAM data's alignment: the file keeps it, so they would lie further on in the "
            "file than in the flash",
        fixText(Rule::initialValuesMisaligned, {n}));
    d.findings.back().lines = {". = ALIGN(" + n + ");"};
    d.findings.back().align = align;
  }
}

}  // namespace pakforge::detect

namespace pakforge {

// The build's reading of the same rules, from the ELF file alone.

// What -n alone does not fix: the page put the code at the derived offset,
// or loaded the file's headers before it, but -n puts the first section
// right after the headers, at a multiple of its own alignment, which must
// then be that offset (0x200 for a code start 0x200 into the flash). Where
// aligning .text to it is possible, that goes with -n.
Advice headersLoadedCause(const ElfReader& elf, std::uint32_t addrExe) {
  const std::uint64_t derived = elfCodeOffset(addrExe);
  const std::uint64_t headers = fileHeadersSize(elf);
  const ElfSection* code = findSectionLoadedAt(elf, addrExe);
  const std::uint64_t align = code == nullptr ? 1 : std::max<std::uint64_t>(code->alignment, 1);
  if (alignKeepsStart(elf, addrExe) && code != nullptr && code->loadAddress == addrExe &&
      (headers + align - 1) / align * align != derived) {
    return {Rule::textNotAtOffset,
            fixText(Rule::textNotAtOffset,
                    {hexText(derived, 1), ", and link with -n (no page alignment of segments)"})};
  }
  return {Rule::pageAlignedSegments, fixText(Rule::pageAlignedSegments)};
}

// What to change so that the file holds the flash content as one block from
// the derived offset, for the cause the layout shows; empty when it shows
// none.
Advice layoutCause(const ElfReader& elf, const FlashLayout& layout, const ImageHeader& header) {
  const std::uint32_t derived = elfCodeOffset(header.addrExe);
  const ElfSegment& first = layout.first.segment;
  const bool firstMisplaced = layout.first.from >= header.addrExe &&
                              first.offset + (layout.first.from - first.physicalAddress) !=
                                  derivedOffsetOf(header, layout.first.from);
  const bool alignable = alignKeepsStart(elf, header.addrExe);
  // A derived offset inside the file's headers can't be reached by -n
  // either, even where the first segment starts before the code (a NOLOAD
  // reservation GNU ld keeps in it): the code start is the fix.
  const std::uint64_t at = std::max<std::uint64_t>(layout.first.from, header.addrExe);
  const bool startMisplaced = at < layout.first.to && first.offset + (at - first.physicalAddress) !=
                                                          derivedOffsetOf(header, at);
  if ((firstMisplaced || (startMisplaced && derived < fileHeadersSize(elf))) && !alignable) {
    return {Rule::codeStartNotAlignable,
            fixText(Rule::codeStartNotAlignable, {hexText(header.addrExe), hexText(derived, 1)})};
  }
  if (firstMisplaced) {
    return {
        Rule::textNotAtOffset,
        fixText(Rule::textNotAtOffset,
                {hexText(derived, 1),
                 layout.pageAligned ? ", and link with -n (no page alignment of segments)" : ""})};
  }
  if (!firstMisplaced && layout.pageAligned) {
    return headersLoadedCause(elf, header.addrExe);
  }
  if (!firstMisplaced && layout.misaligned) {
    const ElfSegment& s = layout.misalignedSegment;
    const std::string name = sectionLoadedAt(elf, s.physicalAddress);
    const std::string align = std::to_string(s.alignment);
    return {Rule::initialValuesMisaligned,
            "the flash address of " +
                (name.empty() ? std::string("a segment") : "the initial values of " + name) + ", " +
                hexText(s.physicalAddress) + ", is not a multiple of " + align +
                ", the alignment the file keeps for it: " +
                fixText(Rule::initialValuesMisaligned, {align})};
  }
  return {};
}

Advice misalignedValuesCause(const ElfSection& section, std::uint64_t start) {
  // Its end line counts them from an address before the one they are
  // loaded at, which the linker aligned to the section's alignment.
  const std::uint64_t loadAddress = section.loadAddress;
  const std::string align = std::to_string(section.alignment);
  return {Rule::initialValuesMisaligned,
          " (the last " + std::to_string(loadAddress + section.size - start) +
              " bytes of the initial values of " + section.name + ", which the linker loads at " +
              hexText(loadAddress) + ", aligned to " + align +
              "); the line that ends the code range counts them from a lower address: " +
              fixText(Rule::initialValuesMisaligned, {align})};
}

}  // namespace pakforge
