// Whether an image's code and header agree with the ELF file they were taken
// from. The map rules and the derived file offset give the right code for
// firmware linked the way they expect; for any other link they can give a
// wrong image, and a device flashed with it boots garbage. This check turns
// that into a failure that says what is wrong and, where the ELF file tells
// the cause, what to change.
#pragma once

#include <cstdint>
#include <istream>
#include <span>
#include <string>

#include "elf/elf_reader.h"
#include "format/image_header.h"
#include "rules/rules.h"

namespace pakforge {

enum class ElfVerdict {
  // The file does not begin with the ELF magic: its bytes are taken as they
  // are, unchecked.
  notElf,
  // It does, but it can't be read as a 32-bit little-endian ELF file whole.
  unreadable,
  agrees,
  disagrees,
};

struct ElfCheck {
  ElfVerdict verdict = ElfVerdict::notElf;
  // Why the file is unreadable, or what disagrees (addresses in hex).
  std::string problem;
  // False when the file has no symbol table (a stripped file): everything
  // else was checked.
  bool symbolsChecked = false;
  // What in the link the disagreement comes from, where the ELF file tells.
  Rule cause = Rule::none;
  // What the file shows, without the cause or the fix: for a code range
  // that leaves out flash content, the bytes left out.
  std::string fact;
  // When the input itself is the cause: what the file is (a relocatable
  // object, a symbol table stripped of a name), to follow "The ELF file
  // 'PATH' " on a line of its own.
  std::string inputHint;
};

// Where the header's addresses came from, for the words of a message:
// pakforge's header from the map file, aelfdump's from a stored image.
enum class HeaderSource { mapFile, image };

// How a header value stands to what the symbol table defines under the
// symbol's name: its global (else weak) definition decides; without one,
// any local definition may; with no definition at all the header's value
// can't be from this link. A function's value may differ in bit 0, the
// Thumb bit; data must be equal.
enum class SymbolAgreement { agrees, differs, localDiffers, absent };
SymbolAgreement compareSymbol(const ElfSymbol& symbol, std::uint32_t value);
// Whether one definition names `value`, bit 0 aside for a function.
bool definitionAgrees(const ElfDefinition& definition, std::uint32_t value);
// Whether any file-local definition of the symbol names `value`.
bool localAgrees(const ElfSymbol& symbol, std::uint32_t value);

// That the content the ELF file loads can be an image's code: nothing is
// loaded outside the flash window (0x08000000 up to 0x10000000) but zero
// bytes loaded where they run, nothing in the flash window past the
// application's flash (ROM_LIMIT), no two segments load bytes at the
// same address, and .data and .bss (of non-zero size) run in the device's
// RAM. On false, `problem` says what, where, and the change that fixes it.
struct FlashLoadProblem {
  Rule rule = Rule::none;
  std::string what;     // what is loaded where
  std::string fix;      // the rule's fix, with what this file names
  std::string section;  // the output section the fix changes, where one does
};
bool checkFlashLoads(ElfReader& elf, FlashLoadProblem& problem);

// Whether a section runs in RAM the device lacks (a second bank of a larger
// part): not .data or .bss, which must run in the device's RAM themselves,
// starting neither there (nor at its end, a stack top's empty section) nor
// in the flash, and RAM by what it is (zeroed, copied from its load
// address, writable). An empty one counts in the SRAM window past the
// device's RAM, a second bank's: its lines name what a later build puts
// there. Elsewhere an empty section may stand wherever the location
// counter was (GNU ld's sections of its own script at 0x8000).
bool runsInMissingRam(const ElfSection& section);
// That section's problem; a build refuses it when the section has bytes.
FlashLoadProblem missingRamProblem(const ElfSection& section);

// Whether a RAM section's bytes in the file are all zero: a reservation (a
// heap, a stack), which wants no load bytes, rather than contents (code run
// from RAM, initial values), which belong with .data's.
bool isReservation(ElfReader& elf, const ElfSection& section);

// The zeros of .bss that LLD writes into the file, loaded into the flash
// after .data's initial values, when a RAM section after .bss with no bytes
// of its own is not NOLOAD: the segment's file bytes then run up to that
// section, over the bytes no section holds.
struct ZerosWritten {
  std::string section;  // the empty section after them
  std::uint64_t loadAddress = 0;
  std::uint64_t size = 0;
};
bool zerosWrittenBefore(const ElfReader& elf, ZerosWritten& zeros);

// What can be checked before the code is read: that the file can be read,
// that each of the five header symbols agrees with the ELF file's symbol
// table (compareSymbol), and that the code range is the span of the flash
// content the ELF loads: it starts where that content starts and ends where
// it ends, and nothing of it lies outside the range or past the
// application's flash (ROM_LIMIT), where no image can carry it. Bytes inside
// the range that no segment loads (holes) are not firmware and are not
// compared.
ElfCheck checkElfAgainstHeader(std::istream& elf, std::uint64_t length, const ImageHeader& header,
                               HeaderSource source = HeaderSource::mapFile);
// The same with a reader of the caller's, not yet opened; it stays open for
// the checks below.
ElfCheck checkElfAgainstHeader(ElfReader& reader, const ImageHeader& header,
                               HeaderSource source = HeaderSource::mapFile);

// All of the above, and then that every code byte at an address a loadable
// segment fills from the file equals that byte. `code` holds the header's
// appSize bytes.
ElfCheck checkImageAgainstElf(std::istream& elf, std::uint64_t length, const ImageHeader& header,
                              std::span<const char> code,
                              HeaderSource source = HeaderSource::mapFile);
// After checkElfAgainstHeader agreed, with the same reader: the code bytes.
void checkCodeAgainstElf(ElfReader& reader, const ImageHeader& header, std::span<const char> code,
                         ElfCheck& check);

// For an open ELF file that agrees with the header but is too short to
// hold the code at the offset derived from addrExe: where the file holds the
// code, and what to change. Empty when it can't tell.
// `cause`, when given, gets the rule of the change (Rule::none when none).
std::string describeMisplacedCode(const ElfReader& reader, const ImageHeader& header,
                                  Rule* cause = nullptr);

// Whether the file holds the flash content as one block from the offset
// derived from addrExe, as pakforge reads it: when not, the lowest flash
// address whose byte is elsewhere, where the file holds it and where
// pakforge reads it, and, where the layout shows the cause, what to change.
struct FileLayout {
  bool oneBlock = true;
  std::uint64_t address = 0;
  std::uint64_t inFile = 0;
  std::uint64_t derived = 0;
  std::string fix;
  Rule rule = Rule::none;
};
FileLayout checkFileLayout(const ElfReader& reader, const ImageHeader& header);

}  // namespace pakforge
