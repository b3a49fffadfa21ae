// The streaming symbol scan against the plain reading, on any map text and
// any buffer size; the one read that serves both map checks against each
// check's plain reading; and the link diagnosis's outline, a third scan of
// the same read, against what the checks' scans found.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "linkdiag/map_outline.h"
#include "mapfile/map_scan.h"
#include "mapfile/ram_budget.h"
#include "mapfile/symbol_scan.h"
#include "reference_scans.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0)
    return 0;
  const std::size_t bufferSize = 1 + data[0] % 64;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);

  const std::uint32_t untouched = 0xEEEEEEEE;
  pakforge::ImageHeader header;
  header.entryPointAddr = header.loopAddr = header.hGroupsTableAddr = header.iGroupsTableAddr =
      header.remoteRegTablesAddr = header.addrExe = header.appSize = untouched;
  pakforge::ImageHeader streamed = header;
  std::istringstream in(text);
  std::ostringstream messages;
  const bool ok = pakforge::scanMapSymbols(in, streamed, messages, bufferSize);

  const reference::Symbols expected = reference::symbols(text);
  const std::uint32_t fields[] = {streamed.entryPointAddr, streamed.loopAddr,
                                  streamed.hGroupsTableAddr, streamed.iGroupsTableAddr,
                                  streamed.remoteRegTablesAddr};
  bool same = ok == expected.ok && messages.str() == expected.message &&
              streamed.addrExe == (expected.addrExeSet ? expected.addrExe : untouched) &&
              streamed.appSize == (expected.appSizeSet ? expected.appSize : untouched);
  for (std::size_t i = 0; i < 5; ++i) {
    const std::uint32_t want = i < expected.fields.size() ? expected.fields[i] : untouched;
    same = same && fields[i] == want;
  }
  std::istringstream again(text);
  const pakforge::MapFacts facts = pakforge::scanMap(again, bufferSize);
  const reference::Ram ram = reference::ramUsage(text);
  pakforge::ImageHeader together = header;
  std::ostringstream togetherMessages;
  same = same && facts.ram.dataStart == ram.dataStart && facts.ram.dataEnd == ram.dataEnd &&
         pakforge::applyMapSymbols(facts.symbols, together, togetherMessages) == ok &&
         togetherMessages.str() == messages.str() &&
         pakforge::encodeHeader(together) == pakforge::encodeHeader(streamed);
  // The outline read in the same pass names the lines the scans used.
  pakforge::RamScan ramScan(true);
  pakforge::SymbolScan symbolScan;
  pakforge::OutlineScan outlineScan;
  std::istringstream third(text);
  pakforge::scanLines(third, {&ramScan, &symbolScan, &outlineScan}, bufferSize);
  const pakforge::MapOutline& o = outlineScan.outline();
  const pakforge::MapSymbols& s = symbolScan.symbols();
  using Outcome = pakforge::MapSymbols::Outcome;
  // The RAM check's lines: numbered as it counts, or, taken by offset in a
  // build's read, by the outline of a later read; each is the line of the
  // map with that number.
  const pakforge::RamUsage& counted = ramScan.usage();
  pakforge::RamScan byOffset;
  std::istringstream fourth(text);
  pakforge::scanLines(fourth, {&byOffset}, bufferSize);
  pakforge::RamUsage numbered = byOffset.usage();
  pakforge::OutlineScan numbering;
  numbering.numberLines({&numbered.startLine, &numbered.endLine});
  std::istringstream fifth(text);
  pakforge::scanLines(fifth, {&numbering}, bufferSize);
  const auto lineHolds = [&text](const pakforge::MapLine& line) {
    if (line.text.empty()) {
      return line.number == 0 || line.found();
    }
    std::size_t at = 0;
    for (std::uint64_t n = 1; n < line.number && at != std::string::npos; ++n) {
      at = text.find('\n', at);
      at = at == std::string::npos ? at : at + 1;
    }
    return line.number != 0 && at != std::string::npos &&
           text.compare(at, line.text.size(), line.text) == 0;
  };
  same = same && numbered.startLine.number == counted.startLine.number &&
         numbered.endLine.number == counted.endLine.number && lineHolds(counted.startLine) &&
         lineHolds(counted.endLine);
  // The outline's own lines are the lines of the map with their numbers,
  // whatever the buffer.
  for (const pakforge::MapLine* line : {&o.codeStart, &o.dataLine, &o.rangeEnd}) {
    same = same && (!line->found() || lineHolds(*line));
  }
  same =
      same && (!s.haveAddrExe || (o.codeStart.found() && o.codeStartValue == s.addrExe)) &&
      (s.outcome != Outcome::noCodeStartAddress || (o.codeStart.found() && !o.codeStartHasValue)) &&
      // The scan stops at a .data line before any .text line; the outline
      // names that line, whatever follows.
      (s.outcome != Outcome::noCodeStart ||
       (o.dataLine.found() && (!o.codeStart.found() || o.codeStart.number > o.dataLine.number))) &&
      (!s.haveAppSize || (o.dataLine.found() && o.rangeEndValue - o.codeStartValue == s.appSize));
  for (std::size_t i = 0; i < 5; ++i) {
    const auto& mentions = o.mentions[i];
    // The outline keeps the first few mentions, and reads on where the scan
    // stopped without a range.
    if (mentions.size() == pakforge::MapOutline::kMaxMentions ||
        (s.outcome != Outcome::done && s.outcome != Outcome::reading)) {
      continue;
    }
    bool seen = false;
    std::uint32_t last = 0;
    for (const pakforge::MapMention& m : mentions) {
      if (m.phase == pakforge::MapPhase::inRange) {
        seen = true;
        last = m.value;
      }
    }
    same = same && seen == s.seen[i] && (!seen || last == s.address[i]);
  }
  if (!same)
    std::abort();
  return 0;
}
