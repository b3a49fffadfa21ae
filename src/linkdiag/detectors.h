// What the link diagnosis's detectors share: the facts of the ELF file they
// read (its sections, where each is loaded, the five symbols), a few words
// to write findings with, and each topic's detector. Inside the
// diagnosis only; its users see link_diagnosis.h.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "elf/elf_check.h"
#include "elf/elf_reader.h"
#include "linkdiag/link_diagnosis.h"

namespace pakforge::detect {

// An allocated section and where it is loaded.
struct Section {
  ElfSection header;
  bool loaded = false;
  std::uint64_t loadAddress = 0;
  // For a RAM section with bytes in the file: whether they are all zero (a
  // reservation), or contents (code or initial values).
  bool zero = false;
  // For a flash section: whether its bytes are all one value, room kept by
  // a FILL (a boot loader's header, written after the link).
  bool filled = false;
};

struct ElfFacts {
  std::vector<Section> sections;
  // The first section of each name, for lookups that stay cheap however
  // many sections a file has.
  std::unordered_map<std::string_view, std::size_t> byName;
  bool symbolsChecked = false;
  std::uint32_t definedSymbols = 0;
  std::array<ElfSymbol, kRequiredSymbolCount> symbols{};
  // The first of kEndNameChoices whose names the symbol table lacks.
  const EndNames* endNames = &kEndNameChoices.front();
  // The zeros of .bss that LLD writes into the flash, when it does.
  bool zerosWritten = false;
  ZerosWritten zeros;
  // Sections, other than .data and .bss, that run in RAM the device lacks
  // (a second bank of a larger part): empty ones too, which the linkers
  // may keep unallocated or give a code section's flags.
  std::vector<ElfSection> missingRam;
};

// The flash the device holds below ROM_LIMIT.
bool inFlash(std::uint64_t address);
std::string_view firstWordOf(std::string_view text);
std::string join(std::initializer_list<std::string_view> parts);
// "map line N ('TEXT')".
std::string quoted(const MapLine& line);
// "N bytes", "1 byte".
std::string bytes(std::uint64_t n);
std::string spanText(const FlashSpan& span);

// Every section of the file, and its symbols.
void readElf(ElfReader& reader, ElfFacts& facts);
// What the ELF file loads into the flash, by section where it names them,
// by segment where it does not (a stripped file), by address.
std::vector<FlashSpan> flashSpans(ElfReader& reader, const ElfFacts& facts);
const Section* sectionHolding(const ElfFacts& facts, std::uint64_t address);
const Section* sectionNamed(const ElfFacts& facts, std::string_view name);

// A finding of `rule`, added to the diagnosis; whether it has one.
LinkFinding& add(LinkDiagnosis& d, Rule rule, std::string what, std::string fix);
bool has(const LinkDiagnosis& d, Rule rule);

// The end of the code range as the lines to write, with the names the link
// has free, as `f`'s lines, and the alignment they keep as its payload:
// before .data, and .data placed at their load address. `align` is the RAM
// data's alignment: the file keeps it for the initial values.
void setEndLines(LinkFinding& f, const LinkDiagnosis& d, const ElfFacts& facts,
                 std::uint32_t align);
// The RAM data's own section: the RAM section loaded into the flash.
std::string ramDataSectionOf(const ElfFacts& facts);
// Whether the last assignment of the location counter before the RAM
// data's section leaves it outside the flash.
bool counterLeftFlash(const MapOutline& o, const ElfFacts& facts);
// The sections right after the RAM data's that the flash loads too (a
// ".tdata" > RAM AT> FLASH): one image with .data, which start-up code may
// copy in one go, so the end lines load them at the same offsets.
std::vector<std::string> copiedAfterData(const MapOutline& o, const ElfFacts& facts,
                                         const ScriptSays& script);
// A RAM section listed between the flash sections and .data that the fix
// of PF208 moves after it: its lines can end the code range.
bool movedAfterData(const MapOutline& o, const MapSection& section);
// The alignment of the RAM data whose initial values the flash holds.
std::uint32_t ramDataAlignment(const ElfFacts& facts);

// The detectors, by topic, in the order the diagnosis runs them.
void codeStartFindings(LinkDiagnosis& d, const MapOutline& o,
                       const ElfFacts& facts);                           // code_range.cpp
void flashBeforeRangeFindings(LinkDiagnosis& d, const ElfFacts& facts);  // code_range.cpp
void symbolFindings(LinkDiagnosis& d, const ElfFacts& facts);            // symbols.cpp
void dataLineFindings(LinkDiagnosis& d, const ElfFacts& facts);          // range_end.cpp
void noDataLineFindings(LinkDiagnosis& d, const ElfFacts& facts);        // range_end.cpp
void rangeEndFindings(LinkDiagnosis& d, const ElfFacts& facts);          // range_end.cpp
void offsetFindings(LinkDiagnosis& d, const ElfFacts& facts,
                    const ElfReader& elf);                         // file_offset.cpp
void alignmentFindings(LinkDiagnosis& d, const ElfFacts& facts);   // file_offset.cpp
void ramFindings(LinkDiagnosis& d, const ElfFacts& facts);         // ram.cpp
void missingRamFindings(LinkDiagnosis& d, const ElfFacts& facts);  // ram.cpp
void firmwareFindings(LinkDiagnosis& d, ElfReader& reader);        // firmware.cpp

}  // namespace pakforge::detect
