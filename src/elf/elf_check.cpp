#include "elf/elf_check.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "elf/elf_reader.h"
#include "elf/flash_layout.h"
#include "format/hex_text.h"
#include "linkdiag/elf_causes.h"
#include "mapfile/symbol_scan.h"

namespace pakforge {
namespace {

constexpr std::array<std::uint32_t ImageHeader::*, 5> kSymbolFields = {
    &ImageHeader::entryPointAddr, &ImageHeader::loopAddr, &ImageHeader::hGroupsTableAddr,
    &ImageHeader::iGroupsTableAddr, &ImageHeader::remoteRegTablesAddr};

// Where the header came from, and why it can disagree with the ELF file.
std::string_view sourceText(HeaderSource source) {
  return source == HeaderSource::mapFile ? "the map file" : "the image's header";
}
std::string_view staleText(HeaderSource source) {
  return source == HeaderSource::mapFile ? "the map file may be from an earlier link"
                                         : "the image may be from an earlier link";
}
std::string_view otherLinkText(HeaderSource source) {
  return source == HeaderSource::mapFile ? "the map file is from another link"
                                         : "the image is from another link";
}

bool checkSymbols(ElfReader& elf, const ImageHeader& header, HeaderSource source, ElfCheck& check) {
  std::string& problem = check.problem;
  check.cause = Rule::symbolStale;
  std::array<ElfSymbol, 5> found{};
  if (!elf.findSymbols(kRequiredSymbolNames, found)) {
    return true;
  }
  for (std::size_t i = 0; i < kRequiredSymbolNames.size(); ++i) {
    const std::uint32_t inHeader = header.*kSymbolFields[i];
    const ElfSymbol& s = found[i];
    const std::string name(kRequiredSymbolNames[i]);
    std::string given = hexText(inHeader);
    given.append(" in ").append(sourceText(source));
    const SymbolAgreement agreement = compareSymbol(s, inHeader);
    if (agreement == SymbolAgreement::agrees) {
      continue;
    }
    problem = name;
    switch (agreement) {
      case SymbolAgreement::agrees:
        break;
      case SymbolAgreement::differs:
        problem.append(" is ").append(hexText(s.value)).append(" in the ELF but ").append(given);
        if (source == HeaderSource::mapFile && localAgrees(s, inHeader)) {
          // The map's last line for the name is a file-local definition's.
          check.cause = Rule::symbolLocalListedLast;
          problem.append(", the address of a file-local ")
              .append(name)
              .append(" (static) that the map lists after the global one: ")
              .append(fixText(Rule::symbolLocalListedLast, {name}));
          return false;
        }
        problem.append(" (").append(staleText(source));
        problem.append(source == HeaderSource::mapFile
                           ? ", or give the address of a local symbol of that name)"
                           : ")");
        return false;
      case SymbolAgreement::localDiffers:
        problem.append(" is only a local symbol in the ELF, at ");
        for (std::size_t k = 0; k < s.locals.size() && k < 3; ++k) {
          problem.append(k == 0 ? "" : ", ").append(hexText(s.locals[k].value));
        }
        problem.append(s.locals.size() > 3 ? ", ..." : "").append(", but ").append(given);
        problem.append(" (").append(staleText(source)).append(")");
        return false;
      case SymbolAgreement::absent:
        // Another link of the same firmware defines the same names; a table
        // without them was most likely cut down.
        check.cause = Rule::symbolStripped;
        problem.append(" is not in the ELF's symbol table but ").append(given);
        problem.append(" (the ELF file may have been stripped of it, or ")
            .append(otherLinkText(source))
            .append(")");
        if (check.inputHint.empty()) {
          check.inputHint = "has a symbol table of " + std::to_string(elf.definedSymbols()) +
                            " defined symbol" + (elf.definedSymbols() == 1 ? "" : "s") +
                            " without " + name +
                            ": it may have been stripped of it (strip -K keeps only the names it "
                            "is given); give the ELF file as the link wrote it";
        }
        return false;
    }
  }
  check.cause = Rule::none;
  return true;
}

// File bytes loaded into the flash window past the application's flash:
// no image can carry them, and the device would run without them.
bool checkPastFlashEnd(const ElfReader& elf, FlashLoadProblem& problem) {
  for (std::uint32_t i = 0; i < elf.segmentCount(); ++i) {
    ElfSegment s;
    if (!elf.loadSegment(i, s)) {
      continue;
    }
    const std::uint64_t from = std::max<std::uint64_t>(s.physicalAddress, ROM_LIMIT);
    const std::uint64_t to = std::min<std::uint64_t>(std::uint64_t{s.physicalAddress} + s.fileSize,
                                                     std::uint64_t{FLASH_WINDOW_END});
    if (from >= to) {
      continue;
    }
    const std::string name = sectionLoadedAt(elf, from);
    problem.rule = Rule::flashPastLimit;
    problem.what = "the ELF loads " + std::to_string(to - from) + " bytes at " + hexText(from) +
                   " (" + (name.empty() ? "segment " + std::to_string(i) : "section " + name) +
                   "), past the end of the application's flash, " + hexText(ROM_LIMIT) +
                   ": no image can carry them";
    problem.fix = fixText(Rule::flashPastLimit,
                          {name.empty() ? std::string("them") : name, hexText(ROM_LIMIT)});
    return false;
  }
  return true;
}

// File bytes loaded outside the flash window: an image carries the code
// range alone, so the device would never get them. Zero bytes loaded where
// they run are no firmware (LLD writes .bss and reservations so when a
// section with contents follows them); bytes loaded elsewhere than they run
// are a copy source, which the startup code would read from the wrong
// place, zero or not.
bool checkOutsideFlash(ElfReader& elf, FlashLoadProblem& problem) {
  for (std::uint32_t i = 0; i < elf.segmentCount(); ++i) {
    ElfSegment s;
    if (!elf.loadSegment(i, s) || s.fileSize == 0) {
      continue;
    }
    const std::uint64_t start = s.physicalAddress;
    const std::uint64_t end = start + s.fileSize;
    // The part below the flash window, else the part above it.
    std::uint64_t from = start;
    std::uint64_t to = std::min<std::uint64_t>(end, FLASH_BASE);
    if (from >= to) {
      from = std::max(start, std::uint64_t{FLASH_WINDOW_END});
      to = end;
    }
    if (from >= to) {
      continue;
    }
    const std::uint64_t offset = s.offset + (from - start);
    if (s.physicalAddress == s.virtualAddress && elf.zeroBytes(offset, to - from)) {
      continue;
    }
    const ElfSection* section = findSectionLoadedAt(elf, from);
    const std::string name = section != nullptr ? section->name : std::string();
    const std::uint64_t runs = std::uint64_t{s.virtualAddress} + (from - start);
    const bool inRam = inSramWindow(runs);
    problem.rule = Rule::loadedOutsideFlash;
    const std::string what = name.empty() ? "segment " + std::to_string(i) : "section " + name;
    problem.what = "the ELF loads " + std::to_string(to - from) + " bytes at " + hexText(from) +
                   " (" + what + (inRam ? ", which runs in RAM at " + hexText(runs) : "") +
                   "), outside the flash: no image can carry them";
    const std::string it = name.empty() ? std::string("them") : name;
    problem.fix = inRam
                      ? fixText(Rule::loadedOutsideFlash,
                                {"the initial values of " + it,
                                 " (AT> FLASH, or AT(_sidata) with _sidata set while the location "
                                 "counter is in the flash, after the last flash section)"})
                      : fixText(Rule::loadedOutsideFlash, {it, ", inside the code range"});
    return false;
  }
  return true;
}

// Two segments that load file bytes at the same flash address: the device
// can hold only one of them, and which one is not the ELF file's to say.
// Refusing them also bounds the code comparison by the flash's size.
bool checkOverlaps(const ElfReader& elf, FlashLoadProblem& problem) {
  struct Load {
    std::uint64_t from;
    std::uint64_t to;
    std::uint32_t index;
  };
  std::vector<Load> loads;
  for (std::uint32_t i = 0; i < elf.segmentCount(); ++i) {
    ElfSegment s;
    if (elf.loadSegment(i, s) && s.fileSize > 0 && s.physicalAddress >= FLASH_BASE &&
        s.physicalAddress < std::uint64_t{FLASH_WINDOW_END}) {
      loads.push_back({s.physicalAddress, std::uint64_t{s.physicalAddress} + s.fileSize, i});
    }
  }
  std::sort(loads.begin(), loads.end(), [](const Load& a, const Load& b) {
    return a.from != b.from ? a.from < b.from : a.index < b.index;
  });
  std::size_t reach = 0;  // the load that reaches furthest so far
  for (std::size_t k = 1; k < loads.size(); ++k) {
    if (loads[k].from < loads[reach].to) {
      const std::uint32_t first = std::min(loads[k].index, loads[reach].index);
      const std::uint32_t second = std::max(loads[k].index, loads[reach].index);
      problem.rule = Rule::flashOverlap;
      problem.fix = fixText(Rule::flashOverlap);
      problem.what = "loadable segments " + std::to_string(first) + " and " +
                     std::to_string(second) + " both load bytes at " + hexText(loads[k].from) +
                     ": the flash can hold only one of them";
      return false;
    }
    if (loads[k].to > loads[reach].to) {
      reach = k;
    }
  }
  return true;
}

bool checkRange(ElfReader& elf, const ImageHeader& header, HeaderSource source, ElfCheck& check) {
  std::string& problem = check.problem;
  Rule& cause = check.cause;
  const std::uint64_t codeStart = header.addrExe;
  const std::uint64_t codeEnd = codeStart + header.appSize;
  const std::string range = rangeText(codeStart, codeEnd);
  FlashLoadProblem load;
  if (!checkFlashLoads(elf, load)) {
    // The overlap's message says all there is to say.
    problem = load.rule == Rule::flashOverlap ? load.what : load.what + "; " + load.fix;
    cause = load.rule;
    return false;
  }
  FlashPart part;
  for (std::uint32_t i = 0; i < elf.segmentCount(); ++i) {
    if (!flashPart(elf, i, part)) {
      continue;
    }
    if (part.from < codeStart) {
      const std::uint64_t end = std::min(part.to, codeStart);
      check.fact = "the ELF loads " + std::to_string(end - part.from) + " bytes at " +
                   hexText(part.from) + " that the code range " + range + " leaves out";
      const Advice advice = leftOutBeforeCause(elf, part, header.addrExe, check.fact);
      problem = advice.text;
      cause = advice.rule;
      return false;
    }
    if (part.to > codeEnd) {
      const std::uint64_t start = std::max(part.from, codeEnd);
      const Advice advice = leftOutAtEndCause(elf, part, start);
      check.fact = "the ELF loads " + std::to_string(part.to - start) + " bytes at " +
                   hexText(start) + " that the code range " + range + " leaves out";
      problem = check.fact + advice.text;
      cause = advice.rule;
      return false;
    }
  }
  const FlashLayout layout = flashExtent(elf);
  if (!layout.any) {
    problem = "the ELF loads nothing into the flash (" + hexText(FLASH_BASE) + "-" +
              hexText(ROM_LIMIT) + "), but the code range is " + range;
    cause = Rule::noFlashContent;
    return false;
  }
  // Bytes before the flash content would go to the device below the
  // application: whatever the file holds there (its own headers, zeros).
  if (codeStart < layout.first.from) {
    problem = "the code range " + range + " starts " +
              std::to_string(layout.first.from - codeStart) +
              " bytes before the flash content the ELF loads, " + hexText(layout.first.from) +
              " (" + std::string(staleText(source)) + ")";
    cause = Rule::rangeStartsEarly;
    return false;
  }
  if (codeEnd > ROM_LIMIT) {
    check.fact = "the code range " + range + " does not end in the flash";
    const Advice advice = rangeEndNotFlashCause(range);
    problem = advice.text;
    cause = advice.rule;
    return false;
  }
  if (codeEnd > layout.end) {
    problem = "the code range " + range + " runs " + std::to_string(codeEnd - layout.end) +
              " bytes past the end of the flash content the ELF loads, " + hexText(layout.end) +
              " (" + std::string(staleText(source)) + ")";
    cause = Rule::rangePastFlashContent;
    return false;
  }
  return true;
}

bool checkCodeBytes(ElfReader& elf, const ImageHeader& header, std::span<const char> code,
                    ElfCheck& check) {
  std::string& problem = check.problem;
  const std::uint64_t codeStart = header.addrExe;
  const std::uint64_t codeEnd = codeStart + code.size();
  std::array<char, 4096> bytes{};
  for (std::uint32_t i = 0; i < elf.segmentCount(); ++i) {
    ElfSegment s;
    if (!elf.loadSegment(i, s)) {
      continue;
    }
    const std::uint64_t from = std::max<std::uint64_t>(s.physicalAddress, codeStart);
    const std::uint64_t to = std::min(std::uint64_t{s.physicalAddress} + s.fileSize, codeEnd);
    for (std::uint64_t at = from; at < to;) {
      const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), to - at));
      const std::uint64_t fileOffset = s.offset + (at - s.physicalAddress);
      if (!elf.readAt(fileOffset, std::span<char>(bytes.data(), n))) {
        problem = "the ELF file can't be read at offset " + hexText(fileOffset, 1);
        return false;
      }
      const auto image = code.subspan(static_cast<std::size_t>(at - codeStart), n);
      const auto differ =
          std::mismatch(bytes.begin(), bytes.begin() + static_cast<long>(n), image.begin());
      if (differ.first != bytes.begin() + static_cast<long>(n)) {
        const std::uint64_t address = at + static_cast<std::uint64_t>(differ.first - bytes.begin());
        const std::uint64_t inFile = s.offset + (address - s.physicalAddress);
        const std::uint64_t used = derivedOffsetOf(header, address);
        check.fact = "the code differs from the ELF at " + hexText(address) + " (code byte " +
                     std::to_string(address - codeStart) + ")";
        problem = check.fact;
        if (inFile != used) {
          problem += ": the ELF file holds that byte at offset " + hexText(inFile, 1) + ", not " +
                     hexText(used, 1);
          const Advice fix = layoutCause(elf, flashLayout(elf, header), header);
          if (!fix.text.empty()) {
            problem += "; " + fix.text;
            check.cause = fix.rule;
          }
        }
        return false;
      }
      at += n;
    }
  }
  return true;
}

}  // namespace

