// Detectors of where the code range starts: the first line holding .text,
// and what the ELF file loads into the flash before it.
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

// What lies in the flash before the code range: flash sections to move into
// .text, at its start, in the order they have now (one plan, so that the
// order is not left to chance), quoting the patterns the map shows; and the
// initial values of RAM data, which belong after the code, never in it.
void initialValuesFindings(LinkDiagnosis& d, const std::vector<const FlashSpan*>& spans,
                           const ElfFacts& facts) {
  for (const FlashSpan* span : spans) {
    setEndLines(add(d, Rule::initialValuesBeforeRange,
                    "the initial values of " + spanText(*span) +
                        " lie in the flash before the code range, which starts at " +
                        quoted(d.outline.codeStart),
                    fixText(Rule::initialValuesBeforeRange, {span->section})),
                d, facts, sectionNamed(facts, span->section)->header.alignment);
  }
}

// The map's last output section named `name`; null when it has none.
const MapSection* mapSectionNamed(const LinkDiagnosis& d, std::string_view name) {
  const MapSection* found = nullptr;
  for (const MapSection& m : d.outline.sections) {
    found = m.name == name ? &m : found;
  }
  return found;
}

// Room kept by a FILL with no input section in it (a boot loader's slot
// header, which its tool writes after the link), taken out of `moved`: the
// device's loader reads the image's own header, so the room is emptied
// where it stands; moved into .text it would stand before the vector table.
void roomFindings(LinkDiagnosis& d, const ElfFacts& facts, std::vector<const FlashSpan*>& moved) {
  std::vector<std::string> rooms;
  std::string roomNames;
  for (auto at = moved.begin(); at != moved.end();) {
    const Section* s = (*at)->section.empty() ? nullptr : sectionNamed(facts, (*at)->section);
    const MapSection* m = mapSectionNamed(d, (*at)->section);
    if (s == nullptr || !s->filled || m == nullptr || !m->patterns.empty()) {
      ++at;
      continue;
    }
    roomNames += (rooms.empty() ? "" : ", ") + (*at)->section;
    rooms.push_back((*at)->section);
    at = moved.erase(at);
  }
  if (rooms.empty()) {
    return;
  }
  LinkFinding& room = add(
      d, Rule::flashBeforeRange,
      roomNames + (rooms.size() == 1 ? " holds" : " hold") +
          " only filled room before the code range, which starts at " + quoted(d.outline.codeStart),
      "empty " + roomNames + " where " + (rooms.size() == 1 ? "it stands" : "they stand") +
          " (. = .;): room for a boot loader's header, which the device's loader does not "
          "read; moved into .text it would stand before the vector table");
  room.sections = rooms;
}

}  // namespace

void codeStartFindings(LinkDiagnosis& d, const MapOutline& o, const ElfFacts& facts) {
  if (d.mapSymbols.haveAddrExe) {
    return;
  }
  if (d.mapSymbols.outcome == MapSymbols::Outcome::noCodeStart) {
    add(d, Rule::dataBeforeText,
        quoted(o.dataLine) +
            " holds .data before any line of the map holds .text, so the code "
            "range has no start",
        fixText(Rule::dataBeforeText));
  } else if (o.codeStart.found()) {
    std::string what = "the first line of the map holding .text, " + quoted(o.codeStart) +
                       ", holds no address, so the code start can't be read from it";
    if (o.codeStartIsSection && o.codeStartName.size() >= 16) {
      what += ": it is the line of the output section " + o.codeStartName + ", whose name of " +
              std::to_string(o.codeStartName.size()) +
              " characters puts its address on the next line of GNU ld's map";
      add(d, Rule::longCodeSectionName, what, fixText(Rule::longCodeSectionName)).section =
          o.codeStartName;
    } else if (!o.codeStartSection.empty() && sectionNamed(facts, ".text") == nullptr) {
      // The code's own section, named otherwise (a generated script's
      // "text"): there is no .text to move it into.
      add(d, Rule::noTextLine,
          what + " (it lies in the output section " + o.codeStartSection +
              ", and no output section is named .text)",
          fixText(Rule::noTextLine))
          .section = o.codeStartSection;
    } else if (!o.codeStartSection.empty()) {
      what += " (it lies in the output section " + o.codeStartSection + ")";
      LinkFinding& f = add(d, Rule::codeStartInOtherSection, what,
                           fixText(Rule::codeStartInOtherSection, {o.codeStartSection}));
      // Only a flash section moves into .text: code a section runs from
      // RAM (an ITCM's) would run from the flash.
      const Section* s = sectionNamed(facts, o.codeStartSection);
      if (s != nullptr && inFlashWindow(s->header.address)) {
        f.sections = {o.codeStartSection};
      }
    } else {
      add(d, Rule::codeStartWithoutAddress, what, fixText(Rule::codeStartWithoutAddress));
    }
  } else {
    add(d, Rule::noTextLine, "no line of the map holds .text, so the code range has no start",
        fixText(Rule::noTextLine));
  }
}

