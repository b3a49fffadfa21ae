#include "linkdiag/link_diagnosis.h"

#include <algorithm>
#include <fstream>
#include <initializer_list>
#include <set>
#include <unordered_map>

#include "elf/elf_check.h"
#include "format/hex_text.h"
#include "format/image_header.h"
#include "format/input_file.h"
#include "mapfile/ram_budget.h"
#include "platform/platform.h"

namespace pakforge {
namespace {

constexpr std::uint64_t kRamBase = 0x20000000;
constexpr std::uint64_t kRamTop = 0x40000000;

bool inFlash(std::uint64_t address) {
  return address >= FLASH_BASE && address < ROM_LIMIT;
}
bool inRam(std::uint64_t address) {
  return address >= kRamBase && address < kRamTop;
}

std::string_view firstWordOf(std::string_view text) {
  const std::size_t start = text.find_first_not_of(" \t");
  if (start == std::string_view::npos) {
    return {};
  }
  text.remove_prefix(start);
  return text.substr(0, text.find_first_of(" \t"));
}

std::string join(std::initializer_list<std::string_view> parts) {
  std::string text;
  for (const std::string_view part : parts) {
    text += part;
  }
  return text;
}

std::string quoted(const MapLine& line) {
  return "map line " + std::to_string(line.number) + " ('" + line.text + "')";
}

std::string bytes(std::uint64_t n) {
  return std::to_string(n) + (n == 1 ? " byte" : " bytes");
}

std::string spanText(const FlashSpan& span) {
  return (span.section.empty() ? std::string("flash content") : span.section) + " (" +
         bytes(span.end - span.start) + " at " + hexText(span.start) + ")";
}

// An allocated section and where it is loaded.
struct Section {
  ElfSection header;
  bool loaded = false;
  std::uint64_t loadAddress = 0;
  // For a RAM section with bytes in the file: whether they are all zero (a
  // reservation), or contents (code or initial values).
  bool zero = false;
};

struct ElfFacts {
  std::vector<Section> sections;
  // The first section of each name, for lookups that stay cheap however
  // many sections a file has.
  std::unordered_map<std::string_view, std::size_t> byName;
  bool symbolsChecked = false;
  std::array<ElfSymbol, kRequiredSymbolCount> symbols{};
};

// Every section: a file whose real sections follow a thousand empty ones
// is judged by the real ones.
void readElf(ElfReader& reader, ElfFacts& facts) {
  for (std::uint32_t i = 1; i < reader.sectionCount(); ++i) {
    // Allocated sections, and those in RAM that are not (GNU ld's COPY
    // sections: a heap or a stack the startup code does not touch).
    const ElfSection& section = reader.sections()[i];
    if (!section.allocated() && !(inRam(section.address) && section.size > 0)) {
      continue;
    }
    const bool zero = inRam(section.address) && section.hasContent() &&
                      reader.zeroBytes(section.offset, section.size);
    facts.sections.push_back({section, section.loaded, section.loadAddress, zero});
  }
  for (std::size_t i = 0; i < facts.sections.size(); ++i) {
    facts.byName.emplace(facts.sections[i].header.name, i);
  }
  facts.symbolsChecked = reader.findSymbols(kRequiredSymbolNames, facts.symbols);
}

// What the ELF file loads into the flash, by section where it names them,
// by segment where it does not (a stripped file).
std::vector<FlashSpan> flashSpans(ElfReader& reader, const ElfFacts& facts) {
  std::vector<FlashSpan> spans;
  for (const Section& s : facts.sections) {
    if (s.loaded && inFlash(s.loadAddress)) {
      spans.push_back({s.loadAddress, s.loadAddress + s.header.size, s.header.name});
    }
  }
  if (facts.sections.empty()) {
    ElfSegment segment;
    for (std::uint32_t i = 0; i < reader.segmentCount(); ++i) {
      if (reader.loadSegment(i, segment) && segment.fileSize > 0 &&
          inFlash(segment.physicalAddress)) {
        spans.push_back({segment.physicalAddress,
                         std::uint64_t{segment.physicalAddress} + segment.fileSize, ""});
      }
    }
  }
  std::sort(spans.begin(), spans.end(),
            [](const FlashSpan& a, const FlashSpan& b) { return a.start < b.start; });
  return spans;
}

const Section* sectionHolding(const ElfFacts& facts, std::uint64_t address) {
  for (const Section& s : facts.sections) {
    if (address >= s.header.address && address < std::uint64_t{s.header.address} + s.header.size) {
      return &s;
    }
  }
  return nullptr;
}

const Section* sectionNamed(const ElfFacts& facts, std::string_view name) {
  const auto found = facts.byName.find(name);
  return found == facts.byName.end() ? nullptr : &facts.sections[found->second];
}

LinkFinding& add(LinkDiagnosis& d, Rule rule, std::string what, std::string fix) {
  d.findings.push_back({rule, std::move(what), std::move(fix), {}, kRequiredSymbolCount});
  return d.findings.back();
}

bool has(const LinkDiagnosis& d, Rule rule) {
  return std::any_of(d.findings.begin(), d.findings.end(),
                     [rule](const LinkFinding& f) { return f.rule == rule; });
}

// The recipe's end of the code range, as lines to write: before .data, and
// .data placed at their load address. `align` is the RAM data's alignment:
// the file keeps it for the initial values.
std::vector<std::string> endLines(std::uint32_t align) {
  std::vector<std::string> lines;
  if (align > 4) {
    lines.push_back(". = ALIGN(" + std::to_string(align) + ");");
  }
  lines.insert(lines.end(), {"_sidata = .;", ". = _sidata + _data_image_size;", "_flash_end = .;",
                             ".data : AT(_sidata) { _sdata = .; ... _edata = .; } > RAM",
                             "_data_image_size = _edata - _sdata;"});
  return lines;
}

// The alignment of the RAM data whose initial values the flash holds.
std::uint32_t ramDataAlignment(const ElfFacts& facts) {
  std::uint32_t align = 1;
  for (const Section& s : facts.sections) {
    if (s.loaded && inRam(s.header.address) && inFlash(s.loadAddress)) {
      align = std::max(align, s.header.alignment);
    }
  }
  return align;
}

void codeStartFindings(LinkDiagnosis& d, const MapOutline& o) {
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
      add(d, Rule::longCodeSectionName, what, fixText(Rule::longCodeSectionName));
    } else if (!o.codeStartSection.empty()) {
      what += " (it lies in the output section " + o.codeStartSection + ")";
      add(d, Rule::codeStartInOtherSection, what,
          fixText(Rule::codeStartInOtherSection, {o.codeStartSection}));
    } else {
      add(d, Rule::codeStartWithoutAddress, what, fixText(Rule::codeStartWithoutAddress));
    }
  } else {
    add(d, Rule::noTextLine, "no line of the map holds .text, so the code range has no start",
        fixText(Rule::noTextLine));
  }
}

