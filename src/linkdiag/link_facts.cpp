// The facts the detectors share, and the words they write findings with.
#include <algorithm>
#include <array>

#include "elf/elf_check.h"
#include "format/hex_text.h"
#include "format/image_header.h"
#include "linkdiag/detectors.h"

namespace pakforge::detect {
bool inFlash(std::uint64_t address) {
  return address >= FLASH_BASE && address < ROM_LIMIT;
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

// Every section: a file whose real sections follow a thousand empty ones
// is judged by the real ones.
void readElf(ElfReader& reader, ElfFacts& facts) {
  for (std::uint32_t i = 1; i < reader.sectionCount(); ++i) {
    // Allocated sections, and those in RAM that are not (GNU ld's COPY
    // sections: a heap or a stack the startup code does not touch).
    const ElfSection& section = reader.sections()[i];
    if (runsInMissingRam(section)) {
      facts.missingRam.push_back(section);
    }
    if (!section.allocated() && !(inSramWindow(section.address) && section.size > 0)) {
      continue;
    }
    std::array<char, 1> first{};
    const bool filled = section.loaded && inFlash(section.loadAddress) && section.hasContent() &&
                        reader.readAt(section.offset, first) &&
                        reader.sameBytes(section.offset, section.size, first[0]);
    facts.sections.push_back(
        {section, section.loaded, section.loadAddress, isReservation(reader, section), filled});
  }
  for (std::size_t i = 0; i < facts.sections.size(); ++i) {
    facts.byName.emplace(facts.sections[i].header.name, i);
  }
  facts.symbolsChecked = reader.findSymbols(kRequiredSymbolNames, facts.symbols);
  facts.definedSymbols = reader.definedSymbols();
  // The end lines' names: the first choice the link has none of.
  for (const EndNames& names : kEndNameChoices) {
    std::array<ElfSymbol, 3> found{};
    if (!reader.findSymbols(names, found) ||
        std::none_of(found.begin(), found.end(),
                     [](const ElfSymbol& s) { return s.defined || s.local(); })) {
      facts.endNames = &names;
      break;
    }
    facts.endNames = &kEndNameChoices.back();
  }
  facts.zerosWritten = zerosWrittenBefore(reader, facts.zeros);
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
  LinkFinding& f = d.findings.emplace_back();
  f.rule = rule;
  f.what = std::move(what);
  f.fix = std::move(fix);
  return f;
}

bool has(const LinkDiagnosis& d, Rule rule) {
  return std::any_of(d.findings.begin(), d.findings.end(),
                     [rule](const LinkFinding& f) { return f.rule == rule; });
}

// The RAM data's own section: the RAM section loaded into the flash.
std::string ramDataSectionOf(const ElfFacts& facts) {
  for (const Section& s : facts.sections) {
    if (s.loaded && inSramWindow(s.header.address) && inFlash(s.loadAddress)) {
      return s.header.name;
    }
  }
  return {};
}

bool movedAfterData(const MapOutline& o, const MapSection& section) {
  return section.phase == MapPhase::inRange && section.haveAddress &&
         inSramWindow(section.address) && section.name != o.dataLineSection &&
         section.name != ".data";
}

namespace {

// The last flash section the map lists before .data, and whether RAM
// sections that stay there (NOLOAD stacks, a heap) stand between: the
// location counter is then a RAM address where the initial values start,
// and their start is the end of that section's load image instead.
struct FlashEnd {
  std::string lastFlash;
  bool ramBetween = false;
};
// The map's line of the RAM data's section, as the fix names it .data.
std::vector<MapSection>::const_iterator ramDataLine(const MapOutline& o, const ElfFacts& facts) {
  auto data = std::find_if(o.sections.begin(), o.sections.end(),
                           [](const MapSection& s) { return s.name == ".data"; });
  if (data == o.sections.end()) {
    const std::string name = ramDataSectionOf(facts);
    data = std::find_if(o.sections.begin(), o.sections.end(),
                        [&name](const MapSection& s) { return s.name == name; });
  }
  return data;
}

FlashEnd flashEndOf(const LinkDiagnosis& d, const ElfFacts& facts) {
  const MapOutline& o = d.outline;
  const auto data = ramDataLine(o, facts);
  FlashEnd end;
  for (auto it = data; it != o.sections.begin();) {
    const MapSection& section = *--it;
    // The end lines stand before the assignment that leaves the flash.
    if (d.counterLeftFlash && section.line.number > data->counterLine.number) {
      continue;
    }
    if (!section.haveAddress || section.name == "/DISCARD/" || movedAfterData(o, section)) {
      continue;
    }
    // An empty RAM section moves the location counter all the same; an
    // empty flash one (the linker's own .glue_7, .iplt) ends nothing.
    if (inFlashWindow(section.address) && section.size > 0) {
      end.lastFlash = section.name;
      return end;
    }
    end.ramBetween = end.ramBetween || !inFlashWindow(section.address);
  }
  return {};
}

// .data's own AT(SYMBOL), where the script that the caller read has one:
// the RAM data's section there may still have another name.
std::string ownLoadSymbol(const LinkDiagnosis& d, const ElfFacts& facts) {
  const std::string ramData = ramDataSectionOf(facts);
  for (const auto& [section, symbol] : d.script.atSymbols) {
    if (section == ".data" || section == ramData) {
      return symbol;
    }
  }
  return {};
}

}  // namespace

std::vector<std::string> copiedAfterData(const MapOutline& o, const ElfFacts& facts,
                                         const ScriptSays& script) {
  std::vector<std::string> copied;
  const auto data = ramDataLine(o, facts);
  for (auto it = data; it != o.sections.end() && ++it != o.sections.end();) {
    const auto said = std::find_if(script.loadRegionOnly.begin(), script.loadRegionOnly.end(),
                                   [&](const auto& entry) { return entry.first == it->name; });
    // A section of the linker's own (.igot.plt), where the script is
    // known, or empty with no pattern of the script in it.
    const bool linkers = script.loadRegionOnly.empty() ? it->size == 0 && it->patterns.empty()
                                                       : said == script.loadRegionOnly.end();
    if (it->name == "/DISCARD/" || linkers) {
      continue;
    }
    // GNU ld shows a load address for what follows such a section (.bss,
    // a NOLOAD one) too: the script says which are loaded; without it, a
    // section the ELF file holds no bytes of is no initial values.
    const Section* s = sectionNamed(facts, it->name);
    const bool loaded = script.loadRegionOnly.empty() ? s != nullptr && s->loaded : said->second;
    if (!it->haveAddress || !it->haveLoad || inFlashWindow(it->address) ||
        !inFlashWindow(it->load) || !loaded || (s != nullptr && !s->loaded)) {
      break;
    }
    copied.push_back(it->name);
  }
  return copied;
}

bool counterLeftFlash(const MapOutline& o, const ElfFacts& facts) {
  const auto data = ramDataLine(o, facts);
  if (data == o.sections.end() || !data->counterLine.found() || inFlashWindow(data->counter)) {
    return false;
  }
  // Set anew from the flash, not moved on inside a RAM section.
  const MapSection* before = nullptr;
  for (const MapSection& section : o.sections) {
    if (section.line.number < data->counterLine.number) {
      before = &section;
    }
  }
  return before != nullptr && before->haveAddress && inFlashWindow(before->address);
}

void setEndLines(LinkFinding& f, const LinkDiagnosis& d, const ElfFacts& facts,
                 std::uint32_t align) {
  const EndNames& n = *facts.endNames;
  const std::string own = ownLoadSymbol(d, facts);
  const std::string start = own.empty() ? std::string(n[0]) : own;
  const std::string size(n[1]);
  const FlashEnd end = flashEndOf(d, facts);
  const bool fromSection = end.ramBetween && !end.lastFlash.empty();
  f.lines.clear();
  if (d.counterLeftFlash) {
    const std::string& counter = ramDataLine(d.outline, facts)->counterLine.text;
    const std::size_t at = counter.find(". =");
    f.lines.push_back(
        "/* these lines before the script's own that moves the location counter "
        "out of the flash: " +
        counter.substr(at == std::string::npos ? 0 : at) + " */");
  }
  // The load address keeps the data's alignment, whatever ends before it;
  // past RAM sections the location counter is no flash address to align,
  // and the alignment goes at the end of the last flash section.
  if (align >= 4) {
    f.lines.push_back(". = ALIGN(" + std::to_string(align) + ");" +
                      (fromSection ? "  /* at the end of " + end.lastFlash + " */" : ""));
  }
  // The script's own load symbol stays where it is set, unless RAM
  // sections moved the location counter away from the flash.
  if (own.empty() || fromSection) {
    f.lines.push_back(start + " = " +
                      (fromSection
                           ? "LOADADDR(" + end.lastFlash + ") + SIZEOF(" + end.lastFlash + ")"
                           : std::string(".")) +
                      ";");
  }
  // A script that places .data with AT> today must drop it for AT().
  const std::string noLmaRegion =
      " { ... } > RAM  /* no AT> after it: AT() sets the load address */";
  f.lines.insert(f.lines.end(), {". = " + start + " + " + size + ";", std::string(n[2]) + " = .;",
                                 ".data : AT(" + start + ")" + noLmaRegion});
  for (const std::string& section : d.copiedAfterData) {
    f.lines.push_back(section + " : AT(" + copiedLoad(start, section) + ")");
    f.lines.back() += noLmaRegion;
  }
  f.lines.push_back(size + " = " + dataImageSize(d.copiedAfterData) + ";");
  f.align = align >= 4 ? align : 0;
  f.endsRange = true;
}

// The alignment of the RAM data whose initial values the flash holds.
std::uint32_t ramDataAlignment(const ElfFacts& facts) {
  std::uint32_t align = 1;
  for (const Section& s : facts.sections) {
    if (s.loaded && inSramWindow(s.header.address) && inFlash(s.loadAddress)) {
      align = std::max(align, s.header.alignment);
    }
  }
  return align;
}

}  // namespace pakforge::detect

namespace pakforge {

std::string copiedLoad(const std::string& start, const std::string& section) {
  return start + " + (ADDR(" + section + ") - ADDR(.data))";
}

std::string dataImageSize(const std::vector<std::string>& copiedAfterData) {
  if (copiedAfterData.empty()) {
    return "SIZEOF(.data)";
  }
  const std::string& last = copiedAfterData.back();
  return "ADDR(" + last + ") + SIZEOF(" + last + ") - ADDR(.data)";
}

}  // namespace pakforge
