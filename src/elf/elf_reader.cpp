#include "elf/elf_reader.h"

#include <algorithm>

#include "format/hex_text.h"

namespace pakforge {
namespace {

constexpr std::size_t kElfHeaderSize = 52;
constexpr std::uint32_t kProgramHeaderSize = 32;
constexpr std::uint32_t kSectionHeaderSize = 40;
constexpr std::uint32_t kSymbolSize = 16;
constexpr std::uint32_t kLoadSegment = 1;  // PT_LOAD
constexpr std::uint32_t kSymbolTable = 2;  // SHT_SYMTAB
constexpr std::uint32_t kStringTable = 3;  // SHT_STRTAB
constexpr unsigned kBindLocal = 0;
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

ElfOpen ElfReader::open(std::string& reason) {
  std::array<char, kElfHeaderSize> header{};
  std::array<char, 4> magic{};
  if (!readAt(0, magic) || std::string_view(magic.data(), 4) !=
                               "\x7F"
                               "ELF") {
    return ElfOpen::notElf;
  }
  const std::string size = " (" + std::to_string(length_) + " bytes)";
  if (!readAt(0, header)) {
    reason = "the file" + size + " ends inside its 52-byte ELF header";
    return ElfOpen::unreadable;
  }
  if (header[4] != 1) {
    reason = header[4] == 2 ? "it is a 64-bit ELF file; firmware for the device is 32-bit"
                            : "its class byte is " + std::to_string(header[4]) + ", not 1 (32-bit)";
    return ElfOpen::unreadable;
  }
  if (header[5] != 1) {
    reason = "it is not little-endian (data byte " + std::to_string(header[5]) + ")";
    return ElfOpen::unreadable;
  }
  programOffset_ = word(header, 28);
  sectionOffset_ = word(header, 32);
  const std::uint32_t programEntry = half(header, 42);
  programCount_ = half(header, 44);
  const std::uint32_t sectionEntry = half(header, 46);
  sectionCount_ = half(header, 48);
  sectionNamesIndex_ = half(header, 50);
  const auto table = [&](const char* what, std::uint32_t count, std::uint32_t entry,
                         std::uint32_t standard, std::uint32_t offset) {
    if (count == 0) {
      return true;
    }
    if (entry != standard) {
      reason = std::string("its ") + what + " entries are " + std::to_string(entry) +
               " bytes long, not " + std::to_string(standard);
      return false;
    }
    if (!fits(offset, std::uint64_t{count} * standard)) {
      reason = std::string("its ") + what + " table (" + std::to_string(count) +
               " entries at offset " + hexText(offset, 1) + ") runs past the end of the file" +
               size + "; the file may have been cut short";
      return false;
    }
    return true;
  };
  if (!table("program header", programCount_, programEntry, kProgramHeaderSize, programOffset_) ||
      !table("section header", sectionCount_, sectionEntry, kSectionHeaderSize, sectionOffset_) ||
      !checkSegments(reason)) {
    return ElfOpen::unreadable;
  }
  haveSymbols_ = findSymbolTable();
  return ElfOpen::ok;
}

bool ElfReader::checkSegments(std::string& reason) {
  for (std::uint32_t i = 0; i < programCount_; ++i) {
    ElfSegment s;
    if (loadSegment(i, s) && !fits(s.offset, s.fileSize)) {
      reason = "its loadable segment " + std::to_string(i) + " (" + std::to_string(s.fileSize) +
               " bytes at offset " + hexText(s.offset, 1) + ") runs past the end of the file (" +
               std::to_string(length_) + " bytes); the file may have been cut short";
      return false;
    }
  }
  return true;
}

bool ElfReader::loadSegment(std::uint32_t index, ElfSegment& segment) {
  std::array<char, kProgramHeaderSize> entry{};
  if (index >= programCount_ ||
      !readAt(programOffset_ + std::uint64_t{index} * kProgramHeaderSize, entry) ||
      word(entry, 0) != kLoadSegment) {
    return false;
  }
  segment = {word(entry, 4), word(entry, 12), word(entry, 16),
             word(entry, 8), word(entry, 20), word(entry, 28)};
  return true;
}

bool ElfReader::section(std::uint32_t index, ElfSection& section) {
  std::array<char, kSectionHeaderSize> entry{};
  if (index >= sectionCount_ ||
      !readAt(sectionOffset_ + std::uint64_t{index} * kSectionHeaderSize, entry)) {
    return false;
  }
  section.type = word(entry, 4);
  section.flags = word(entry, 8);
  section.address = word(entry, 12);
  section.offset = word(entry, 16);
  section.size = word(entry, 20);
  section.alignment = word(entry, 32);
  section.name.clear();
  // The name, from the section names' string table, when there is one.
  std::array<char, kSectionHeaderSize> names{};
  if (sectionNamesIndex_ == 0 || sectionNamesIndex_ >= sectionCount_ ||
      !readAt(sectionOffset_ + std::uint64_t{sectionNamesIndex_} * kSectionHeaderSize, names)) {
    return true;
  }
  const std::uint32_t nameAt = word(entry, 0);
  const std::uint32_t tableSize = word(names, 20);
  if (nameAt >= tableSize) {
    return true;
  }
  std::array<char, ElfSection::kMaxSectionName> text{};
  const std::size_t take = std::min<std::size_t>(text.size(), tableSize - nameAt);
  if (readAt(std::uint64_t{word(names, 16)} + nameAt, std::span<char>(text.data(), take))) {
    section.name.assign(text.data(), std::find(text.data(), text.data() + take, '\0'));
  }
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

bool ElfReader::findSymbols(std::span<const std::string_view> names, std::span<ElfSymbol> found) {
  std::fill(found.begin(), found.end(), ElfSymbol{});
  if (!haveSymbols_) {
    return false;
  }
  std::size_t longest = 0;
  for (const std::string_view name : names) {
    longest = std::max(longest, name.size());
  }
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
      // Undefined symbols define nothing.
      if ((bind != kBindGlobal && bind != kBindWeak && bind != kBindLocal) ||
          half(symbol, 14) == 0 || nameAt >= stringsSize_) {
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
      for (std::size_t i = 0; i < names.size() && i < found.size(); ++i) {
        const std::string_view wanted = names[i];
        if (take <= wanted.size() || name[wanted.size()] != '\0' ||
            name.substr(0, wanted.size()) != wanted) {
          continue;
        }
        ElfSymbol& s = found[i];
        if (bind == kBindLocal) {
          s.local = true;
          s.localValue = word(symbol, 4);
        } else if (!(s.defined && !s.weak)) {
          // The first global definition; weak ones count only where no
          // global one is found.
          s.defined = true;
          s.weak = bind == kBindWeak;
          s.value = word(symbol, 4);
        }
      }
    }
  }
  return true;
}

bool sectionLoadAddress(ElfReader& elf, const ElfSection& section, std::uint64_t& loadAddress) {
  if (!section.allocated() || !section.hasContent() || section.size == 0) {
    return false;
  }
  ElfSegment segment;
  for (std::uint32_t i = 0; i < elf.segmentCount(); ++i) {
    if (elf.loadSegment(i, segment) && section.offset >= segment.offset &&
        section.offset - segment.offset < segment.fileSize) {
      loadAddress = std::uint64_t{segment.physicalAddress} + (section.offset - segment.offset);
      return true;
    }
  }
  return false;
}

bool findSectionLoadedAt(ElfReader& elf, std::uint64_t address, ElfSection& section,
                         std::uint64_t& loadAddress) {
  for (std::uint32_t i = 1; i < elf.sectionCount(); ++i) {
    if (elf.section(i, section) && sectionLoadAddress(elf, section, loadAddress) &&
        address >= loadAddress && address < loadAddress + section.size) {
      return true;
    }
  }
  return false;
}

std::string sectionLoadedAt(ElfReader& elf, std::uint64_t address) {
  ElfSection section;
  std::uint64_t loadAddress = 0;
  return findSectionLoadedAt(elf, address, section, loadAddress) ? section.name : std::string();
}

bool findSectionNamed(ElfReader& elf, std::string_view name, ElfSection& section) {
  for (std::uint32_t i = 1; i < elf.sectionCount(); ++i) {
    if (elf.section(i, section) && section.name == name) {
      return true;
    }
  }
  return false;
}

bool linkedByLld(ElfReader& elf) {
  ElfSection section;
  for (std::uint32_t i = 1; i < elf.sectionCount(); ++i) {
    if (!elf.section(i, section) || section.name != ".comment") {
      continue;
    }
    std::array<char, 1024> text{};
    const std::size_t n = std::min<std::size_t>(text.size(), section.size);
    if (!elf.readAt(section.offset, std::span<char>(text.data(), n))) {
      return false;
    }
    // "Linker: LLD 14.0.6", or with a vendor's word between ("Linker: Debian
    // LLD 14.0.6"), among the zero-ended strings of the section.
    const std::string_view comment(text.data(), n);
    const std::size_t linker = comment.find("Linker: ");
    return linker != std::string_view::npos &&
           comment.substr(linker, comment.find('\0', linker) - linker).find("LLD") !=
               std::string_view::npos;
  }
  return false;
}

}  // namespace pakforge
