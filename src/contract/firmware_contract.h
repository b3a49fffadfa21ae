// The firmware's contract: what a changed link must keep of the team's
// first link for the firmware to run as it did. An image equal to what the
// ELF file loads is necessary, not enough: the vector table can have moved
// off the address the vector table register points at, the RAM data can
// run in the flash, or a symbol the start-up code copies or zeroes with can
// mark something else, and the device is dead all the same. aelfdump --fix
// checks every relinked ELF file against the first link with this before it
// calls a round correct or writes anything.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "elf/elf_reader.h"

namespace pakforge::contract {

// A symbol the linker scripts define, and where its statement stands.
struct ScriptSymbol {
  std::string name;
  // The output section whose body sets it; empty outside any.
  std::string section;
  // Its expression takes SIZEOF(...).
  bool sizeOf = false;
  // The sections its expression names, each with the function that names
  // it ("LOADADDR", ".data"), and whether it reads the location counter.
  std::vector<std::pair<std::string, std::string>> named;
  bool dot = false;
  // Set by PROVIDE: defined only where something refers to it.
  bool provided = false;
  // In a section's body: no statement that places contents (a pattern, a
  // KEEP, a LONG) stands before it, or after it. Only then can it mark the
  // section's start, or its end.
  bool first = true;
  bool last = true;
  // Outside any section: the output section just before it in its block
  // ("__rodata_region_end = .;" after rodata), whose end it can mark even
  // where that section was empty in the team's link.
  std::string follows = {};
};

// What the scripts of one link say that the contract keeps.
struct ScriptFacts {
  std::vector<ScriptSymbol> symbols;
  std::vector<std::string> keeps;     // every KEEP(...), without spaces
  std::vector<std::string> discards;  // every statement of a /DISCARD/ body, without spaces
  std::size_t asserts = 0;
};

// Reads the facts of each text (a script and the files it INCLUDEs); false,
// with the error, when one can't be read as a script.
bool readScriptFacts(const std::vector<std::string>& texts, ScriptFacts& facts, std::string& error);

// The vector table of a link (see findVectorTable).
struct VectorTable {
  std::string name;     // the object's name, or empty
  std::string section;  // its section's name
  std::uint64_t address = 0;
  std::uint32_t alignment = 1;
  std::uint64_t offset = 0;  // of the object from the table's start
};

// What one linked ELF file shows of the firmware.
struct LinkFacts {
  std::vector<ElfSection> sections;
  std::vector<ElfSymbolEntry> symbols;
  // The lowest flash address the file loads bytes at, and the two words
  // there (a vector table's stack top and reset handler).
  bool haveFlash = false;
  std::uint64_t flashStart = 0;
  bool haveWords = false;
  std::uint32_t words[2] = {0, 0};
  // An object whose first two words are a stack top in RAM and a Thumb
  // address in the flash, as a vector table's are, whatever its name.
  bool haveShapedTable = false;
  VectorTable shapedTable;
};

// Reads the file; false, with why, when it can't be read as an ELF file
// with a symbol table.
bool readLinkFacts(const std::string& elfPath, LinkFacts& facts, std::string& error);
// The same from a reader already opened; false when it has no symbol table.
bool readLinkFacts(ElfReader& reader, LinkFacts& facts);

enum class Invariant {
  symbolMeaning,     // every symbol of the scripts marks what it marked
  vectorTableFirst,  // the vector table stands at the code start
  ramDataInRam,      // what ran in RAM runs in the device's RAM
  stackTopInRam,     // the initial stack pointer and the stack top lie in it
  nothingLost,       // every KEEP, ASSERT, /DISCARD/ and placed object stays
};
// The invariant's words: "the vector table stays first".
std::string_view invariantText(Invariant invariant);

struct Breach {
  Invariant invariant = Invariant::symbolMeaning;
  std::string what;  // the symbol or section, with both links' addresses
};

// The breaches of `fixed` (and its scripts) against `first`, the team's
// link as it came, in the order of the invariants above. The fixed link's
// code start is its lowest flash address (pakforge accepted it).
std::vector<Breach> checkContract(const LinkFacts& first, const ScriptFacts& firstScripts,
                                  const LinkFacts& fixed, const ScriptFacts& fixedScripts);

// The vector table of a link: a sized object in the flash whose name or
// section's name says so; else an object shaped as one (read from the
// file); else what stands at the lowest flash address when its first two
// words are a stack top and a Thumb reset handler. False when the link
// shows none.
bool findVectorTable(const LinkFacts& link, VectorTable& table);

// Whether [address, address + size) lies in the device's RAM.
bool inDeviceRam(std::uint64_t address, std::uint64_t size);

}  // namespace pakforge::contract