bool runsInMissingRam(const ElfSection& s) {
  if (s.address == 0 || (s.address >= RAM_BASE && s.address <= RAM_LIMIT) ||
      inFlashWindow(s.address) || s.name == ".data" || s.name == ".bss") {
    return false;
  }
  constexpr std::uint32_t kWrite = 1;  // SHF_WRITE
  const bool copied = s.loaded && s.loadAddress != s.address;
  const bool zeroed = !s.hasContent() && s.allocated() && s.size > 0;
  const bool writable = (s.flags & kWrite) != 0 && s.size > 0;
  return copied || zeroed || writable || (s.size == 0 && inSramWindow(s.address));
}

// Into .data where the flash holds its initial values, into .bss where it
// is zeroed; for an empty one only the script tells.
FlashLoadProblem missingRamProblem(const ElfSection& s) {
  const bool initialised = s.loaded && s.loadAddress != s.address;
  const std::string_view into = !s.hasContent() && s.size > 0 ? ".bss"
                                : initialised                 ? ".data"
                                                              : ".data or .bss";
  FlashLoadProblem problem;
  problem.rule = Rule::ramBankMissing;
  problem.what =
      s.name + " runs at " + hexText(s.address) + " (" + std::to_string(s.size) +
      (s.size == 1 ? " byte" : " bytes") + "), outside the device's RAM (" + hexText(RAM_BASE) +
      "-" + hexText(RAM_LIMIT) + ") and the flash: the firmware " +
      (s.size == 0 ? "would fault on what a later build puts there" : "would fault there");
  problem.fix = fixText(Rule::ramBankMissing, {s.name, into});
  problem.section = s.name;
  return problem;
}