// What lies in the flash before the code range: flash sections to move into
// .text, at its start, in the order they have now (one plan, so that the
// order is not left to chance), quoting the patterns the map shows; and the
// initial values of RAM data, which belong after the code, never in it.
void initialValuesFindings(LinkDiagnosis& d, const std::vector<const FlashSpan*>& spans,
                           const ElfFacts& facts) {
  for (const FlashSpan* span : spans) {
    add(d, Rule::initialValuesBeforeRange,
        "the initial values of " + spanText(*span) +
            " lie in the flash before the code range, which starts at " +
            quoted(d.outline.codeStart),
        fixText(Rule::initialValuesBeforeRange, {span->section}))
        .lines = endLines(sectionNamed(facts, span->section)->header.alignment);
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
    const Section* s = span.section.empty() ? nullptr : sectionNamed(facts, span.section);
    (s != nullptr && inRam(s->header.address) ? initialValues : moved).push_back(&span);
  }
  if (moved.empty()) {
    initialValuesFindings(d, initialValues, facts);
    return;
  }
  std::string spans;
  std::string names;
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < moved.size(); ++i) {
    const FlashSpan& span = *moved[i];
    spans += (i == 0 ? "" : ", ") + spanText(span);
    names += (i == 0                  ? ""
              : i + 1 == moved.size() ? ", then "
                                      : ", ") +
             (span.section.empty() ? std::string("the flash content") : span.section);
    // The script's own patterns, as the map shows them; a vector table is
    // kept, as nothing in the firmware refers to it.
    const MapSection* section = nullptr;
    for (const MapSection& m : d.outline.sections) {
      if (m.name == span.section) {
        section = &m;
      }
    }
    const auto vectors = [](const std::string& name) {
      return name.find("vector") != std::string::npos || name.find("isr") != std::string::npos;
    };
    if (section != nullptr) {
      for (const std::string& pattern : section->patterns) {
        const bool keep =
            (vectors(span.section) || vectors(pattern)) && !pattern.starts_with("KEEP");
        lines.push_back(keep ? "KEEP(" + pattern + ")" : pattern);
      }
    }
  }
  const bool one = moved.size() == 1;
  add(d, Rule::flashBeforeRange,
      spans + (one ? " lies" : " lie") + " in the flash before the code range, which starts at " +
          quoted(d.outline.codeStart) + ", the first line of the map holding .text",
      fixText(
          Rule::flashBeforeRange,
          {names, one ? ", and drop its output section" +
                            std::string(lines.empty() ? "" : ", with these lines first in .text")
                      : ", in this order, and drop their output sections" +
                            std::string(lines.empty() ? "" : ": these lines first in .text")}))
      .lines = lines;
  // Then what belongs after the code.
  initialValuesFindings(d, initialValues, facts);
}

