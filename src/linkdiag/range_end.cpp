// Detectors of where the code range ends: the line before .data that ends
// it, and what the ELF file loads after it.
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
namespace {

// Whether an assignment line assigns the location counter or its value
// (". = X", "X = .", "X = ABSOLUTE(.)"): LLD's map shows the right value for
// those.
bool assignsLocationCounter(std::string_view line) {
  const std::size_t equals = line.find(" = ");
  if (equals == std::string_view::npos) {
    return false;
  }
  const std::string_view target = assignedName(line);
  std::string value;
  for (const char c : line.substr(equals + 3)) {
    if (c != ' ') {
      value += c;
    }
  }
  return target == "." || value == "." || value == "ABSOLUTE(.)";
}

// The RAM data's own section, which a script can place after .bss (.bss
// first in RAM): its bytes in the flash are the initial values, never a
// section to move into .data.
bool isRamData(const ElfFacts& facts, const Section& s) {
  return s.header.name == ".data" || s.header.name == ramDataSectionOf(facts);
}

// A RAM section after .bss that the ELF file loads bytes of into the flash:
// a reservation (its bytes are zero) is marked NOLOAD; one with contents
// (code run from RAM, initial values) moves into .data, since NOLOAD would
// drop them.
LinkFinding& ramSectionAfterBss(LinkDiagnosis& d, const Section& s, const std::string& what) {
  if (s.zero) {
    LinkFinding& f =
        add(d, Rule::reservationLoaded, what, fixText(Rule::reservationLoaded, {s.header.name}));
    f.section = s.header.name;
    return f;
  }
  std::string patterns;
  for (const MapSection& section : d.outline.sections) {
    if (section.name == s.header.name) {
      for (const std::string& pattern : section.patterns) {
        patterns += (patterns.empty() ? "" : " ") + pattern;
      }
    }
  }
  LinkFinding& f =
      add(d, Rule::ramContentAfterRange, what,
          fixText(Rule::ramContentAfterRange,
                  {s.header.name, patterns.empty() ? "its input sections" : patterns}));
  f.section = s.header.name;
  return f;
}

// Under LLD, RAM sections after .bss that have file bytes (reservations made
// by moving the location counter) are loaded into the flash as soon as a
// section before them is placed with AT(), as the recipe places .data.
void lldReservationFindings(LinkDiagnosis& d, const ElfFacts& facts,
                            const std::vector<FlashSpan>& leftOut) {
  const Section* bss = sectionNamed(facts, ".bss");
  if (!d.lldElf || bss == nullptr) {
    return;
  }
  std::set<std::string_view> said;
  for (const FlashSpan& span : leftOut) {
    said.insert(span.section);
  }
  for (const Section& s : facts.sections) {
    // A section of RAM the device lacks moves into .data or .bss instead.
    const bool alreadySaid =
        said.count(s.header.name) != 0 ||
        std::any_of(facts.missingRam.begin(), facts.missingRam.end(),
                    [&s](const ElfSection& m) { return m.name == s.header.name; });
    if (&s != bss && s.header.allocated() && s.header.hasContent() &&
        inSramWindow(s.header.address) && s.header.address >= bss->header.address && !alreadySaid &&
        !isRamData(facts, s)) {
      ramSectionAfterBss(d, s,
                         s.header.name +
                             " is a RAM section after .bss with bytes in the file: once .data "
                             "is placed with AT(), LLD loads it into the flash after .data");
    }
  }
}

// Under LLD, a RAM section after .bss with no bytes of its own that is not
// NOLOAD makes the zeros of .bss file bytes, loaded into the flash after
// .data's initial values: bytes no section of the ELF file names. That
// section is the reservation to mark NOLOAD.
void zerosWrittenFindings(LinkDiagnosis& d, const ElfFacts& facts) {
  const ZerosWritten& z = facts.zeros;
  const Section* empty = facts.zerosWritten ? sectionNamed(facts, z.section) : nullptr;
  if (empty == nullptr ||
      std::any_of(d.findings.begin(), d.findings.end(),
                  [&z](const LinkFinding& f) { return f.section == z.section; })) {
    return;
  }
  LinkFinding& f = add(d, Rule::reservationLoaded,
                       "the ELF file loads " + bytes(z.size) + " at " + hexText(z.loadAddress) +
                           ", the zeros of .bss: " + z.section +
                           ", a RAM section after .bss with no bytes of its own, is not NOLOAD, "
                           "and LLD writes what stands before it into the flash",
                       fixText(Rule::reservationLoaded, {z.section}));
  f.section = z.section;
}

}  // namespace