namespace {

// .data and .bss must run in the device's RAM: elsewhere (in the flash,
// where a script without MEMORY left the location counter) the start-up
// code's copy and zeroing keep nothing, and the RAM check, which reads the
// map's RAM lines, measured something else. A .bss that starts in RAM and
// runs past its end is the RAM check's to refuse.
bool checkRamRuns(const ElfReader& elf, FlashLoadProblem& problem) {
  for (const ElfSection& s : elf.sections()) {
    if (!s.allocated() || s.size == 0 || (s.name != ".data" && s.name != ".bss") ||
        (s.address >= RAM_BASE && s.address < RAM_LIMIT)) {
      continue;
    }
    problem.rule = Rule::ramDataOutsideRam;
    problem.what = s.name + " runs at " + hexText(s.address) + ", outside the device's RAM (" +
                   hexText(RAM_BASE) + "-" + hexText(RAM_LIMIT) +
                   "): the firmware's RAM data would not be in RAM, and the RAM report measured "
                   "nothing";
    problem.fix = fixText(Rule::ramDataOutsideRam, {s.name});
    return false;
  }
  // Nor may anything else with bytes run in RAM the device lacks.
  for (const ElfSection& s : elf.sections()) {
    if (s.size > 0 && runsInMissingRam(s)) {
      problem = missingRamProblem(s);
      return false;
    }
  }
  return true;
}

}  // namespace