// A line before the .data output section that holds .data: the symbol scan
// takes it for the data line and ends the code range before it.
void dataLineFindings(LinkDiagnosis& d, const ElfFacts& facts) {
  const MapOutline& o = d.outline;
  MapLine line = o.dataLine;
  std::string section = o.dataLineSection;
  if (d.rangeAssumed) {
    line = o.strayDataLine;
    section = o.strayDataSection;
  } else if (o.dataLineIsData) {
    return;
  }
  if (!line.found()) {
    return;
  }
  // The RAM data's own section: the RAM section loaded into the flash.
  std::string ramDataSection;
  for (const Section& s : facts.sections) {
    if (s.loaded && inRam(s.header.address) && inFlash(s.loadAddress) && ramDataSection.empty()) {
      ramDataSection = s.header.name;
    }
  }
  const std::string what = "the first line holding .data after the code start, " + quoted(line) +
                           ", is not the .data output section's line, but the symbol scan ends "
                           "the code range before it";
  if (std::string_view(line.text).find(" = ") != std::string_view::npos) {
    add(d, Rule::dataLineAssignment, what + ": an assignment that names .data in an expression",
        fixText(Rule::dataLineAssignment))
        .lines = endLines(ramDataAlignment(facts));
  } else if (!section.empty() && section == ramDataSection) {
    add(d, Rule::dataLineSectionName,
        what + ": an input section line of " + section +
            ", the RAM data's output section, which is not named .data",
        fixText(Rule::dataLineSectionName, {section}));
  } else {
    add(d, Rule::dataLinePattern,
        what + ", in " + (section.empty() ? std::string("no output section") : section),
        fixText(Rule::dataLinePattern));
  }
}

// Whether an assignment line assigns the location counter or its value
// (". = X", "X = .", "X = ABSOLUTE(.)"): LLD's map shows the right value for
// those.
bool assignsLocationCounter(std::string_view line) {
  const std::size_t equals = line.find(" = ");
  if (equals == std::string_view::npos) {
    return false;
  }
  const std::string_view left = line.substr(0, equals);
  const std::string_view target = left.substr(left.find_last_of(' ') + 1);
  std::string value;
  for (const char c : line.substr(equals + 3)) {
    if (c != ' ') {
      value += c;
    }
  }
  return target == "." || value == "." || value == "ABSOLUTE(.)";
}

// A RAM section after .bss that the ELF file loads bytes of into the flash:
// a reservation (its bytes are zero) is marked NOLOAD; one with contents
// (code run from RAM, initial values) moves into .data, since NOLOAD would
// drop them.
LinkFinding& ramSectionAfterBss(LinkDiagnosis& d, const Section& s, const std::string& what) {
  if (s.zero) {
    return add(d, Rule::reservationLoaded, what, fixText(Rule::reservationLoaded, {s.header.name}));
  }
  std::string patterns;
  for (const MapSection& section : d.outline.sections) {
    if (section.name == s.header.name) {
      for (const std::string& pattern : section.patterns) {
        patterns += (patterns.empty() ? "" : " ") + pattern;
      }
    }
  }
  return add(d, Rule::ramContentAfterRange, what,
             fixText(Rule::ramContentAfterRange,
                     {s.header.name, patterns.empty() ? "its input sections" : patterns}));
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
    const bool alreadySaid = said.count(s.header.name) != 0;
    if (&s != bss && s.header.allocated() && s.header.hasContent() && inRam(s.header.address) &&
        s.header.address >= bss->header.address && !alreadySaid) {
      ramSectionAfterBss(d, s,
                         s.header.name +
                             " is a RAM section after .bss with bytes in the file: once .data "
                             "is placed with AT(), LLD loads it into the flash after .data");
    }
  }
}