void flashBeforeRangeFindings(LinkDiagnosis& d, const ElfFacts& facts) {
  std::vector<const FlashSpan*> moved;
  std::vector<const FlashSpan*> initialValues;
  for (const FlashSpan& span : d.outside) {
    if (span.start >= d.rangeStart ||
        (d.rangeAssumed && span.section == d.actualCodeStartSection)) {
      continue;
    }
    // The section the range starts in: it starts late, inside it, and no
    // move can help.
    const std::string& startSection =
        d.outline.codeStartIsSection ? d.outline.codeStartName : d.outline.codeStartSection;
    if (!span.section.empty() && (span.section == startSection || span.section == ".text")) {
      add(d, Rule::rangeStartsLate,
          "the code range starts at " + hexText(d.rangeStart) + ", at " +
              quoted(d.outline.codeStart) + ", " + bytes(d.rangeStart - span.start) + " into " +
              span.section + ", which the ELF loads from " + hexText(span.start),
          fixText(Rule::rangeStartsLate));
      continue;
    }
    const Section* s = span.section.empty() ? nullptr : sectionNamed(facts, span.section);
    (s != nullptr && inSramWindow(s->header.address) ? initialValues : moved).push_back(&span);
  }
  if (moved.empty()) {
    initialValuesFindings(d, initialValues, facts);
    return;
  }
  roomFindings(d, facts, moved);
  if (moved.empty()) {
    initialValuesFindings(d, initialValues, facts);
    return;
  }
  std::string spans;
  std::string names;
  std::vector<std::string> lines;
  std::vector<std::string> sections;
  for (std::size_t i = 0; i < moved.size(); ++i) {
    const FlashSpan& span = *moved[i];
    spans += (i == 0 ? "" : ", ") + spanText(span);
    names += (i == 0                  ? ""
              : i + 1 == moved.size() ? ", then "
                                      : ", ") +
             (span.section.empty() ? std::string("the flash content") : span.section);
    // The script's own patterns, as the map shows them; a vector table is
    // kept, as nothing in the firmware refers to it.
    const MapSection* section = mapSectionNamed(d, span.section);
    if (section != nullptr) {
      for (const std::string& pattern : section->patterns) {
        lines.push_back(keptPattern(span.section, pattern));
      }
    }
    if (!span.section.empty() &&
        std::find(sections.begin(), sections.end(), span.section) == sections.end()) {
      sections.push_back(span.section);
    }
  }
  const bool one = moved.size() == 1;
  LinkFinding& moveFinding = add(
      d, Rule::flashBeforeRange,
      spans + (one ? " lies" : " lie") + " in the flash before the code range, which starts at " +
          quoted(d.outline.codeStart) + ", the first line of the map holding .text",
      fixText(
          Rule::flashBeforeRange,
          {names, one ? ", and drop its output section" +
                            std::string(lines.empty() ? "" : ", with these lines first in .text")
                      : ", in this order, and drop their output sections" +
                            std::string(lines.empty() ? "" : ": these lines first in .text")}));
  moveFinding.lines = lines;
  moveFinding.fixNamesLines = !lines.empty();
  moveFinding.sections = std::move(sections);
  // Then what belongs after the code.
  initialValuesFindings(d, initialValues, facts);
}

}  // namespace pakforge::detect

namespace pakforge {

std::string keptPattern(std::string_view section, std::string_view pattern) {
  const auto vectors = [](std::string_view name) {
    return name.find("vector") != std::string_view::npos ||
           name.find("isr") != std::string_view::npos;
  };
  const bool isPattern =
      !pattern.empty() && (pattern.front() == '*' || pattern.find('(') != std::string_view::npos);
  if (isPattern && (vectors(section) || vectors(pattern)) && !pattern.starts_with("KEEP")) {
    return "KEEP(" + std::string(pattern) + ")";
  }
  return std::string(pattern);
}

}  // namespace pakforge

namespace pakforge {

// The build's reading of the same rules, from the ELF file alone.

Advice leftOutBeforeCause(const ElfReader& elf, const FlashPart& part, std::uint32_t addrExe,
                          const std::string& fact) {
  Advice advice{Rule::flashBeforeRange,
                fact +
                    "; the code range starts at the first line of the map holding .text, so "
                    "nothing may be placed in the flash before it"};
  const ElfSection* section = findSectionLoadedAt(elf, part.from);
  if (section != nullptr && section->address != section->loadAddress) {
    // Initial values of RAM data: moving them into the code would make
    // writable data read-only.
    advice.rule = Rule::initialValuesBeforeRange;
    advice.text += ": " + fixText(advice.rule, {section->name});
  } else if (section != nullptr && !section->name.empty() && section->name != ".text") {
    advice.text += ": " + fixText(advice.rule, {section->name, ""});
  } else if (section == nullptr && part.segment.offset == 0) {
    // No section's bytes: the file's own headers, which the linker loads in
    // the segment when the page before the code has room for them.
    const Advice headers = headersLoadedCause(elf, addrExe);
    advice = {headers.rule,
              fact + ": the ELF file's own headers, loaded with the code; " + headers.text};
  }
  return advice;
}

}  // namespace pakforge