// No line after the code start holds .data: the symbol scan finds no end of
// the range, and the image's size is the header template's.
void noDataLineFindings(LinkDiagnosis& d, const ElfFacts& facts) {
  const std::string section = ramDataSectionOf(facts);
  if (d.mapSymbols.haveAddrExe && !d.mapSymbols.haveAppSize && !d.outline.dataLine.found() &&
      !section.empty()) {
    add(d, Rule::dataLineSectionName,
        "no line after the code start holds .data, so the symbol scan finds no end of the code "
        "range; the RAM data's output section is " +
            section,
        fixText(Rule::dataLineSectionName, {section}))
        .section = section;
  }
}

// A line before the .data output section that holds .data: the symbol scan
// takes it for the data line and ends the code range before it.
void dataLineFindings(LinkDiagnosis& d, const ElfFacts& facts) {
  const MapOutline& o = d.outline;
  MapLine line = o.dataLine;
  std::string section = o.dataLineSection;
  if (d.rangeAssumed && !o.strayDataLine.found() && sectionNamed(facts, ".data") == nullptr) {
    // The range assumes the RAM data's section renamed .data: the map's own
    // data line, in it, is what the rename answers.
    line = d.actualDataLine;
    section = d.actualDataLineSection;
  } else if (d.rangeAssumed) {
    line = o.strayDataLine;
    section = o.strayDataSection;
  } else if (o.dataLineIsData) {
    return;
  }
  if (!line.found()) {
    return;
  }
  const std::string ramDataSection = ramDataSectionOf(facts);
  const std::string what = "the first line holding .data after the code start, " + quoted(line) +
                           ", is not the .data output section's line, but the symbol scan ends "
                           "the code range before it";
  if (std::string_view(line.text).find(" = ") != std::string_view::npos) {
    setEndLines(
        add(d, Rule::dataLineAssignment, what + ": an assignment that names .data in an expression",
            fixText(Rule::dataLineAssignment)),
        d, facts, ramDataAlignment(facts));
  } else if (!section.empty() && section == ramDataSection) {
    add(d, Rule::dataLineSectionName,
        what + ": an input section line of " + section +
            ", the RAM data's output section, which is not named .data",
        fixText(Rule::dataLineSectionName, {section}))
        .section = section;
  } else {
    add(d, Rule::dataLinePattern,
        what + ", in " + (section.empty() ? std::string("no output section") : section),
        fixText(Rule::dataLinePattern));
  }
}