ElfCheck checkElfAgainstHeader(ElfReader& reader, const ImageHeader& header, HeaderSource source) {
  ElfCheck check;
  switch (reader.open(check.problem)) {
    case ElfOpen::notElf:
      return check;
    case ElfOpen::unreadable:
      check.verdict = ElfVerdict::unreadable;
      return check;
    case ElfOpen::ok:
      break;
  }
  check.symbolsChecked = reader.hasSymbols();
  if (reader.fileType() == ElfReader::kRelocatable) {
    check.inputHint =
        "is a relocatable object (a .o file), not a linked program: give the ELF file the link "
        "writes";
  }
  const bool agrees =
      checkSymbols(reader, header, source, check) && checkRange(reader, header, source, check);
  check.verdict = agrees ? ElfVerdict::agrees : ElfVerdict::disagrees;
  return check;
}

void checkCodeAgainstElf(ElfReader& reader, const ImageHeader& header, std::span<const char> code,
                         ElfCheck& check) {
  if (check.verdict == ElfVerdict::agrees && !checkCodeBytes(reader, header, code, check)) {
    check.verdict = ElfVerdict::disagrees;
  }
}

bool zerosWrittenBefore(const ElfReader& elf, ZerosWritten& zeros) {
  for (std::uint32_t i = 0; i < elf.segmentCount(); ++i) {
    ElfSegment s;
    if (!elf.loadSegment(i, s) || s.fileSize == 0 || !inFlashWindow(s.physicalAddress) ||
        !inSramWindow(s.virtualAddress)) {
      continue;
    }
    const std::uint64_t fileEnd = std::uint64_t{s.virtualAddress} + s.fileSize;
    std::uint64_t contentEnd = s.virtualAddress;
    const ElfSection* empty = nullptr;
    for (const ElfSection& section : elf.sections()) {
      if (section.loaded && section.address >= s.virtualAddress && section.address < fileEnd) {
        contentEnd = std::max<std::uint64_t>(contentEnd, section.address + section.size);
      }
      if (section.allocated() && section.hasContent() && section.size == 0 &&
          section.address == fileEnd) {
        empty = &section;
      }
    }
    if (empty != nullptr && contentEnd < fileEnd) {
      zeros = {empty->name, s.physicalAddress + (contentEnd - s.virtualAddress),
               fileEnd - contentEnd};
      return true;
    }
  }
  return false;
}

