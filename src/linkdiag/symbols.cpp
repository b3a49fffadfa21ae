// Detectors of the five header symbols: where the ELF file defines each, and
// where the map rules find it.
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

namespace pakforge::detect {

namespace {

// A header symbol the ELF file does not define (globally).
void undefinedSymbolFindings(LinkDiagnosis& d, const ElfFacts& facts, std::size_t i,
                             const std::string& mapGives) {
  SymbolFacts& s = d.symbols[i];
  const std::string name(s.name);
  s.place = s.elf.local() ? SymbolPlace::localOnly : SymbolPlace::missing;
  if (s.mapFinds && compareSymbol(s.elf, s.mapAddress) != SymbolAgreement::agrees) {
    if (s.elf.local()) {
      add(d, Rule::symbolStale,
          join({name, " is only a local symbol in the ELF file (at ", hexText(s.elf.localValue()),
                ")", mapGives}),
          fixText(Rule::symbolStale))
          .symbol = i;
    } else {
      add(d, Rule::symbolStripped,
          join({name, " is not in the ELF file's symbol table, which defines ",
                std::to_string(facts.definedSymbols), " symbols", mapGives,
                ": the file may have been stripped of it"}),
          fixText(Rule::symbolStripped))
          .symbol = i;
    }
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
}

// The map gives the symbol by the script's assignment: its last word is
// the other name.
void assignedSymbolFinding(LinkDiagnosis& d, std::size_t i, const std::string& where) {
  const SymbolFacts& s = d.symbols[i];
  const std::string name(s.name);
  const std::string& text = d.outline.assigned[i].text;
  std::string other = text.substr(text.find(" = ") + 3);
  other = other.substr(0, other.find_first_of(" \t;)"));
  const std::string alias =
      s.elf.function ? join({"void ", name, "(void) __attribute__((alias(\"", other, "\")));"})
                     : join({"extern __typeof__(", other, ") ", name, " __attribute__((alias(\"",
                             other, "\")));"});
  add(d, Rule::symbolAssigned,
      join({where, ", but the map gives it by the script's assignment, ",
            quoted(d.outline.assigned[i]), ", whose last word, ", other,
            ", is the name the symbol scan reads"}),
      fixText(Rule::symbolAssigned, {name, other, alias}))
      .symbol = i;
}

// A header symbol the ELF file defines: where it lies against the range,
// and whether the map's address is its.
void definedSymbolFindings(LinkDiagnosis& d, const ElfFacts& facts, std::size_t i,
                           const std::string& mapGives) {
  SymbolFacts& s = d.symbols[i];
  const std::string name(s.name);
  // A file-local definition of the name that the map lists after the
  // global one: the scan takes the last line.
  const bool localListedLast = s.mapFinds && localAgrees(s.elf, s.mapAddress);
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
  const bool stale = s.mapFinds && compareSymbol(s.elf, s.mapAddress) != SymbolAgreement::agrees;
  if (s.place == SymbolPlace::beforeRange && !s.mapFinds) {
    add(d, Rule::symbolBeforeRange, where + ", before the code range",
        fixText(Rule::symbolBeforeRange))
        .symbol = i;
  } else if (s.place == SymbolPlace::afterRange && !s.mapFinds) {
    add(d, Rule::symbolAfterRange,
        where + ", after the code range, which ends at " + quoted(d.outline.rangeEnd),
        fixText(Rule::symbolAfterRange))
        .symbol = i;
  } else if (localListedLast && stale) {
    add(d, Rule::symbolLocalListedLast,
        join({where, mapGives, ", the address of a file-local ", name,
              " (static) that the map lists after the global one; ",
              "the symbol scan takes the last line naming it"}),
        fixText(Rule::symbolLocalListedLast, {name}))
        .symbol = i;
  } else if (stale) {
    add(d, Rule::symbolStale, where + mapGives, fixText(Rule::symbolStale)).symbol = i;
  } else if (!s.mapFinds && d.outline.assigned[i].found()) {
    assignedSymbolFinding(d, i, where);
  } else if (!s.mapFinds && s.place == SymbolPlace::inRange && d.haveRange) {
    add(d, Rule::symbolWithoutMapLine,
        where + ", inside the code range, but the map has no symbol line for it there" +
            (s.mapLine.found() ? " (its first: " + quoted(s.mapLine) + ")" : ""),
        fixText(Rule::symbolWithoutMapLine))
        .symbol = i;
  }
}

}  // namespace

void symbolFindings(LinkDiagnosis& d, const ElfFacts& facts) {
  for (std::size_t i = 0; i < kRequiredSymbolNames.size(); ++i) {
    SymbolFacts& s = d.symbols[i];
    s.name = kRequiredSymbolNames[i];
    s.elf = facts.symbols[i];
    s.mapFinds = d.mapSymbols.seen[i];
    s.mapAddress = d.mapSymbols.address[i];
    s.mapLine = d.outline.mentions[i].empty() ? MapLine{} : d.outline.mentions[i].front().line;
    s.discarded = d.outline.discarded[i];
    if (!facts.symbolsChecked) {
      // A stripped file: nothing to say of the symbols.
      s.place = SymbolPlace::unchecked;
      continue;
    }
    // The line the symbol scan took the address from: the last in the range
    // that gives it.
    MapLine givenBy = s.mapLine;
    for (const MapMention& m : d.outline.mentions[i]) {
      if (m.phase == MapPhase::inRange && m.value == s.mapAddress) {
        givenBy = m.line;
      }
    }
    const std::string mapGives = s.mapFinds
                                     ? ", but the map gives " + hexText(s.mapAddress) +
                                           (givenBy.found() ? " (" + quoted(givenBy) + ")" : "")
                                     : "";
    if (s.elf.defined) {
      definedSymbolFindings(d, facts, i, mapGives);
    } else {
      undefinedSymbolFindings(d, facts, i, mapGives);
    }
  }
}

}  // namespace pakforge::detect