namespace {

// What the flash content past the range's end is: initial values of the
// RAM data (the first such section named), flash sections after the range
// (said now), a section the range ends inside (said by the caller when
// nothing else is), or RAM sections after .bss given load bytes (said now).
struct LeftOut {
  std::string ramDataSection;
  bool initialValues = false;
  std::string shortEnd;
};
// Whether LLD's map lists `endLine` among the lines of output section
// `name` (an alignment at its end, which it shows before it aligns): LLD
// indents a section's own lines past its four columns, where a top-level
// assignment stands one space after them. GNU ld's map shows an assignment
// the same wherever it stands, so that it tells nothing there.
bool endLineInside(const MapOutline& o, const std::string& name, const MapLine& endLine) {
  std::string_view text = endLine.text;
  for (int column = 0; column < 4 && !text.empty(); ++column) {
    text.remove_prefix(std::min(text.size(), text.find_first_not_of(' ')));
    text.remove_prefix(std::min(text.size(), text.find(' ')));
  }
  if (!o.lld || text.find_first_not_of(' ') <= 1) {
    return false;
  }
  for (std::size_t i = 0; i < o.sections.size(); ++i) {
    if (o.sections[i].name == name) {
      return o.sections[i].line.number <= endLine.number &&
             (i + 1 == o.sections.size() || o.sections[i + 1].line.number > endLine.number);
    }
  }
  return false;
}

LeftOut classifyLeftOut(LinkDiagnosis& d, const ElfFacts& facts,
                        const std::vector<FlashSpan>& after, const std::string& ends,
                        const MapLine& endLine) {
  LeftOut out;
  const Section* bss = sectionNamed(facts, ".bss");
  for (const FlashSpan& span : after) {
    const Section* s = span.section.empty() ? nullptr : sectionNamed(facts, span.section);
    const bool ram = s != nullptr && inSramWindow(s->header.address);
    if (!ram && !span.section.empty()) {
      if (s != nullptr && s->loaded &&
          (s->loadAddress < span.start || endLineInside(d.outline, span.section, endLine))) {
        // The range ends inside this section: its end line stops short.
        out.shortEnd = ends + ": the line that ends the code range stops " +
                       bytes(span.end - span.start) + " before the end of " + span.section +
                       (d.lldMap ? " (in a map from LLD an alignment line shows the location "
                                   "counter before it is aligned)"
                                 : "");
      } else {
        add(d, Rule::flashSectionAfterRange,
            span.section + " is a flash section after the end of the code range, " +
                quoted(d.outline.rangeEnd),
            fixText(Rule::flashSectionAfterRange, {span.section}))
            .section = span.section;
      }
      continue;
    }
    if (!ram) {
      continue;
    }
    if (bss != nullptr && s->header.address >= bss->header.address && s != bss &&
        !isRamData(facts, *s)) {
      // A RAM section after .bss that the linker gives load bytes after
      // AT().
      ramSectionAfterBss(
          d, *s,
          s->header.name + " is a RAM section after .bss" +
              (s->zero ? " (a reservation: its bytes are zero)" : " with contents (not zero)") +
              ", but the ELF file loads " + bytes(s->header.size) + " of it into the flash at " +
              hexText(s->loadAddress));
      continue;
    }
    out.initialValues = true;
    if (out.ramDataSection.empty()) {
      out.ramDataSection = s->header.name;
    }
  }
  return out;
}

// The flash content the range leaves out after its end, `end` at `endLine`.
void leftOutAfterFindings(LinkDiagnosis& d, const ElfFacts& facts, std::uint64_t end,
                          const MapLine& endLine) {
  const MapOutline& o = d.outline;
  std::vector<FlashSpan> after;
  std::string leftOut;
  for (const FlashSpan& span : d.flash) {
    if (span.end > end && end >= d.rangeStart) {
      after.push_back({std::max(span.start, end), span.end, span.section});
      leftOut += (leftOut.empty() ? "" : ", ") + spanText(after.back());
    }
  }
  if (after.empty()) {
    return;
  }
  const std::string ends = "the code range ends at " + hexText(end) + ", at " + quoted(endLine) +
                           ", and leaves out " + leftOut;
  const LeftOut what = classifyLeftOut(d, facts, after, ends, endLine);
  // A data line that is an assignment naming .data is said by
  // dataLineFindings, with the lines that end the range after the values.
  const bool assignmentDataLine =
      o.dataLine.found() && !o.dataLineIsData &&
      std::string_view(o.dataLine.text).find(" = ") != std::string_view::npos;
  if (what.initialValues) {
    lldReservationFindings(d, facts, after);
  } else if (!what.shortEnd.empty()) {
    add(d, Rule::endInsideSection, what.shortEnd, fixText(Rule::endInsideSection));
  }
  if (!what.initialValues || assignmentDataLine) {
    return;
  }
  if (d.lldMap && o.rangeEndIsAssignment && !assignsLocationCounter(o.rangeEnd.text)) {
    add(d, Rule::lldAssignmentEnd,
        ends +
            ": in a map from LLD an assignment line shows the location counter, not the "
            "value assigned",
        fixText(Rule::lldAssignmentEnd));
  } else {
    setEndLines(add(d, Rule::noEndLine,
                    ends + ": no line before .data carries the end of the initial values of " +
                        what.ramDataSection,
                    fixText(Rule::noEndLine, {what.ramDataSection})),
                d, facts, ramDataAlignment(facts));
  }
}

// RAM sections listed between the flash sections and .data: the last line
// with an address before .data can be theirs, and then ends the range.
// False when there are none.
bool ramSectionsBeforeDataFindings(LinkDiagnosis& d, const ElfFacts& facts, bool endInRam) {
  const MapOutline& o = d.outline;
  std::string ramSections;
  std::vector<std::string> moved;
  std::vector<std::string> noLoad;
  bool bssAmongThem = false;
  for (const MapSection& section : o.sections) {
    if (movedAfterData(o, section)) {
      ramSections += (ramSections.empty() ? "" : ", ") + section.name;
      moved.push_back(section.name);
      const Section* elf = sectionNamed(facts, section.name);
      if (elf != nullptr && elf->zero) {
        noLoad.push_back(section.name);
      }
      bssAmongThem = bssAmongThem || section.name == ".bss";
    }
  }
  if (ramSections.empty()) {
    return false;
  }
  LinkFinding& f = add(
      d, Rule::ramSectionsBeforeData,
      "RAM sections (" + ramSections + ") stand between the flash sections and .data in the map" +
          (endInRam ? ", and the line that ends the code range, " + quoted(o.rangeEnd) +
                          ", is theirs: the range's end is no flash address"
                    : ": a line of theirs whose address holds an 8 would end the code range"),
      // With .bss itself among them, they go after .data.
      fixText(Rule::ramSectionsBeforeData, {ramSections, bssAmongThem ? ".data" : ".bss"}));
  // Moved after .bss, a reservation whose zeros the file holds would be
  // the next link's PF211: say its fix now.
  std::string reservations;
  for (const std::string& name : noLoad) {
    reservations += (reservations.empty() ? "" : ", ") + name;
  }
  if (!reservations.empty()) {
    f.fix += ", and " + fixText(Rule::reservationLoaded, {reservations});
  }
  f.sections = std::move(moved);
  f.noLoad = std::move(noLoad);
  return true;
}

// Where the range's end lies: not in the flash, or past what the ELF file
// loads there.
void rangeEndPlaceFindings(LinkDiagnosis& d, bool endInRam, bool ramSectionsFound) {
  std::uint64_t flashEnd = 0;
  for (const FlashSpan& span : d.flash) {
    flashEnd = std::max(flashEnd, span.end);
  }
  const MapOutline& o = d.outline;
  const bool endIsFlash = d.rangeEnd >= d.rangeStart && d.rangeEnd <= ROM_LIMIT;
  if (!endIsFlash && !ramSectionsFound) {
    // No RAM section's line ends the range: another region's. An
    // assignment of such an address (a region's start, for code elsewhere)
    // belongs after .data; a section's line does not end the flash content.
    add(d, Rule::rangeEndNotFlash,
        "the code range " + rangeText(d.rangeStart, d.rangeEnd) +
            " does not end in the flash: the line that ends it, " + quoted(o.rangeEnd) +
            ", gives no flash address",
        fixText(Rule::rangeEndNotFlash,
                {quoted(o.rangeEnd),
                 o.rangeEndIsAssignment
                     ? " by moving that assignment of another region's address after .data; "
                       "the line before it then ends the range, and must give the end of the "
                       "flash content (. = _sidata + _data_image_size; _flash_end = .;)"
                     : " (. = _sidata + _data_image_size; _flash_end = .;)"}));
  }
  if (!d.flash.empty() && d.rangeEnd > flashEnd && !endInRam && endIsFlash) {
    add(d, Rule::rangePastFlashContent,
        "the code range " + rangeText(d.rangeStart, d.rangeEnd) + " runs " +
            bytes(d.rangeEnd - flashEnd) + " past the end of the flash content the ELF loads, " +
            hexText(flashEnd) + ": it ends at " + quoted(d.outline.rangeEnd),
        fixText(Rule::rangePastFlashContent));
  }
}

}  // namespace

