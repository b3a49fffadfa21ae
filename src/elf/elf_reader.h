// Reading the few parts of a 32-bit little-endian ELF file that say what it
// loads into the device: its program headers, its sections and its symbols.
// The file is untrusted: every offset, count and size is checked against the
// file's length, in 64-bit arithmetic, before it is used, and nothing is
// allocated from a field that was not checked. A file that begins with the
// ELF magic but can't be read so is "unreadable", with the reason; it is
// never guessed at.
#pragma once

#include <array>
#include <cstdint>
#include <istream>
#include <span>
#include <string>
#include <string_view>

namespace pakforge {

// A loadable segment (PT_LOAD): `fileSize` bytes from file offset `offset`
// go to the device at `physicalAddress`; the rest of its memory size is
// zeroed memory (.bss), never content. `virtualAddress` is where the code
// runs: for the initial values of .data, in RAM.
struct ElfSegment {
  std::uint32_t offset = 0;
  std::uint32_t physicalAddress = 0;
  std::uint32_t fileSize = 0;
  std::uint32_t virtualAddress = 0;
  std::uint32_t memorySize = 0;
  std::uint32_t alignment = 0;
};

// A section header, with its name (cut to kMaxSectionName bytes).
struct ElfSection {
  static constexpr std::size_t kMaxSectionName = 64;
  std::string name;
  std::uint32_t type = 0;
  std::uint32_t flags = 0;
  std::uint32_t address = 0;
  std::uint32_t offset = 0;
  std::uint32_t size = 0;
  std::uint32_t alignment = 0;
  bool allocated() const { return (flags & 2) != 0; }  // SHF_ALLOC
  bool hasContent() const { return type != 8; }        // not SHT_NOBITS
};

// What the symbol table defines under one name: its global (or, failing
// that, weak) definition, and separately a local one.
struct ElfSymbol {
  bool defined = false;
  bool weak = false;
  std::uint32_t value = 0;
  bool local = false;
  std::uint32_t localValue = 0;
};

enum class ElfOpen { ok, notElf, unreadable };

class ElfReader {
 public:
  // `file` holds `length` bytes from its start.
  ElfReader(std::istream& file, std::uint64_t length) : file_(file), length_(length) {}

  // Reads the ELF header and checks the program and section header tables
  // and every loadable segment's bytes. `notElf` when the file does not
  // begin with the ELF magic; `unreadable`, with `reason` set, when it does
  // but is no 32-bit little-endian ELF file that can be read whole: another
  // class or byte order, a table or a segment running past the end of the
  // file (a file cut short), an entry size other than the standard one.
  ElfOpen open(std::string& reason);

  std::uint32_t segmentCount() const { return programCount_; }
  // Segment `index`, when it is a loadable one.
  bool loadSegment(std::uint32_t index, ElfSegment& segment);

  std::uint32_t sectionCount() const { return sectionCount_; }
  bool section(std::uint32_t index, ElfSection& section);

  // Whether the file has a symbol table that can be read.
  bool hasSymbols() const { return haveSymbols_; }

  // Reads `out.size()` bytes from `offset`; false unless all are there.
  bool readAt(std::uint64_t offset, std::span<char> out);

  // For each of `names`, what the symbol table defines under it. False when
  // the file has no symbol table that can be read; a name it does not define
  // is simply not found.
  bool findSymbols(std::span<const std::string_view> names, std::span<ElfSymbol> found);

 private:
  bool fits(std::uint64_t offset, std::uint64_t size) const {
    return offset <= length_ && size <= length_ - offset;
  }
  bool checkSegments(std::string& reason);
  bool findSymbolTable();

  std::istream& file_;
  std::uint64_t length_;
  std::uint32_t programOffset_ = 0;
  std::uint32_t programCount_ = 0;
  std::uint32_t sectionOffset_ = 0;
  std::uint32_t sectionCount_ = 0;
  std::uint32_t sectionNamesIndex_ = 0;
  // The symbol table and its strings, when the file has them.
  bool haveSymbols_ = false;
  std::uint32_t symbolsOffset_ = 0;
  std::uint32_t symbolsSize_ = 0;
  std::uint32_t stringsOffset_ = 0;
  std::uint32_t stringsSize_ = 0;
  // Names are read a window of the string table at a time.
  std::array<char, 16384> stringsWindow_{};
  std::size_t stringsWindowStart_ = 0;
  std::size_t stringsWindowSize_ = 0;
};

// Where a section with content is loaded: the physical address its file
// bytes go to, from the loadable segment that holds them. False when no
// segment loads it.
bool sectionLoadAddress(ElfReader& elf, const ElfSection& section, std::uint64_t& loadAddress);

// The section whose bytes are loaded at `address`, and where it is loaded;
// false when the file has no section headers or none is loaded there.
bool findSectionLoadedAt(ElfReader& elf, std::uint64_t address, ElfSection& section,
                         std::uint64_t& loadAddress);
// Its name, or empty.
std::string sectionLoadedAt(ElfReader& elf, std::uint64_t address);
bool findSectionNamed(ElfReader& elf, std::string_view name, ElfSection& section);

// Whether LLVM's LLD made the file: LLD names itself in .comment, GNU ld
// does not.
bool linkedByLld(ElfReader& elf);

}  // namespace pakforge
