#include "linkdiag/link_diagnosis.h"

#include <algorithm>
#include <fstream>
#include <initializer_list>

#include "elf/elf_check.h"
#include "format/hex_text.h"
#include "format/image_header.h"
#include "format/input_file.h"

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
};

struct ElfFacts {
  std::vector<Section> sections;
  bool symbolsChecked = false;
  std::array<ElfSymbol, kRequiredSymbolCount> symbols{};
};

constexpr std::size_t kMaxSections = 1024;

void readElf(ElfReader& reader, ElfFacts& facts) {
  for (std::uint32_t i = 1; i < reader.sectionCount() && facts.sections.size() < kMaxSections;
       ++i) {
    // Allocated sections, and those in RAM that are not (GNU ld's COPY
    // sections: a heap or a stack the startup code does not touch).
    const ElfSection& section = reader.sections()[i];
    if (!section.allocated() && !(inRam(section.address) && section.size > 0)) {
      continue;
    }
    facts.sections.push_back({section, section.loaded, section.loadAddress});
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
  for (const Section& s : facts.sections) {
    if (s.header.name == name) {
      return &s;
    }
  }
  return nullptr;
}

void add(LinkDiagnosis& d, std::string topic, std::string what, std::string fix) {
  d.findings.push_back({std::move(topic), std::move(what), std::move(fix)});
}

void codeStartFindings(LinkDiagnosis& d, const MapOutline& o) {
  if (d.mapSymbols.haveAddrExe) {
    return;
  }
  if (d.mapSymbols.outcome == MapSymbols::Outcome::noCodeStart) {
    add(d, "code range",
        quoted(o.dataLine) +
            " holds .data before any line of the map holds .text, so the code "
            "range has no start",
        "place the .text output section before everything that names .data");
  } else if (o.codeStart.found()) {
    std::string what = "the first line of the map holding .text, " + quoted(o.codeStart) +
                       ", holds no address, so the code start can't be read from it";
    std::string fix =
        "make the .text output section's own line the first line of the map that holds .text";
    if (o.codeStartIsSection && o.codeStartName.size() >= 16) {
      what += ": it is the line of the output section " + o.codeStartName + ", whose name of " +
              std::to_string(o.codeStartName.size()) +
              " characters puts its address on the next line of GNU ld's map";
      fix =
          "name the code's output section .text (a name shorter than 16 characters keeps the "
          "address on its line)";
    } else if (!o.codeStartSection.empty()) {
      what += " (it lies in the output section " + o.codeStartSection + ")";
      fix = "move what " + o.codeStartSection +
            " holds into .text, at its start, and drop that output section: the .text output "
            "section's own line must be the first to hold .text";
    }
    add(d, "code range", what, fix);
  } else {
    add(d, "code range", "no line of the map holds .text, so the code range has no start",
        "name the output section of the code .text");
  }
}

void flashBeforeRangeFindings(LinkDiagnosis& d) {
  for (const FlashSpan& span : d.outside) {
    if (span.start >= d.rangeStart ||
        (d.rangeAssumed && span.section == d.actualCodeStartSection)) {
      continue;
    }
    std::string fix;
    if (!span.section.empty()) {
      fix = "move what " + span.section +
            " holds into .text, at its start (for a vector table: KEEP(*(" + span.section +
            ")) as the first line of .text), and drop the output section " + span.section;
    }
    add(d, "code range",
        spanText(span) + " lies in the flash before the code range, which starts at " +
            quoted(d.outline.codeStart) + ", the first line of the map holding .text",
        fix);
  }
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
    add(d, "range end", what + ": an assignment that names .data in an expression",
        "move that assignment after the .data section, or write it without naming .data; end "
        "the code range with a line before .data that moves the location counter past the "
        "initial values (_sidata = .; . = _sidata + _data_image_size; _flash_end = .; with "
        ".data : AT(_sidata) and _data_image_size = _edata - _sdata; after .data)");
  } else if (!section.empty() && section == ramDataSection) {
    add(d, "range end",
        what + ": an input section line of " + section +
            ", the RAM data's output section, which is not named .data",
        "rename the output section " + section + " to .data");
  } else {
    add(d, "range end",
        what + ", in " + (section.empty() ? std::string("no output section") : section),
        "write that pattern so that the line does not hold .data (.dat[a] matches the same "
        "sections), or move it after .data");
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

// Under LLD, RAM sections after .bss that have file bytes (reservations made
// by moving the location counter) are loaded into the flash as soon as a
// section before them is placed with AT(), as the recipe places .data.
void lldReservationFindings(LinkDiagnosis& d, const ElfFacts& facts,
                            const std::vector<FlashSpan>& leftOut) {
  const Section* bss = sectionNamed(facts, ".bss");
  if (!d.lldElf || bss == nullptr) {
    return;
  }
  for (const Section& s : facts.sections) {
    const bool alreadySaid =
        std::any_of(leftOut.begin(), leftOut.end(),
                    [&](const FlashSpan& span) { return span.section == s.header.name; });
    if (&s != bss && s.header.allocated() && s.header.hasContent() && inRam(s.header.address) &&
        s.header.address >= bss->header.address && !alreadySaid) {
      add(d, "range end",
          s.header.name +
              " is a RAM section after .bss with bytes in the file: once .data is "
              "placed with AT(), LLD loads it into the flash after .data",
          "mark " + s.header.name + " (NOLOAD)");
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
      const Section* s = nullptr;
      for (const Section& candidate : facts.sections) {
        if (candidate.header.name == span.section) {
          s = &candidate;
        }
      }
      if ((s == nullptr || !inRam(s->header.address)) && !span.section.empty()) {
        if (s != nullptr && s->loaded && s->loadAddress < span.start) {
          // The range ends inside this section: its end line stops short.
          shortEnd = ends + ": the line that ends the code range stops " +
                     bytes(span.end - span.start) + " before the end of " + span.section +
                     (d.lldMap ? " (in a map from LLD an alignment line shows the location "
                                 "counter before it is aligned)"
                               : "");
        } else {
          add(d, "range end",
              span.section + " is a flash section after the end of the code range, " +
                  quoted(o.rangeEnd),
              "place " + span.section +
                  " inside .text, or in the flash before the line that ends the code range");
        }
        continue;
      }
      if (s == nullptr || !inRam(s->header.address)) {
        continue;
      }
      if (bss != nullptr && s->header.address >= bss->header.address && s != bss) {
        // A reservation after .bss that LLD gives load bytes after AT().
        add(d, "range end",
            s->header.name + " is a RAM reservation after .bss, but the ELF file loads " +
                bytes(s->header.size) + " of it into the flash at " + hexText(s->loadAddress),
            "mark " + s->header.name +
                " (NOLOAD): under LLD a RAM section after a section placed with AT() gets load "
                "bytes unless it is NOLOAD");
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
      add(d, "range end", shortEnd,
          "end the code range with a line after the last flash section that moves the location "
          "counter past it (. = _sidata + _data_image_size; _flash_end = .;)");
    }
    if (initialValues && !assignmentDataLine) {
      if (d.lldMap && o.rangeEndIsAssignment && !assignsLocationCounter(o.rangeEnd.text)) {
        add(d, "range end",
            ends +
                ": in a map from LLD an assignment line shows the location counter, not the "
                "value assigned",
            "move the location counter itself there (. = _sidata + _data_image_size; "
            "_flash_end = .;)");
      } else {
        add(d, "range end",
            ends + ": no line before .data carries the end of the initial values of " +
                ramDataSection,
            "end the code range with a line before .data that moves the location counter past "
            "them, in an expression that does not name .data: _sidata = .; . = _sidata + "
            "_data_image_size; _flash_end = .; with .data : AT(_sidata) and _data_image_size = "
            "_edata - _sdata; after .data");
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
    add(d, "range end",
        "RAM sections (" + ramSections + ") stand between the flash sections and .data in the map" +
            (endInRam ? ", and the line that ends the code range, " + quoted(o.rangeEnd) +
                            ", is theirs: the range's end is no flash address"
                      : ": a line of theirs whose address holds an 8 would end the code range"),
        "place " + ramSections + " after .bss");
  }
  const std::uint64_t flashEnd = d.flash.empty() ? 0 : d.flash.back().end;
  const bool endIsFlash = d.rangeEnd >= d.rangeStart && d.rangeEnd <= ROM_LIMIT;
  if (!d.flash.empty() && d.rangeEnd > flashEnd && !endInRam && endIsFlash) {
    add(d, "range end",
        "the code range " + hexText(d.rangeStart) + "-" + hexText(d.rangeEnd) + " runs " +
            bytes(d.rangeEnd - flashEnd) + " past the end of the flash content the ELF loads, " +
            hexText(flashEnd) + ": it ends at " + quoted(d.outline.rangeEnd),
        "link again, so that the map and the ELF file are from the same link; or end the code "
        "range where the flash content ends");
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
        add(d, "symbols",
            name +
                (s.elf.local() ? " is only a local symbol in the ELF file (at " +
                                     hexText(s.elf.localValue()) + ")"
                               : " is not in the ELF file's symbol table") +
                mapGives,
            "link again, so that the map and the ELF file are from the same link");
      } else if (s.elf.local()) {
        add(d, "symbols",
            name + " is only a local symbol in the ELF file (at " + hexText(s.elf.localValue()) +
                "): the loader needs a global one",
            "make " + name + " global (not static)");
      } else if (s.discarded.found()) {
        const std::string section = std::string(firstWordOf(s.discarded.text));
        add(d, "symbols",
            join({name, " is not in the ELF file: --gc-sections discarded its section, ",
                  quoted(s.discarded)}),
            join({"keep it: KEEP(*(", section,
                  ")) in the linker script, or link with -Wl,--undefined=", name}));
      } else {
        add(d, "symbols",
            join({name,
                  " is not in the ELF file: the firmware does not define it, or "
                  "--gc-sections discarded it"}),
            join({"define ", name, " as a global symbol, and keep its section (KEEP(*(.text.", name,
                  ")) or KEEP(*(.rodata.", name,
                  ")) in the linker script, or -Wl,--undefined=", name, ")"}));
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
      add(d, "symbols", where + ", before the code range", "");
    } else if (s.place == SymbolPlace::afterRange && !s.mapFinds) {
      add(d, "symbols",
          where + ", after the code range, which ends at " + quoted(d.outline.rangeEnd), "");
    } else if (s.mapFinds && compareSymbol(s.elf, s.mapAddress) != SymbolAgreement::agrees) {
      add(d, "symbols", where + mapGives,
          "link again, so that the map and the ELF file are from the same link");
    } else if (!s.mapFinds && s.place == SymbolPlace::inRange && d.haveRange) {
      add(d, "symbols",
          where + ", inside the code range, but the map has no symbol line for it there" +
              (s.mapLine.found() ? " (its first: " + quoted(s.mapLine) + ")" : ""),
          "");
    }
  }
}

void offsetFindings(LinkDiagnosis& d, std::istream& elf, std::uint64_t length) {
  // With flash content before the range, the code will start where that
  // content does, once it is moved into .text: judge the offset of that.
  std::uint64_t start = d.rangeStart;
  const bool moved = !d.flash.empty() && d.flash.front().start < start;
  if (moved) {
    start = d.flash.front().start;
  }
  ImageHeader header;
  header.addrExe = static_cast<std::uint32_t>(start);
  header.appSize = static_cast<std::uint32_t>(d.rangeEnd - start);
  d.derivedOffset = elfCodeOffset(static_cast<std::uint32_t>(d.rangeStart));
  const FileLayout layout = checkFileLayout(elf, length, header);
  if (layout.oneBlock) {
    d.haveFileOffset = !moved && !d.flash.empty();
    d.fileOffset = d.derivedOffset;
    return;
  }
  if (layout.address == d.rangeStart) {
    d.haveFileOffset = true;
    d.fileOffset = layout.inFile;
  }
  add(d, "file offset",
      "the ELF file holds the flash content at " + hexText(layout.address) + " at file offset " +
          hexText(layout.inFile, 1) + ", but pakforge reads it from " + hexText(layout.derived, 1) +
          ", taking the flash content as one block from the offset it derives from the code "
          "start, " +
          hexText(start) +
          (moved ? " (where the code starts once what lies before the code range is in .text)"
                 : ""),
      layout.fix);
}

// Initial values loaded at an address that is not a multiple of their
// section's alignment: the file keeps the alignment, so, linked with -n,
// they lie a few bytes further on in the file than in the flash.
void alignmentFindings(LinkDiagnosis& d, const ElfFacts& facts) {
  for (const LinkFinding& f : d.findings) {
    if (f.fix.find("is not a multiple of") != std::string::npos) {
      return;
    }
  }
  for (const Section& s : facts.sections) {
    const std::uint32_t align = s.header.alignment;
    if (!s.loaded || !inRam(s.header.address) || !inFlash(s.loadAddress) || align <= 1 ||
        s.loadAddress % align == s.header.address % align) {
      continue;
    }
    const std::string n = std::to_string(align);
    add(d, "file offset",
        join({"the initial values of ", s.header.name, " are loaded at ", hexText(s.loadAddress),
              ", which is not a multiple of ", n, ", the section's alignment: the file keeps ",
              s.header.name, " ", n,
              "-aligned, so with -n they lie further on in the file than in the flash"}),
        join({"align the location counter (. = ALIGN(", n,
              ")) at the end of the last flash section, before the load address of the initial "
              "values is taken"}));
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
    add(d, "RAM",
        "the RAM report takes the start of the RAM data, " + hexText(r.mapStart) + ", from " +
            quoted(r.startLine) +
            " (the last line holding both .data and a RAM address), not "
            "the start of .data, " +
            hexText(r.elfStart),
        "after .bss, make the start of .data the last such line: . = ADDR(.data); "
        "_ram_data_start = ADDR(.data);");
  } else if (!r.startLine.found()) {
    add(d, "RAM",
        "no line of the map holds both .data and a RAM address, so the RAM report starts the "
        "RAM data at 0",
        "name the RAM data's output section .data, or add . = ADDR(.data); _ram_data_start = "
        "ADDR(.data); after .bss");
  }
  if (r.endLine.found() && r.mapEnd > r.elfReservedEnd && (r.mapEnd >= RAM_LIMIT || !r.fits)) {
    const std::string line = quoted(r.endLine);
    if (!r.fits) {
      add(d, "RAM",
          "the RAM check reads " + std::to_string(used) + " of " + std::to_string(limit) +
              " bytes and fails: its highest RAM address, " + hexText(r.mapEnd) + ", comes from " +
              line + ", past all the RAM the firmware uses; " + elfFigure,
          "describe only the device's RAM in the linker script: a RAM bank the device lacks, or "
          "the end of a larger RAM, must not stand in the map as an address");
    } else {
      add(d, "RAM",
          "the RAM report reads " + std::to_string(used) + " of " + std::to_string(limit) +
              " bytes: its highest RAM address, " + hexText(r.mapEnd) + ", comes from " + line +
              ", past all the RAM the firmware uses; " + elfFigure,
          "set the stack top at the end of a stack reservation after .bss (. = ALIGN(8); . = . + "
          "0x400; _estack = .;), not at the end of RAM; a heap that takes all the RAM left, or a "
          "symbol for the end of RAM, keeps the report at the end of RAM, which is then what the "
          "firmware reserves");
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
    d.outline = outlineMap(map);
    actual = d.outline;
    map.clear();
    map.seekg(0);
    const MapFacts facts = scanMap(map);
    d.mapSymbols = facts.symbols;
    d.mapRam = facts.ram;
    d.actualCodeStart = d.outline.codeStart;
    d.actualCodeStartSection = d.outline.codeStartSection;
    if (!d.mapSymbols.haveAddrExe && d.outline.codeStart.found() && !d.outline.codeStartIsText) {
      // What comes after: the range as it will be once the .text and .data
      // output sections' own lines are the first to hold those names.
      map.clear();
      map.seekg(0);
      const MapOutline assumed = outlineMap(map, true);
      if (assumed.codeStartHasValue && assumed.dataLine.found() && assumed.rangeEnd.found()) {
        d.rangeAssumed = true;
        d.outline = assumed;
        d.mapSymbols.addrExe = assumed.codeStartValue;
        d.mapSymbols.appSize = assumed.rangeEndValue - assumed.codeStartValue;
        for (std::size_t i = 0; i < kRequiredSymbolCount; ++i) {
          for (const MapMention& m : assumed.mentions[i]) {
            if (m.phase == MapPhase::inRange) {
              d.mapSymbols.seen[i] = true;
              d.mapSymbols.address[i] = m.value;
            }
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
  std::string loadProblem;
  if (!checkFlashLoads(reader, loadProblem)) {
    add(d, "flash", loadProblem, "");
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
    flashBeforeRangeFindings(d);
    if (!d.rangeAssumed && !d.flash.empty() && d.rangeStart < d.flash.front().start) {
      add(d, "code range",
          "the code range starts at " + hexText(d.rangeStart) + ", at " +
              quoted(d.outline.codeStart) + ", " + bytes(d.flash.front().start - d.rangeStart) +
              " before the flash content the ELF loads, " + spanText(d.flash.front()) +
              ": the image would carry whatever the ELF file holds before it",
          "link again, so that the map and the ELF file are from the same link");
    }
  }
  symbolFindings(d, facts);
  if (d.haveRange) {
    dataLineFindings(d, facts);
    rangeEndFindings(d, facts);
    offsetFindings(d, elf, length);
    alignmentFindings(d, facts);
  }
  ramFindings(d, facts);
  return d;
}

namespace {

std::string seeAlso(const LinkDiagnosis& d) {
  return "; aelfdump --link '" + d.mapPath + "' '" + d.elfPath +
         "' lists all that stands between this link and an image";
}

std::string findingLine(const LinkFinding& f) {
  return f.fix.empty() ? f.what : f.what + "; " + f.fix;
}

const LinkFinding* findingAbout(const LinkDiagnosis& d, std::string_view topic,
                                std::string_view start = {}) {
  for (const LinkFinding& f : d.findings) {
    if (f.topic == topic && f.what.compare(0, start.size(), start) == 0) {
      return &f;
    }
  }
  return nullptr;
}

}  // namespace

std::string symbolScanHint(const LinkDiagnosis& d) {
  if (d.elfState != ElfOpen::ok || !d.mapOpened) {
    return {};
  }
  if (!d.mapSymbols.haveAddrExe) {
    const LinkFinding* f = findingAbout(d, "code range");
    return f == nullptr ? std::string() : findingLine(*f) + seeAlso(d);
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
  const std::string name(kRequiredSymbolNames[first]);
  const LinkFinding* f = findingAbout(d, "symbols", name + " is ");
  std::string line;
  if (f != nullptr) {
    line = findingLine(*f);
  } else {
    return {};
  }
  if (d.symbols[first].place == SymbolPlace::beforeRange ||
      d.symbols[first].place == SymbolPlace::afterRange) {
    // Where it lies says why the map rules miss it; the fix is the range's.
    const LinkFinding* range = findingAbout(
        d, d.symbols[first].place == SymbolPlace::beforeRange ? "code range" : "range end");
    if (range != nullptr && !range->fix.empty()) {
      line += ": " + range->fix;
    }
  }
  if (!others.empty()) {
    line += " (the map rules miss " + others + " too)";
  }
  return line + seeAlso(d);
}

std::string ramHint(const LinkDiagnosis& d) {
  if (d.elfState != ElfOpen::ok || !d.mapOpened || !d.ram.endLine.found()) {
    return {};
  }
  const LinkFinding* f = findingAbout(d, "RAM", "the RAM check reads");
  if (f == nullptr) {
    f = findingAbout(d, "RAM", "the RAM report reads");
  }
  return f == nullptr ? std::string() : findingLine(*f) + seeAlso(d);
}

std::string elfCheckHint(const LinkDiagnosis& d, const std::string& problem) {
  if (d.elfState != ElfOpen::ok || !d.mapOpened ||
      (problem.find("leaves out") == std::string::npos &&
       problem.find("does not end in the flash") == std::string::npos)) {
    return {};
  }
  for (const std::string_view cause :
       {"the first line holding .data after the code start", "RAM sections ("}) {
    if (const LinkFinding* f = findingAbout(d, "range end", cause)) {
      return findingLine(*f) + seeAlso(d);
    }
  }
  return {};
}

}  // namespace pakforge
