#include "elf/elf_reader.h"

#include <algorithm>

namespace pakforge {
namespace {

constexpr std::size_t kElfHeaderSize = 52;
constexpr std::uint32_t kProgramHeaderSize = 32;
constexpr std::uint32_t kSectionHeaderSize = 40;
constexpr std::uint32_t kSymbolSize = 16;
constexpr std::uint32_t kLoadSegment = 1;  // PT_LOAD
constexpr std::uint32_t kSymbolTable = 2;  // SHT_SYMTAB
constexpr std::uint32_t kStringTable = 3;  // SHT_STRTAB
constexpr unsigned kBindGlobal = 1;
constexpr unsigned kBindWeak = 2;

std::uint32_t word(std::span<const char> bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (std::size_t i = 4; i-- > 0;) {
    value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  }
  return value;
}

std::uint32_t half(std::span<const char> bytes, std::size_t at) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at]) |
                                    (static_cast<unsigned char>(bytes[at + 1]) << 8));
}

}  // namespace

bool ElfReader::readAt(std::uint64_t offset, std::span<char> out) {
  if (!fits(offset, out.size())) {
    return false;
  }
  file_.clear();
  file_.seekg(static_cast<std::streamoff>(offset), std::ios::beg);
  file_.read(out.data(), static_cast<std::streamsize>(out.size()));
  return file_.gcount() == static_cast<std::streamsize>(out.size());
}

bool ElfReader::open() {
  std::array<char, kElfHeaderSize> header{};
  if (!readAt(0, header)) {
    return false;
  }
  // The magic, 32-bit class, little-endian data.
  if (std::string_view(header.data(), 4) !=
          "\x7F"
          "ELF" ||
      header[4] != 1 || header[5] != 1) {
    return false;
  }
  programOffset_ = word(header, 28);
  sectionOffset_ = word(header, 32);
  const std::uint32_t programEntry = half(header, 42);
  programCount_ = half(header, 44);
  const std::uint32_t sectionEntry = half(header, 46);
  sectionCount_ = half(header, 48);
  if (programCount_ > 0 &&
      (programEntry != kProgramHeaderSize ||
       !fits(programOffset_, std::uint64_t{programCount_} * kProgramHeaderSize))) {
    return false;
  }
  if (sectionCount_ > 0 &&
      (sectionEntry != kSectionHeaderSize ||
       !fits(sectionOffset_, std::uint64_t{sectionCount_} * kSectionHeaderSize))) {
    return false;
  }
  haveSymbols_ = findSymbolTable();
  return true;
}

bool ElfReader::loadSegment(std::uint32_t index, ElfSegment& segment) {
  std::array<char, kProgramHeaderSize> entry{};
  if (index >= programCount_ ||
      !readAt(programOffset_ + std::uint64_t{index} * kProgramHeaderSize, entry) ||
      word(entry, 0) != kLoadSegment) {
    return false;
  }
  segment = {word(entry, 4), word(entry, 12), word(entry, 16)};
  return true;
}

bool ElfReader::findSymbolTable() {
  std::array<char, kSectionHeaderSize> entry{};
  // Section 0 is reserved: never a table, whatever it holds.
  for (std::uint32_t i = 1; i < sectionCount_; ++i) {
    if (!readAt(sectionOffset_ + std::uint64_t{i} * kSectionHeaderSize, entry) ||
        word(entry, 4) != kSymbolTable) {
      continue;
    }
    symbolsOffset_ = word(entry, 16);
    symbolsSize_ = word(entry, 20);
    const std::uint32_t link = word(entry, 24);
    if (word(entry, 36) != kSymbolSize || !fits(symbolsOffset_, symbolsSize_) ||
        link >= sectionCount_ ||
        !readAt(sectionOffset_ + std::uint64_t{link} * kSectionHeaderSize, entry) ||
        word(entry, 4) != kStringTable) {
      return false;
    }
    stringsOffset_ = word(entry, 16);
    stringsSize_ = word(entry, 20);
    return fits(stringsOffset_, stringsSize_);
  }
  return false;
}

bool ElfReader::findGlobalSymbols(std::span<const std::string_view> names, std::span<bool> found,
                                  std::span<std::uint32_t> values) {
  std::fill(found.begin(), found.end(), false);
  if (!haveSymbols_) {
    return false;
  }
  std::size_t longest = 0;
  for (const std::string_view name : names) {
    longest = std::max(longest, name.size());
  }
  // Weak definitions count only where no global one is found.
  std::array<bool, 8> global{};
  constexpr std::uint32_t kBatch = 256;
  std::array<char, std::size_t{kBatch} * kSymbolSize> batch{};
  const std::uint32_t count = symbolsSize_ / kSymbolSize;
  for (std::uint32_t first = 0; first < count; first += kBatch) {
    const std::uint32_t n = std::min(kBatch, count - first);
    const std::span<char> entries(batch.data(), std::size_t{n} * kSymbolSize);
    if (!readAt(symbolsOffset_ + std::uint64_t{first} * kSymbolSize, entries)) {
      return false;
    }
    for (std::uint32_t k = 0; k < n; ++k) {
      const std::span<const char> symbol = entries.subspan(std::size_t{k} * kSymbolSize);
      const unsigned bind = static_cast<unsigned char>(symbol[12]) >> 4;
      const std::uint32_t nameAt = word(symbol, 0);
      // Local symbols never count: a file's own `static` loop is not the
      // loop the loader calls. Nor do undefined ones.
      if ((bind != kBindGlobal && bind != kBindWeak) || half(symbol, 14) == 0 ||
          nameAt >= stringsSize_) {
        continue;
      }
      // The name with its terminating zero, or as much as the table holds.
      const std::size_t take = std::min<std::size_t>(longest + 1, stringsSize_ - nameAt);
      if (nameAt < stringsWindowStart_ ||
          nameAt + take > stringsWindowStart_ + stringsWindowSize_) {
        stringsWindowStart_ = nameAt;
        stringsWindowSize_ = std::min<std::size_t>(stringsWindow_.size(), stringsSize_ - nameAt);
        if (!readAt(std::uint64_t{stringsOffset_} + nameAt,
                    std::span<char>(stringsWindow_.data(), stringsWindowSize_))) {
          return false;
        }
      }
      const std::string_view name(stringsWindow_.data() + (nameAt - stringsWindowStart_), take);
      for (std::size_t i = 0; i < names.size() && i < global.size(); ++i) {
        const std::string_view wanted = names[i];
        if (take > wanted.size() && name[wanted.size()] == '\0' &&
            name.substr(0, wanted.size()) == wanted && !(found[i] && global[i])) {
          found[i] = true;
          global[i] = bind == kBindGlobal;
          values[i] = word(symbol, 4);
        }
      }
    }
  }
  return true;
}

}  // namespace pakforge