// Why the range ends before the flash content does, told from the map.
void rangeEndFindings(LinkDiagnosis& d, const ElfFacts& facts) {
  const MapOutline& o = d.outline;
  // When RAM sections' lines end the range, their address is no end at
  // all: what is left out is judged from the last flash line before them.
  const bool endInRam = o.rangeEndHasAddress && inRam(o.rangeEndAddress);
  const std::uint64_t end = endInRam && o.lastFlashLine.found() ? o.lastFlashAddress : d.rangeEnd;
  const MapLine& endLine = endInRam && o.lastFlashLine.found() ? o.lastFlashLine : o.rangeEnd;
  std::vector<FlashSpan> after;
  for (const FlashSpan& span : d.flash) {
    if (span.end > end && end >= d.rangeStart) {
      after.push_back({std::max(span.start, end), span.end, span.section});
    }
  }
  if (!after.empty()) {
    std::string leftOut;
    for (const FlashSpan& span : after) {
      leftOut += (leftOut.empty() ? "" : ", ") + spanText(span);
    }
    const std::string ends = "the code range ends at " + hexText(end) + ", at " + quoted(endLine) +
                             ", and leaves out " + leftOut;
    // The RAM data's own section: the one whose initial values are left out.
    std::string ramDataSection;
    bool initialValues = false;
    std::string shortEnd;
    const Section* bss = sectionNamed(facts, ".bss");
    for (const FlashSpan& span : after) {
      const Section* s = span.section.empty() ? nullptr : sectionNamed(facts, span.section);
      if ((s == nullptr || !inRam(s->header.address)) && !span.section.empty()) {
        if (s != nullptr && s->loaded && s->loadAddress < span.start) {
          // The range ends inside this section: its end line stops short.
          shortEnd = ends + ": the line that ends the code range stops " +
                     bytes(span.end - span.start) + " before the end of " + span.section +
                     (d.lldMap ? " (in a map from LLD an alignment line shows the location "
                                 "counter before it is aligned)"
                               : "");
        } else {
          add(d, Rule::flashSectionAfterRange,
              span.section + " is a flash section after the end of the code range, " +
                  quoted(o.rangeEnd),
              fixText(Rule::flashSectionAfterRange, {span.section}));
        }
        continue;
      }
      if (s == nullptr || !inRam(s->header.address)) {
        continue;
      }
      if (bss != nullptr && s->header.address >= bss->header.address && s != bss) {
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
      initialValues = true;
      if (ramDataSection.empty()) {
        ramDataSection = s->header.name;
      }
    }
    // A data line that is an assignment naming .data is said by
    // dataLineFindings, with the lines that end the range after the values.
    const bool assignmentDataLine =
        o.dataLine.found() && !o.dataLineIsData &&
        std::string_view(o.dataLine.text).find(" = ") != std::string_view::npos;
    if (initialValues) {
      lldReservationFindings(d, facts, after);
    } else if (!shortEnd.empty()) {
      add(d, Rule::endInsideSection, shortEnd, fixText(Rule::endInsideSection));
    }
    if (initialValues && !assignmentDataLine) {
      if (d.lldMap && o.rangeEndIsAssignment && !assignsLocationCounter(o.rangeEnd.text)) {
        add(d, Rule::lldAssignmentEnd,
            ends +
                ": in a map from LLD an assignment line shows the location counter, not the "
                "value assigned",
            fixText(Rule::lldAssignmentEnd));
      } else {
        add(d, Rule::noEndLine,
            ends + ": no line before .data carries the end of the initial values of " +
                ramDataSection,
            fixText(Rule::noEndLine, {ramDataSection}))
            .lines = endLines(ramDataAlignment(facts));
      }
    }
  }
  // RAM sections listed between the flash sections and .data: the last line
  // with an address before .data can be theirs, and then ends the range.
  std::string ramSections;
  for (const MapSection& section : o.sections) {
    if (section.phase == MapPhase::inRange && section.haveAddress && inRam(section.address) &&
        section.name != o.dataLineSection) {
      ramSections += (ramSections.empty() ? "" : ", ") + section.name;
    }
  }
  if (!ramSections.empty()) {
    add(d, Rule::ramSectionsBeforeData,
        "RAM sections (" + ramSections + ") stand between the flash sections and .data in the map" +
            (endInRam ? ", and the line that ends the code range, " + quoted(o.rangeEnd) +
                            ", is theirs: the range's end is no flash address"
                      : ": a line of theirs whose address holds an 8 would end the code range"),
        fixText(Rule::ramSectionsBeforeData, {ramSections}));
  }
  std::uint64_t flashEnd = 0;
  for (const FlashSpan& span : d.flash) {
    flashEnd = std::max(flashEnd, span.end);
  }
  const bool endIsFlash = d.rangeEnd >= d.rangeStart && d.rangeEnd <= ROM_LIMIT;
  if (!endIsFlash && ramSections.empty()) {
    // No RAM section's line ends the range: another region's.
    add(d, Rule::rangeEndNotFlash,
        "the code range " + rangeText(d.rangeStart, d.rangeEnd) +
            " does not end in the flash: the line that ends it, " + quoted(o.rangeEnd) +
            ", gives no flash address",
        fixText(Rule::rangeEndNotFlash, {quoted(o.rangeEnd)}));
  }
  if (!d.flash.empty() && d.rangeEnd > flashEnd && !endInRam && endIsFlash) {
    add(d, Rule::rangePastFlashContent,
        "the code range " + rangeText(d.rangeStart, d.rangeEnd) + " runs " +
            bytes(d.rangeEnd - flashEnd) + " past the end of the flash content the ELF loads, " +
            hexText(flashEnd) + ": it ends at " + quoted(d.outline.rangeEnd),
        fixText(Rule::rangePastFlashContent));
  }
}

void symbolFindings(LinkDiagnosis& d, const ElfFacts& facts) {
  for (std::size_t i = 0; i < kRequiredSymbolNames.size(); ++i) {
    SymbolFacts& s = d.symbols[i];
    s.name = kRequiredSymbolNames[i];
    s.elf = facts.symbols[i];
    s.mapFinds = d.mapSymbols.seen[i];
    s.mapAddress = d.mapSymbols.address[i];
    s.mapLine = d.outline.mentions[i].empty() ? MapLine{} : d.outline.mentions[i].front().line;
    s.discarded = d.outline.discarded[i];
    const std::string name(s.name);
    if (!facts.symbolsChecked) {
      // A stripped file: nothing to say of the symbols.
      s.place = SymbolPlace::unchecked;
      continue;
    }
    const std::string mapGives = s.mapFinds
                                     ? ", but the map gives " + hexText(s.mapAddress) +
                                           (s.mapLine.found() ? " (" + quoted(s.mapLine) + ")" : "")
                                     : "";
    if (!s.elf.defined) {
      s.place = s.elf.local() ? SymbolPlace::localOnly : SymbolPlace::missing;
      if (s.mapFinds && compareSymbol(s.elf, s.mapAddress) != SymbolAgreement::agrees) {
        std::string what = name;
        if (s.elf.local()) {
          what.append(" is only a local symbol in the ELF file (at ")
              .append(hexText(s.elf.localValue()))
              .append(")");
        } else {
          what.append(" is not in the ELF file's symbol table");
        }
        add(d, Rule::symbolStale, what + mapGives, fixText(Rule::symbolStale)).symbol = i;
      } else if (s.elf.local()) {
        add(d, Rule::symbolLocalOnly,
            name + " is only a local symbol in the ELF file (at " + hexText(s.elf.localValue()) +
                "): the loader needs a global one",
            fixText(Rule::symbolLocalOnly, {name}))
            .symbol = i;
      } else if (s.discarded.found()) {
        const std::string section = std::string(firstWordOf(s.discarded.text));
        add(d, Rule::symbolDiscarded,
            join({name, " is not in the ELF file: --gc-sections discarded its section, ",
                  quoted(s.discarded)}),
            fixText(Rule::symbolDiscarded, {section, name}))
            .symbol = i;
      } else {
        add(d, Rule::symbolUndefined,
            join({name,
                  " is not in the ELF file: the firmware does not define it, or "
                  "--gc-sections discarded it"}),
            fixText(Rule::symbolUndefined, {name}))
            .symbol = i;
      }
      continue;
    }
    const std::uint64_t at = s.elf.value & ~std::uint64_t{1};
    if (const Section* section = sectionHolding(facts, at)) {
      s.section = section->header.name;
    }
    s.place = !d.haveRange        ? SymbolPlace::inRange
              : at < d.rangeStart ? SymbolPlace::beforeRange
              : at >= d.rangeEnd  ? SymbolPlace::afterRange
                                  : SymbolPlace::inRange;
    const std::string where = name + " is at " + hexText(s.elf.value) + " in the ELF file" +
                              (s.section.empty() ? "" : ", in " + s.section);
    if (s.place == SymbolPlace::beforeRange && !s.mapFinds) {
      add(d, Rule::symbolBeforeRange, where + ", before the code range",
          fixText(Rule::symbolBeforeRange))
          .symbol = i;
    } else if (s.place == SymbolPlace::afterRange && !s.mapFinds) {
      add(d, Rule::symbolAfterRange,
          where + ", after the code range, which ends at " + quoted(d.outline.rangeEnd),
          fixText(Rule::symbolAfterRange))
          .symbol = i;
    } else if (s.mapFinds && compareSymbol(s.elf, s.mapAddress) != SymbolAgreement::agrees) {
      add(d, Rule::symbolStale, where + mapGives, fixText(Rule::symbolStale)).symbol = i;
    } else if (!s.mapFinds && s.place == SymbolPlace::inRange && d.haveRange) {
      add(d, Rule::symbolWithoutMapLine,
          where + ", inside the code range, but the map has no symbol line for it there" +
              (s.mapLine.found() ? " (its first: " + quoted(s.mapLine) + ")" : ""),
          fixText(Rule::symbolWithoutMapLine))
          .symbol = i;
    }
  }
}

void offsetFindings(LinkDiagnosis& d, const ElfFacts& facts, const ElfReader& elf) {
  // With flash sections before the range, the code will start where they
  // do, once they are moved into .text: judge the offset of that. Initial
  // values before the range move after the code instead.
  std::uint64_t start = d.rangeStart;
  for (const FlashSpan& span : d.flash) {
    const Section* s = span.section.empty() ? nullptr : sectionNamed(facts, span.section);
    if (span.start < start && (s == nullptr || !inRam(s->header.address))) {
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
}

// Initial values loaded at an address that is not a multiple of their
// section's alignment: the file keeps the alignment, so, linked with -n,
// they lie a few bytes further on in the file than in the flash.
void alignmentFindings(LinkDiagnosis& d, const ElfFacts& facts) {
  if (has(d, Rule::initialValuesMisaligned)) {
    return;
  }
  for (const Section& s : facts.sections) {
    const std::uint32_t align = s.header.alignment;
    if (!s.loaded || !inRam(s.header.address) || !inFlash(s.loadAddress) || align <= 1 ||
        s.loadAddress % align == s.header.address % align) {
      continue;
    }
    const std::string n = std::to_string(align);
    add(d, Rule::initialValuesMisaligned,
        join({"the initial values of ", s.header.name, " are loaded at ", hexText(s.loadAddress),
              ", which is not a multiple of ", n, ", the section's alignment: the file keeps ",
              s.header.name, " ", n,
              "-aligned, so with -n they lie further on in the file than in the flash"}),
        fixText(Rule::initialValuesMisaligned, {n}))
        .lines = {". = ALIGN(" + n + ");"};
    return;
  }
  // What the fixes of the range's end cause: once the range ends after the
  // initial values, they are loaded where the last flash section ends. Said
  // now, so that one round of fixes is enough.
  const bool endMoves = has(d, Rule::noEndLine) || has(d, Rule::dataLineAssignment) ||
                        has(d, Rule::initialValuesBeforeRange);
  const std::uint32_t align = ramDataAlignment(facts);
  std::uint64_t flashEnd = 0;
  for (const Section& s : facts.sections) {
    if (s.loaded && inFlash(s.loadAddress) && !inRam(s.header.address)) {
      flashEnd = std::max(flashEnd, s.loadAddress + s.header.size);
    }
  }
  if (endMoves && align > 4 && flashEnd != 0 && flashEnd % align != 0) {
    const std::string n = std::to_string(align);
    add(d, Rule::initialValuesMisaligned,
        "once the code range ends after the initial values of the RAM data, they are loaded "
        "where the flash sections end, " +
            hexText(flashEnd) + ", which is not a multiple of " + n +
            ", the RAM data's alignment: the file keeps it, so they would lie further on in the "
            "file than in the flash",
        fixText(Rule::initialValuesMisaligned, {n}))
        .lines = {". = ALIGN(" + n + ");"};
  }
}

void ramFindings(LinkDiagnosis& d, const ElfFacts& facts) {
  RamFacts& r = d.ram;
  r.mapStart = d.mapRam.dataStart;
  r.mapEnd = d.mapRam.dataEnd;
  r.startLine = d.outline.ramStart;
  r.endLine = d.outline.ramEnd;
  const auto used = static_cast<std::int32_t>(r.mapEnd - r.mapStart);
  const auto limit = static_cast<std::int32_t>(RAM_LIMIT - r.mapStart);
  r.fits = used <= limit;
  const Section* data = sectionNamed(facts, ".data");
  const Section* bss = sectionNamed(facts, ".bss");
  std::uint64_t start = 0;
  bool haveStart = false;
  for (const Section& s : facts.sections) {
    if (inRam(s.header.address) && s.header.size > 0 && (!haveStart || s.header.address < start)) {
      start = s.header.address;
      haveStart = true;
    }
  }
  if (data != nullptr && inRam(data->header.address)) {
    start = data->header.address;
    haveStart = true;
  }
  if (!haveStart) {
    return;
  }
  r.elfKnown = true;
  r.elfStart = start;
  r.elfBssEnd = bss != nullptr ? std::uint64_t{bss->header.address} + bss->header.size : start;
  r.elfReservedEnd = r.elfBssEnd;
  for (const Section& s : facts.sections) {
    const std::uint64_t end = std::uint64_t{s.header.address} + s.header.size;
    if (inRam(s.header.address) && s.header.address >= r.elfBssEnd && s.header.size > 0 &&
        end <= RAM_LIMIT + 0x100000) {
      r.reservations.push_back(s.header.name);
      r.elfReservedEnd = std::max(r.elfReservedEnd, end);
    }
  }
  const std::string elfFigure = "the ELF file's own RAM data runs from " + hexText(r.elfStart) +
                                " to the end of .bss, " + hexText(r.elfBssEnd) + " (" +
                                bytes(r.elfBssEnd - r.elfStart) + "), and with its " +
                                "reservations to " + hexText(r.elfReservedEnd) + " (" +
                                bytes(r.elfReservedEnd - r.elfStart) + ")";
  if (r.startLine.found() && r.mapStart != r.elfStart) {
    add(d, Rule::ramStartNotData,
        "the RAM report takes the start of the RAM data, " + hexText(r.mapStart) + ", from " +
            quoted(r.startLine) +
            " (the last line holding both .data and a RAM address), not "
            "the start of .data, " +
            hexText(r.elfStart),
        fixText(Rule::ramStartNotData))
        .lines = {". = ADDR(.data);", "_ram_data_start = ADDR(.data);"};
  } else if (!r.startLine.found()) {
    add(d, Rule::ramNoDataLine,
        "no line of the map holds both .data and a RAM address, so the RAM report starts the "
        "RAM data at 0",
        fixText(Rule::ramNoDataLine));
  }
  if (r.endLine.found() && r.mapEnd > r.elfReservedEnd && (r.mapEnd >= RAM_LIMIT || !r.fits)) {
    const std::string line = quoted(r.endLine);
    if (!r.fits) {
      add(d, Rule::ramCheckFails,
          "the RAM check reads " + std::to_string(used) + " of " + std::to_string(limit) +
              " bytes and fails: its highest RAM address, " + hexText(r.mapEnd) + ", comes from " +
              line + ", past all the RAM the firmware uses; " + elfFigure,
          fixText(Rule::ramCheckFails));
    } else {
      add(d, Rule::ramReportHigh,
          "the RAM report reads " + std::to_string(used) + " of " + std::to_string(limit) +
              " bytes: its highest RAM address, " + hexText(r.mapEnd) + ", comes from " + line +
              ", past all the RAM the firmware uses; " + elfFigure,
          fixText(Rule::ramReportHigh));
    }
  }
}

}  // namespace

LinkDiagnosis diagnoseLink(const std::string& mapPath, const std::string& elfPath) {
  LinkDiagnosis d;
  d.mapPath = mapPath;
  d.elfPath = elfPath;
  MapOutline actual;
  {
    std::ifstream map;
    if (!openInputFile(mapPath, std::ios::binary, map)) {
      return d;
    }
    d.mapOpened = true;
    // One read of the map: the checks' own scans, the outline of the lines
    // they read, and the outline as it will be once the .text and .data
    // output sections' own lines are the first to hold those names.
    RamScan ram;
    SymbolScan symbols;
    OutlineScan outline;
    OutlineScan assumed(true, &outline);
    scanLines(map, {&ram, &symbols, &outline, &assumed});
    d.outline = outline.outline();
    actual = d.outline;
    d.mapSymbols = symbols.symbols();
    d.mapRam = ram.usage();
    d.actualCodeStart = d.outline.codeStart;
    d.actualCodeStartSection = d.outline.codeStartSection;
    const MapOutline& after = assumed.outline();
    if (!d.mapSymbols.haveAddrExe && d.outline.codeStart.found() && !d.outline.codeStartIsText &&
        after.codeStartHasValue && after.dataLine.found() && after.rangeEnd.found()) {
      d.rangeAssumed = true;
      d.outline = after;
      d.mapSymbols.addrExe = after.codeStartValue;
      d.mapSymbols.appSize = after.rangeEndValue - after.codeStartValue;
      for (std::size_t i = 0; i < kRequiredSymbolCount; ++i) {
        for (const MapMention& m : after.mentions[i]) {
          if (m.phase == MapPhase::inRange) {
            d.mapSymbols.seen[i] = true;
            d.mapSymbols.address[i] = m.value;
          }
        }
      }
    }
  }
  d.lldMap = d.outline.lld;
  d.haveRange = (d.mapSymbols.haveAddrExe && d.mapSymbols.haveAppSize) || d.rangeAssumed;
  d.rangeStart = d.mapSymbols.addrExe;
  d.rangeEnd = d.rangeStart + (d.haveRange ? d.mapSymbols.appSize : 0);

  std::ifstream elf;
  if (!openInputFile(elfPath, std::ios::binary, elf)) {
    d.elfState = ElfOpen::notElf;
    d.elfProblem = "can't be opened";
    return d;
  }
  elf.seekg(0, std::ios::end);
  const std::streamoff end = elf.tellg();
  const std::uint64_t length = end < 0 ? 0 : static_cast<std::uint64_t>(end);
  ElfReader reader(elf, length);
  d.elfState = reader.open(d.elfProblem);
  if (d.elfState != ElfOpen::ok) {
    return d;
  }
  d.lldElf = linkedByLld(reader);
  ElfFacts facts;
  readElf(reader, facts);
  d.flash = flashSpans(reader, facts);
  for (std::size_t i = 0; i + 1 < d.flash.size(); ++i) {
    if (d.flash[i].end < d.flash[i + 1].start) {
      d.holes.push_back({d.flash[i].end, d.flash[i + 1].start, ""});
    }
  }
  d.symbolsChecked = facts.symbolsChecked;
  codeStartFindings(d, actual);
  FlashLoadProblem load;
  if (!checkFlashLoads(reader, load)) {
    add(d, load.rule, load.what, load.fix);
  }
  if (d.haveRange) {
    for (const FlashSpan& span : d.flash) {
      if (span.start < d.rangeStart) {
        d.outside.push_back({span.start, std::min(span.end, d.rangeStart), span.section});
      }
      if (d.haveRange && span.end > d.rangeEnd) {
        d.outside.push_back({std::max(span.start, d.rangeEnd), span.end, span.section});
      }
    }
    flashBeforeRangeFindings(d, facts);
    if (d.flash.empty()) {
      add(d, Rule::noFlashContent,
          "the ELF loads nothing into the flash (" + hexText(FLASH_BASE) + "-" +
              hexText(ROM_LIMIT) + "), but the code range is " +
              rangeText(d.rangeStart, d.rangeEnd),
          fixText(Rule::noFlashContent, {hexText(FLASH_BASE)}));
    }
    if (!d.rangeAssumed && !d.flash.empty() && d.rangeStart < d.flash.front().start) {
      add(d, Rule::rangeStartsEarly,
          "the code range starts at " + hexText(d.rangeStart) + ", at " +
              quoted(d.outline.codeStart) + ", " + bytes(d.flash.front().start - d.rangeStart) +
              " before the flash content the ELF loads, " + spanText(d.flash.front()) +
              ": the image would carry whatever the ELF file holds before it",
          fixText(Rule::rangeStartsEarly));
    }
  }
  symbolFindings(d, facts);
  if (d.haveRange) {
    dataLineFindings(d, facts);
    rangeEndFindings(d, facts);
    // Overlapping loads make any layout meaningless.
    if (!has(d, Rule::flashOverlap)) {
      offsetFindings(d, facts, reader);
    }
    alignmentFindings(d, facts);
  }
  ramFindings(d, facts);
  return d;
}

namespace {

std::string seeAlso(const LinkDiagnosis& d) {
  return "; aelfdump --link " + platform::shellQuoted(d.mapPath) + " " +
         platform::shellQuoted(d.elfPath) + " lists all that stands between this link and an image";
}

// One finding on one line: what, the fix, the rule's code and where to read
// more of it.
std::string hintLine(const LinkDiagnosis& d, const std::string& text, const LinkFinding& rule) {
  const std::string code(rule.code());
  return text + " [" + code + ": aelfdump --explain " + code + "]" + seeAlso(d);
}
std::string hintLine(const LinkDiagnosis& d, const LinkFinding& f) {
  return hintLine(d, f.what + "; " + f.fix, f);
}

// The first finding of any of `rules`, in the order the rules are given.
const LinkFinding* firstOf(const LinkDiagnosis& d, std::span<const Rule> rules) {
  for (const Rule rule : rules) {
    for (const LinkFinding& f : d.findings) {
      if (f.rule == rule) {
        return &f;
      }
    }
  }
  return nullptr;
}

constexpr std::array kCodeStartRules = {Rule::dataBeforeText, Rule::longCodeSectionName,
                                        Rule::codeStartInOtherSection,
                                        Rule::codeStartWithoutAddress, Rule::noTextLine};
constexpr std::array kRangeEndRules = {
    Rule::dataLineAssignment,    Rule::dataLineSectionName,    Rule::dataLinePattern,
    Rule::ramSectionsBeforeData, Rule::flashSectionAfterRange, Rule::noEndLine,
    Rule::lldAssignmentEnd,      Rule::endInsideSection,       Rule::reservationLoaded};

}  // namespace

std::vector<const LinkFinding*> findingsOf(const LinkDiagnosis& d, Rule rule) {
  std::vector<const LinkFinding*> found;
  for (const LinkFinding& f : d.findings) {
    if (f.rule == rule) {
      found.push_back(&f);
    }
  }
  return found;
}

std::string symbolScanHint(const LinkDiagnosis& d) {
  if (d.elfState != ElfOpen::ok || !d.mapOpened) {
    return {};
  }
  if (!d.mapSymbols.haveAddrExe) {
    const LinkFinding* f = firstOf(d, kCodeStartRules);
    return f == nullptr ? std::string() : hintLine(d, *f);
  }
  std::size_t first = kRequiredSymbolCount;
  std::string others;
  for (std::size_t i = 0; i < kRequiredSymbolCount; ++i) {
    if (d.mapSymbols.seen[i]) {
      continue;
    }
    if (first == kRequiredSymbolCount) {
      first = i;
    } else {
      others += (others.empty() ? "" : ", ") + std::string(kRequiredSymbolNames[i]);
    }
  }
  if (first == kRequiredSymbolCount) {
    return {};
  }
  const LinkFinding* f = nullptr;
  for (const LinkFinding& candidate : d.findings) {
    if (candidate.symbol == first && f == nullptr) {
      f = &candidate;
    }
  }
  if (f == nullptr) {
    return {};
  }
  // Where it lies says why the map rules miss it; the fix is the range's.
  const LinkFinding* range = f->rule == Rule::symbolBeforeRange
                                 ? firstOf(d, std::array{Rule::flashBeforeRange})
                             : f->rule == Rule::symbolAfterRange ? firstOf(d, kRangeEndRules)
                                                                 : nullptr;
  std::string text = range != nullptr ? f->what + ": " + range->fix : f->what + "; " + f->fix;
  if (!others.empty()) {
    text += " (the map rules miss " + others + " too)";
  }
  return hintLine(d, text, range != nullptr ? *range : *f);
}

std::string ramHint(const LinkDiagnosis& d) {
  if (d.elfState != ElfOpen::ok || !d.mapOpened || !d.ram.endLine.found()) {
    return {};
  }
  const LinkFinding* f = firstOf(d, std::array{Rule::ramCheckFails, Rule::ramReportHigh});
  return f == nullptr ? std::string() : hintLine(d, *f);
}

bool elfCheckCauseHasHint(Rule cause) {
  // The refusals of a range end that a map line can cause.
  constexpr std::array kLeftOut = {
      Rule::noEndLine,         Rule::lldAssignmentEnd,       Rule::endInsideSection,
      Rule::reservationLoaded, Rule::flashSectionAfterRange, Rule::initialValuesMisaligned,
      Rule::rangeEndNotFlash,  Rule::flashBeforeRange,       Rule::initialValuesBeforeRange};
  return std::find(kLeftOut.begin(), kLeftOut.end(), cause) != kLeftOut.end();
}

std::string elfCheckHint(const LinkDiagnosis& d, Rule cause) {
  if (d.elfState != ElfOpen::ok || !d.mapOpened || !elfCheckCauseHasHint(cause)) {
    return {};
  }
  const LinkFinding* f = firstOf(
      d, std::array{Rule::dataLineAssignment, Rule::dataLineSectionName, Rule::dataLinePattern,
                    Rule::ramSectionsBeforeData, Rule::rangeEndNotFlash});
  return f == nullptr ? std::string() : hintLine(d, *f);
}

}  // namespace pakforge
