// Detectors of the RAM report: the lines that set its start and its end,
// beside the ELF file's own RAM data.
#include "linkdiag/link_diagnosis.h"

#include <algorithm>
#include <cctype>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "elf/elf_check.h"
#include "format/hex_text.h"
#include "format/image_header.h"
#include "linkdiag/detectors.h"

namespace pakforge::detect {
namespace {

// Whether a map line assigns a stack top: the name it assigns holds
// "stack", or is the stack pointer's (_sp, __sp), as start-up code and
// scripts name it.
bool namesStackTop(std::string_view line) {
  std::string lower(assignedName(line));
  for (char& c : lower) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return lower.find("stack") != std::string::npos || lower == "_sp" || lower == "__sp";
}

// Where the RAM report starts the RAM data: a line of the map that holds
// .data and another RAM address than .data's, or none at all.
void ramStartFindings(LinkDiagnosis& d, const ElfFacts& facts) {
  const RamFacts& r = d.ram;
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
    // Where the RAM data's section has another name, ADDR(.data) names no
    // section: the linker refuses it until the section is renamed.
    const std::string ramData =
        sectionNamed(facts, ".data") == nullptr ? ramDataSectionOf(facts) : std::string();
    add(d, Rule::ramNoDataLine,
        "no line of the map holds both .data and a RAM address, so the RAM report starts the "
        "RAM data at 0",
        ramData.empty() ? fixText(Rule::ramNoDataLine, {"", ""})
                        : fixText(Rule::ramNoDataLine, {", " + ramData + ",",
                                                        " once it is so named (ADDR(.data) names "
                                                        "no section before)"}));
  }
}

}  // namespace

void ramFindings(LinkDiagnosis& d, const ElfFacts& facts) {
  RamFacts& r = d.ram;
  r.mapStart = d.mapRam.dataStart;
  r.mapEnd = d.mapRam.dataEnd;
  r.startLine = d.checked.ram.startLine;
  r.endLine = d.checked.ram.endLine;
  const auto used = static_cast<std::int32_t>(r.mapEnd - r.mapStart);
  const auto limit = static_cast<std::int32_t>(RAM_LIMIT - r.mapStart);
  r.fits = used <= limit;
  const Section* data = sectionNamed(facts, ".data");
  const Section* bss = sectionNamed(facts, ".bss");
  std::uint64_t start = 0;
  bool haveStart = false;
  for (const Section& s : facts.sections) {
    if (inSramWindow(s.header.address) && s.header.size > 0 &&
        (!haveStart || s.header.address < start)) {
      start = s.header.address;
      haveStart = true;
    }
  }
  if (data != nullptr && inSramWindow(data->header.address)) {
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
    if (inSramWindow(s.header.address) && s.header.address >= r.elfBssEnd && s.header.size > 0 &&
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
  ramStartFindings(d, facts);
  if (r.endLine.found() && r.mapEnd > r.elfReservedEnd && (r.mapEnd >= RAM_LIMIT || !r.fits)) {
    const std::string line = quoted(r.endLine);
    if (!r.fits) {
      add(d, Rule::ramCheckFails,
          "the RAM check reads " + std::to_string(used) + " of " + std::to_string(limit) +
              " bytes and fails: its highest RAM address, " + hexText(r.mapEnd) + ", comes from " +
              line + ", past all the RAM the firmware uses; " + elfFigure,
          fixText(Rule::ramCheckFails));
    } else if (namesStackTop(r.endLine.text)) {
      // A heap that takes the RAM left, or a symbol for the end of RAM, is
      // what the firmware reserves: only a stack top set there is a fault.
      add(d, Rule::ramReportHigh,
          "the RAM report reads " + std::to_string(used) + " of " + std::to_string(limit) +
              " bytes: its highest RAM address, " + hexText(r.mapEnd) + ", comes from " + line +
              ", past all the RAM the firmware uses; " + elfFigure,
          fixText(Rule::ramReportHigh));
    }
  }
}

// Sections in RAM the device lacks, each once: the build's check refuses
// the first that has bytes.
void missingRamFindings(LinkDiagnosis& d, const ElfFacts& facts) {
  for (const ElfSection& s : facts.missingRam) {
    const bool said = std::any_of(d.findings.begin(), d.findings.end(),
                                  [&s](const LinkFinding& f) { return f.section == s.name; });
    if (!said) {
      const FlashLoadProblem p = missingRamProblem(s);
      add(d, p.rule, p.what, p.fix).section = p.section;
    }
  }
}

}  // namespace pakforge::detect
