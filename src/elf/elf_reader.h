// Reading the few parts of a 32-bit little-endian ELF file that say what it
// loads into the device: its program headers, its sections and its symbols.
// The file is untrusted: every offset, count and size is checked against the
// file's length, in 64-bit arithmetic, before it is used, and nothing is
// allocated from a field that was not checked. A file that begins with the
// ELF magic but can't be read so is "unreadable", with the reason; it is
// never guessed at. The header tables are read once, when the file is
// opened, and every later question is answered from memory: a file with
// tens of thousands of segments and sections costs a sort, never a seek per
// pair of them.
#pragma once

#include <array>
#include <cstdint>
#include <istream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

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
  // The largest alignment of the allocated sections whose file bytes start
  // in it (1 when none does).
  std::uint32_t sectionAlignment = 1;
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
  std::uint32_t link = 0;
  std::uint32_t alignment = 0;
  std::uint32_t entrySize = 0;
  // Where its file bytes go: the physical address from the first loadable
  // segment that holds them (an allocated section with content only).
  bool loaded = false;
  std::uint64_t loadAddress = 0;
  bool allocated() const { return (flags & 2) != 0; }  // SHF_ALLOC
  bool hasContent() const { return type != 8; }        // not SHT_NOBITS
};

// One definition of a symbol: its value, and whether it is a function
// (STT_FUNC), whose value carries the Thumb bit.
struct ElfDefinition {
  std::uint32_t value = 0;
  bool function = false;
};

// What the symbol table defines under one name: its global (or, failing
// that, weak) definition, and separately every local one.
struct ElfSymbol {
  bool defined = false;
  bool weak = false;
  std::uint32_t value = 0;
  bool function = false;
  std::vector<ElfDefinition> locals;
  bool local() const { return !locals.empty(); }
  std::uint32_t localValue() const { return locals.empty() ? 0 : locals.front().value; }
};

// One entry of the symbol table that defines something: what
// ElfReader::allSymbols lists.
struct ElfSymbolEntry {
  std::string name;
  std::uint32_t value = 0;
  std::uint32_t size = 0;
  std::uint32_t section = 0;  // the section header index; 0xFFF1 for an absolute value
  unsigned type = 0;          // STT_OBJECT 1, STT_FUNC 2, STT_SECTION 3, STT_FILE 4
  bool local = false;
  static constexpr std::uint32_t kAbsolute = 0xFFF1;
  bool object() const { return type == 1 || type == 2; }
};

enum class ElfOpen { ok, notElf, unreadable };

class ElfReader {
 public:
  // `file` holds `length` bytes from its start.
  ElfReader(std::istream& file, std::uint64_t length) : file_(file), length_(length) {}

  // Reads the ELF header and the program and section header tables, and
  // checks every loadable segment's bytes and the symbol table. `notElf`
  // when the file does not begin with the ELF magic; `unreadable`, with
  // `reason` set, when it does but is no 32-bit little-endian ELF file that
  // can be read whole: another class or byte order, a table, a segment or
  // the symbol table running past the end of the file (a file cut short), an
  // entry size other than the standard one, a symbol table linked to no
  // string table, counts kept in section 0 (extended numbering) that can't
  // be read, a table of more than a million entries.
  ElfOpen open(std::string& reason);

  std::uint32_t segmentCount() const { return static_cast<std::uint32_t>(programs_.size()); }
  // Segment `index`, when it is a loadable one.
  bool loadSegment(std::uint32_t index, ElfSegment& segment) const;

  // Every section header, section 0 (reserved) included.
  const std::vector<ElfSection>& sections() const { return sections_; }
  std::uint32_t sectionCount() const { return static_cast<std::uint32_t>(sections_.size()); }
  bool section(std::uint32_t index, ElfSection& section) const;

  // Whether the file has a symbol table (a stripped one has none).
  bool hasSymbols() const { return haveSymbols_; }
  // How many symbols it defines, counted by the last findSymbols.
  std::uint32_t definedSymbols() const { return definedSymbols_; }
  // e_type: 1 for a relocatable object (a .o file), 2 for a linked program.
  std::uint32_t fileType() const { return type_; }
  static constexpr std::uint32_t kRelocatable = 1;

