// Reading the few parts of a 32-bit little-endian ELF file that say what it
// loads into the device: its program headers and its global symbols. The
// file is untrusted: every offset, count and size is checked against the
// file's length, in 64-bit arithmetic, before it is used, and nothing is
// allocated from a field that was not checked. A file that can't be read so
// is "not readable", never guessed at.
#pragma once

#include <array>
#include <cstdint>
#include <istream>
#include <span>
#include <string_view>

namespace pakforge {

// A loadable segment (PT_LOAD): `fileSize` bytes from file offset `offset`
// go to the device at `physicalAddress`; the rest of its memory size is
// zeroed memory (.bss), never content.
struct ElfSegment {
  std::uint32_t offset = 0;
  std::uint32_t physicalAddress = 0;
  std::uint32_t fileSize = 0;
};

class ElfReader {
 public:
  // `file` holds `length` bytes from its start.
  ElfReader(std::istream& file, std::uint64_t length) : file_(file), length_(length) {}

  // Reads the ELF header and checks the program and section header tables.
  // False when the file is no 32-bit little-endian ELF file or its headers
  // can't be read as one: another class or byte order, a table running past
  // the end of the file, an entry size other than the standard one.
  bool open();

  std::uint32_t segmentCount() const { return programCount_; }
  // Segment `index`, when it is a loadable one.
  bool loadSegment(std::uint32_t index, ElfSegment& segment);

  // Reads `out.size()` bytes from `offset`; false unless all are there.
  bool readAt(std::uint64_t offset, std::span<char> out);

  // For each of `names`, the value of its global (or, failing that, weak)
  // definition in the symbol table. False when the file has no symbol table
  // that can be read; a name it does not define is simply not found.
  template <std::size_t N>
  bool findGlobalSymbols(const std::array<std::string_view, N>& names, std::array<bool, N>& found,
                         std::array<std::uint32_t, N>& values) {
    return findGlobalSymbols(std::span<const std::string_view>(names), std::span<bool>(found),
                             std::span<std::uint32_t>(values));
  }
  bool findGlobalSymbols(std::span<const std::string_view> names, std::span<bool> found,
                         std::span<std::uint32_t> values);

 private:
  bool fits(std::uint64_t offset, std::uint64_t size) const {
    return offset <= length_ && size <= length_ - offset;
  }
  bool findSymbolTable();

  std::istream& file_;
  std::uint64_t length_;
  std::uint32_t programOffset_ = 0;
  std::uint32_t programCount_ = 0;
  std::uint32_t sectionOffset_ = 0;
  std::uint32_t sectionCount_ = 0;
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

}  // namespace pakforge
