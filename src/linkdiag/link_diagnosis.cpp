#include "linkdiag/link_diagnosis.h"

#include <fstream>

#include "elf/elf_check.h"
#include "format/hex_text.h"
#include "format/image_header.h"
#include "format/input_file.h"
#include "linkdiag/detectors.h"
#include "mapfile/ram_budget.h"

namespace pakforge {

using namespace detect;

namespace {

// The range as the outline `after` gives it, when the map's own lines give
// none and `after` has a code start, a data line and an end.
void assumeRange(LinkDiagnosis& d, const MapOutline& after) {
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
  d.lldMap = d.outline.lld;
  d.haveRange = (d.mapSymbols.haveAddrExe && d.mapSymbols.haveAppSize) || d.rangeAssumed;
  d.rangeStart = d.mapSymbols.addrExe;
  d.rangeEnd = d.rangeStart + (d.haveRange ? d.mapSymbols.appSize : 0);
}

// One read of the map: the checks' own scans (unless a build has run them),
// the outline of the lines they read, and the outline as it will be once
// the .text and .data output sections' own lines are the first to hold
// those names. `actual` is the outline as the map is; false when the map
// can't be opened.
bool readMap(LinkDiagnosis& d, const std::string& mapPath, const MapFacts* checked,
             MapOutline& actual) {
  std::ifstream map;
  if (!openInputFile(mapPath, std::ios::binary, map)) {
    return false;
  }
  d.mapOpened = true;
  RamScan ram(true);
  SymbolScan symbols;
  OutlineScan outline;
  OutlineScan assumed(true, &outline);
  if (checked != nullptr) {
    // The build's RAM check took its lines without numbering them.
    d.checked = *checked;
    outline.numberLines({&d.checked.ram.startLine, &d.checked.ram.endLine});
    scanLines(map, {&outline, &assumed});
  } else {
    scanLines(map, {&ram, &symbols, &outline, &assumed});
    d.checked = {ram.usage(), symbols.symbols()};
  }
  d.outline = outline.outline();
  actual = d.outline;
  d.mapSymbols = d.checked.symbols;
  d.mapRam = d.checked.ram;
  d.actualCodeStart = d.outline.codeStart;
  d.actualCodeStartSection = d.outline.codeStartSection;
  d.actualDataLine = d.outline.dataLine;
  d.actualDataLineSection = d.outline.dataLineSection;
  assumeRange(d, assumed.outline());
  return true;
}

// The code's own output section named otherwise, and no .text at all (a
// generated script's "text", and its "datas" for .data): the range as it
// will be once they are renamed, as the renames' findings ask, so that the
// findings behind them are said in the same round. A second read of the
// map, on this failure only.
void assumeRenamed(LinkDiagnosis& d, const std::string& mapPath, const ElfFacts& facts) {
  const MapOutline& o = d.outline;
  if (d.rangeAssumed || d.mapSymbols.haveAddrExe || !o.codeStart.found() || o.codeStartIsSection ||
      o.codeStartSection.empty() || sectionNamed(facts, ".text") != nullptr) {
    return;
  }
  const std::string data =
      sectionNamed(facts, ".data") == nullptr ? ramDataSectionOf(facts) : std::string(".data");
  std::ifstream map;
  if (data.empty() || !openInputFile(mapPath, std::ios::binary, map)) {
    return;
  }
  OutlineScan renamed(true);
  renamed.renamed(o.codeStartSection, data);
  scanLines(map, {&renamed});
  assumeRange(d, renamed.outline());
}

// What the ELF file loads into the flash, its holes, and what of it lies
// outside the range.
void readFlash(LinkDiagnosis& d, ElfReader& reader, const ElfFacts& facts) {
  d.flash = flashSpans(reader, facts);
  for (std::size_t i = 0; i + 1 < d.flash.size(); ++i) {
    if (d.flash[i].end < d.flash[i + 1].start) {
      d.holes.push_back({d.flash[i].end, d.flash[i + 1].start, ""});
    }
  }
  if (!d.haveRange) {
    return;
  }
  for (const FlashSpan& span : d.flash) {
    if (span.start < d.rangeStart) {
      d.outside.push_back({span.start, std::min(span.end, d.rangeStart), span.section});
    }
    if (span.end > d.rangeEnd) {
      d.outside.push_back({std::max(span.start, d.rangeEnd), span.end, span.section});
    }
  }
}

// Where the range starts against what the ELF file loads.
void rangeStartFindings(LinkDiagnosis& d, const ElfFacts& facts) {
  flashBeforeRangeFindings(d, facts);
  if (d.flash.empty()) {
    add(d, Rule::noFlashContent,
        "the ELF loads nothing into the flash (" + hexText(FLASH_BASE) + "-" + hexText(ROM_LIMIT) +
            "), but the code range is " + rangeText(d.rangeStart, d.rangeEnd),
        fixText(Rule::noFlashContent, {hexText(APP_FLASH_START)}));
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

}  // namespace

LinkDiagnosis diagnoseLink(const std::string& mapPath, const std::string& elfPath,
                           const MapFacts* checked, ScriptSays script) {
  LinkDiagnosis d;
  d.mapPath = mapPath;
  d.elfPath = elfPath;
  d.script = std::move(script);
  MapOutline actual;
  if (!readMap(d, mapPath, checked, actual)) {
    return d;
  }
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
  assumeRenamed(d, mapPath, facts);
  readFlash(d, reader, facts);
  d.counterLeftFlash = counterLeftFlash(d.outline, facts);
  d.copiedAfterData = copiedAfterData(d.outline, facts, d.script);
  d.symbolsChecked = facts.symbolsChecked;
  codeStartFindings(d, actual, facts);
  FlashLoadProblem load;
  if (!checkFlashLoads(reader, load)) {
    add(d, load.rule, load.what, load.fix).section = load.section;
  }
  if (d.haveRange) {
    rangeStartFindings(d, facts);
  }
  symbolFindings(d, facts);
  // Before the range's end: a bank's section that moves is no reservation
  // to mark NOLOAD.
  missingRamFindings(d, facts);
  noDataLineFindings(d, facts);
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
  firmwareFindings(d, reader);
  return d;
}

}  // namespace pakforge