  // Reads `out.size()` bytes from `offset`; false unless all are there.
  bool readAt(std::uint64_t offset, std::span<char> out);
  // Whether the `size` bytes at `offset` are all zero, or all `value`;
  // false when they can't be read.
  bool zeroBytes(std::uint64_t offset, std::uint64_t size) { return sameBytes(offset, size, 0); }
  bool sameBytes(std::uint64_t offset, std::uint64_t size, char value);

  // For each of `names`, what the symbol table defines under it. False when
  // the file has no symbol table that can be read; a name it does not define
  // is simply not found.
  bool findSymbols(std::span<const std::string_view> names, std::span<ElfSymbol> found);
  // Every symbol the table defines (section and file symbols aside), with
  // names cut to kMaxListedName bytes. False when the file has no symbol
  // table that can be read.
  static constexpr std::size_t kMaxListedName = 256;
  bool allSymbols(std::vector<ElfSymbolEntry>& out);

 private:
  bool fits(std::uint64_t offset, std::uint64_t size) const {
    return offset <= length_ && size <= length_ - offset;
  }
  struct TableCounts {
    std::uint32_t programs = 0;
    std::uint32_t sections = 0;
    std::uint32_t namesIndex = 0;
  };
  bool readExtendedCounts(std::uint32_t sectionOffset, std::uint32_t sectionEntry,
                          TableCounts& counts, std::string& reason);
  bool readPrograms(std::uint32_t offset, std::uint32_t count, std::string& reason);
  bool readSections(std::uint32_t offset, std::uint32_t count, std::uint32_t namesIndex);
  void placeSections();
  bool findSymbolTable(std::string& reason);

  struct Program {
    bool load = false;
    ElfSegment segment;
  };

  std::istream& file_;
  std::uint64_t length_;
  std::vector<Program> programs_;
  std::vector<ElfSection> sections_;
  // The symbol table and its strings, when the file has them.
  bool haveSymbols_ = false;
  std::uint32_t definedSymbols_ = 0;
  std::uint32_t type_ = 0;
  std::uint32_t symbolsOffset_ = 0;
  std::uint32_t symbolsSize_ = 0;
  std::uint32_t stringsOffset_ = 0;
  std::uint32_t stringsSize_ = 0;
  // Up to `longest` bytes of the string at `at` in the string table of
  // `tableSize` bytes at `tableOffset`, served from the table held whole
  // (up to kWholeStringTable bytes; it fits the file, which was checked) or
  // else from a window that is read again only when the string lies outside
  // it; empty when it can't be read.
  std::string_view stringAt(std::uint64_t tableOffset, std::uint32_t tableSize, std::uint32_t at,
                            std::size_t longest);
  // Calls `entry` with each of `count` entries of `size` bytes from
  // `offset`, read a batch at a time; false when they can't be read.
  template <typename Entry>
  bool forEachEntry(std::uint64_t offset, std::uint32_t count, std::uint32_t size, Entry entry);

  static constexpr std::uint32_t kWholeStringTable = 16u << 20;
  std::vector<char> wholeTable_;
  std::uint64_t wholeTableOffset_ = 0;
  std::array<char, 16384> window_{};
  std::uint64_t windowStart_ = 0;
  std::size_t windowSize_ = 0;
};

// The section whose bytes are loaded at `address`; null when the file has
// no section headers or none is loaded there.
const ElfSection* findSectionLoadedAt(const ElfReader& elf, std::uint64_t address);
// Its name, or empty.
std::string sectionLoadedAt(const ElfReader& elf, std::uint64_t address);
const ElfSection* findSectionNamed(const ElfReader& elf, std::string_view name);

// Whether LLVM's LLD made the file: LLD names itself in .comment, GNU ld
// does not.
bool linkedByLld(ElfReader& elf);

}  // namespace pakforge