// Why the range ends before the flash content does, told from the map.
void rangeEndFindings(LinkDiagnosis& d, const ElfFacts& facts) {
  const MapOutline& o = d.outline;
  // When RAM sections' lines end the range, their address is no end at
  // all: what is left out is judged from the last flash line before them.
  const bool endInRam = o.rangeEndHasAddress && inSramWindow(o.rangeEndAddress);
  const bool fromFlashLine = endInRam && o.lastFlashLine.found();
  leftOutAfterFindings(d, facts, fromFlashLine ? o.lastFlashAddress : d.rangeEnd,
                       fromFlashLine ? o.lastFlashLine : o.rangeEnd);
  const bool ramSectionsFound = ramSectionsBeforeDataFindings(d, facts, endInRam);
  rangeEndPlaceFindings(d, endInRam, ramSectionsFound);
  zerosWrittenFindings(d, facts);
}

}  // namespace pakforge::detect

namespace pakforge {

// The build's reading of the same rules, from the ELF file alone.

// What the flash content the range leaves out at its end is, and the change
// that brings it in.
Advice leftOutAtEndCause(ElfReader& elf, const FlashPart& part, std::uint64_t start) {
  const ElfSegment& s = part.segment;
  ZerosWritten zeros;
  if (zerosWrittenBefore(elf, zeros) && start >= zeros.loadAddress &&
      start < zeros.loadAddress + zeros.size) {
    return {Rule::reservationLoaded,
            " (the zeros of .bss, which LLD writes before " + zeros.section +
                ", a RAM section after .bss with no bytes of its own that is not NOLOAD); " +
                fixText(Rule::reservationLoaded, {zeros.section})};
  }
  const ElfSection* section = findSectionLoadedAt(elf, start);
  // Bytes a segment loads for a section without content of its own (.bss
  // between .data and a reservation): the first section loaded after them.
  if (section == nullptr) {
    for (const ElfSection& next : elf.sections()) {
      if (next.loaded && next.loadAddress > start && next.loadAddress < part.to &&
          (section == nullptr || next.loadAddress < section->loadAddress)) {
        section = &next;
      }
    }
  }
  const bool named = section != nullptr;
  const std::uint64_t loadAddress = named ? section->loadAddress : 0;
  const bool lld = linkedByLld(elf);
  if (named && loadAddress < start && section->address != loadAddress) {
    // The range ends inside the initial values of a RAM section.
    return misalignedValuesCause(*section, start);
  }
  if (named && loadAddress < start) {
    // The range ends inside a section: its last line stops short.
    return {Rule::endInsideSection,
            " (the last " + std::to_string(loadAddress + section->size - start) + " bytes of " +
                section->name + "); " + fixText(Rule::endInsideSection) +
                std::string(lld ? kLldAlignmentNote : "")};
  }
  if (s.virtualAddress == s.physicalAddress) {
    // A flash section of its own after the end of the range.
    const std::string what = named ? section->name : std::string("it");
    return {Rule::flashSectionAfterRange,
            " (" + (named ? "section " + section->name : std::string("flash content")) + "); " +
                fixText(Rule::flashSectionAfterRange, {what})};
  }
  const ElfSection* bss = findSectionNamed(elf, ".bss");
  if (named && bss != nullptr && section->address >= bss->address && section->name != ".bss") {
    // A RAM section after .bss that the linker gave load bytes: a
    // reservation (zero bytes) wants none; contents belong with .data.
    if (isReservation(elf, *section)) {
      return {Rule::reservationLoaded, " (" + section->name + ", a RAM reservation after .bss); " +
                                           fixText(Rule::reservationLoaded, {section->name})};
    }
    return {Rule::ramContentAfterRange,
            " (" + section->name + ", a RAM section after .bss with contents); " +
                fixText(Rule::ramContentAfterRange, {section->name, "its input sections"})};
  }
  const std::string which =
      !named || section->name == ".data" ? ".data" : ".data and " + section->name;
  return {lld ? Rule::lldAssignmentEnd : Rule::noEndLine,
          "; " + fixText(Rule::noEndLine, {which}) + std::string(lld ? kLldAssignmentNote : "")};
}

// The line that ends the range gives no flash address: as the diagnosis
// finds from the map, RAM sections between the flash sections and .data do
// that.
Advice rangeEndNotFlashCause(const std::string& range) {
  return {Rule::rangeEndNotFlash,
          "the code range " + range +
              " does not end in the flash: the line that ends it, the last line of the map with "
              "an address before the first line holding .data, gives no flash address; RAM "
              "sections that stand between the flash sections and .data do that: " +
              fixText(Rule::ramSectionsBeforeData, {"them", ".bss"})};
}

}  // namespace pakforge