bool isReservation(ElfReader& elf, const ElfSection& section) {
  return inSramWindow(section.address) && section.hasContent() &&
         elf.zeroBytes(section.offset, section.size);
}

bool checkFlashLoads(ElfReader& elf, FlashLoadProblem& problem) {
  return checkOutsideFlash(elf, problem) && checkPastFlashEnd(elf, problem) &&
         checkOverlaps(elf, problem) && checkRamRuns(elf, problem);
}

bool definitionAgrees(const ElfDefinition& definition, std::uint32_t value) {
  // A Thumb function's symbol carries bit 0, which GNU ld's map leaves out
  // and LLD's keeps; either way it names the same instruction. Data has no
  // such bit: a table one byte off is read one byte off.
  const std::uint32_t ignored = definition.function ? 1u : 0u;
  return ((definition.value ^ value) & ~ignored) == 0;
}

bool localAgrees(const ElfSymbol& symbol, std::uint32_t value) {
  return std::any_of(
      symbol.locals.begin(), symbol.locals.end(),
      [value](const ElfDefinition& local) { return definitionAgrees(local, value); });
}

SymbolAgreement compareSymbol(const ElfSymbol& symbol, std::uint32_t value) {
  if (symbol.defined) {
    return definitionAgrees({symbol.value, symbol.function}, value) ? SymbolAgreement::agrees
                                                                    : SymbolAgreement::differs;
  }
  if (symbol.locals.empty()) {
    return SymbolAgreement::absent;
  }
  return localAgrees(symbol, value) ? SymbolAgreement::agrees : SymbolAgreement::localDiffers;
}

ElfCheck checkElfAgainstHeader(std::istream& elf, std::uint64_t length, const ImageHeader& header,
                               HeaderSource source) {
  ElfReader reader(elf, length);
  return checkElfAgainstHeader(reader, header, source);
}

ElfCheck checkImageAgainstElf(std::istream& elf, std::uint64_t length, const ImageHeader& header,
                              std::span<const char> code, HeaderSource source) {
  ElfReader reader(elf, length);
  ElfCheck check = checkElfAgainstHeader(reader, header, source);
  checkCodeAgainstElf(reader, header, code, check);
  return check;
}

std::string describeMisplacedCode(const ElfReader& reader, const ImageHeader& header, Rule* cause) {
  for (std::uint32_t i = 0; i < reader.segmentCount(); ++i) {
    ElfSegment s;
    if (!reader.loadSegment(i, s) || header.addrExe < s.physicalAddress ||
        header.addrExe - s.physicalAddress >= s.fileSize) {
      continue;
    }
    const std::uint64_t inFile = std::uint64_t{s.offset} + (header.addrExe - s.physicalAddress);
    const std::uint32_t derived = elfCodeOffset(header.addrExe);
    if (inFile == derived) {
      return {};
    }
    std::string problem = "the ELF holds the code at file offset " + hexText(inFile, 1) + ", not " +
                          hexText(derived, 1);
    const Advice fix = layoutCause(reader, flashLayout(reader, header), header);
    if (!fix.text.empty()) {
      problem += "; " + fix.text;
    }
    if (cause != nullptr) {
      *cause = fix.rule;
    }
    return problem;
  }
  return {};
}

FileLayout checkFileLayout(const ElfReader& reader, const ImageHeader& header) {
  FileLayout result;
  FlashPart part;
  for (std::uint32_t i = 0; i < reader.segmentCount(); ++i) {
    if (!flashPart(reader, i, part) || part.to <= header.addrExe) {
      continue;
    }
    const std::uint64_t from = std::max<std::uint64_t>(part.from, header.addrExe);
    const std::uint64_t inFile = part.segment.offset + (from - part.segment.physicalAddress);
    const std::uint64_t derived = derivedOffsetOf(header, from);
    if (inFile != derived && (result.oneBlock || from < result.address)) {
      result = {false, from, inFile, derived, ""};
    }
  }
  if (!result.oneBlock) {
    const Advice fix = layoutCause(reader, flashLayout(reader, header), header);
    result.fix = fix.text;
    result.rule = fix.rule;
  }
  return result;
}

}  // namespace pakforge
