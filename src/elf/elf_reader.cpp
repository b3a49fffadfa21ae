#include "elf/elf_reader.h"

#include <algorithm>
#include <functional>
#include <queue>

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
constexpr unsigned kFunction = 2;  // STT_FUNC
constexpr std::size_t kMaxLocals = 4096;
constexpr std::uint32_t kExtendedCount = 0xFFFF;  // PN_XNUM
constexpr std::uint32_t kExtendedIndex = 0xFFFF;  // SHN_XINDEX
// Far above any linked firmware (a few dozen of each), and low enough that
// the tables' entries can always be held.
constexpr std::uint32_t kMaxTableEntries = 1u << 20;

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

bool ElfReader::sameBytes(std::uint64_t offset, std::uint64_t size, char value) {
  std::array<char, 4096> bytes{};
  for (std::uint64_t done = 0; done < size;) {
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), size - done));
    if (!readAt(offset + done, std::span<char>(bytes.data(), n)) ||
        std::any_of(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n),
                    [value](char c) { return c != value; })) {
      return false;
    }
    done += n;
  }
  return true;
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
  type_ = half(header, 16);
  const std::uint32_t programOffset = word(header, 28);
  const std::uint32_t sectionOffset = word(header, 32);
  const std::uint32_t programEntry = half(header, 42);
  const std::uint32_t sectionEntry = half(header, 46);
  TableCounts counts{half(header, 44), half(header, 48), half(header, 50)};
  if (!readExtendedCounts(sectionOffset, sectionEntry, counts, reason)) {
    return ElfOpen::unreadable;
  }
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
    // Read whole or not at all: a table read in part would hide what its
    // other entries load.
    if (count > kMaxTableEntries) {
      reason = std::string("its ") + what + " table has " + std::to_string(count) +
               " entries, more than the " + std::to_string(kMaxTableEntries) +
               " that can be read; no linked firmware has so many";
      return false;
    }
    return true;
  };
  if (!table("program header", counts.programs, programEntry, kProgramHeaderSize, programOffset) ||
      !table("section header", counts.sections, sectionEntry, kSectionHeaderSize, sectionOffset) ||
      !readPrograms(programOffset, counts.programs, reason) ||
      !readSections(sectionOffset, counts.sections, counts.namesIndex)) {
    return ElfOpen::unreadable;
  }
  placeSections();
  return findSymbolTable(reason) ? ElfOpen::ok : ElfOpen::unreadable;
}

// Counts too large for the ELF header's 16-bit fields are kept in section
// 0: e_shnum 0 puts the section count in its sh_size, e_shstrndx SHN_XINDEX
// the names' section in its sh_link, e_phnum PN_XNUM the program header
// count in its sh_info. Taking the header's fields literally would read a
// table in part, or none of it.
bool ElfReader::readExtendedCounts(std::uint32_t sectionOffset, std::uint32_t sectionEntry,
                                   TableCounts& counts, std::string& reason) {
  const bool sectionsElsewhere = counts.sections == 0 && sectionOffset != 0;
  const bool namesElsewhere = counts.namesIndex == kExtendedIndex;
  const bool programsElsewhere = counts.programs == kExtendedCount;
  if (!sectionsElsewhere && !namesElsewhere && !programsElsewhere) {
    return true;
  }
  const std::string what = sectionsElsewhere   ? "its section header count"
                           : programsElsewhere ? "its program header count"
                                               : "its section names' index";
  if (sectionOffset == 0) {
    reason = what + " is kept in section 0, but the file has no section headers";
    return false;
  }
  std::array<char, kSectionHeaderSize> zero{};
  if (sectionEntry != kSectionHeaderSize || !readAt(sectionOffset, zero)) {
    reason =
        what + " is kept in section 0, which can't be read at offset " + hexText(sectionOffset, 1);
    return false;
  }
  if (sectionsElsewhere) {
    counts.sections = word(zero, 20);
    if (counts.sections == 0) {
      reason = "its section header table, at offset " + hexText(sectionOffset, 1) +
               ", has no entries: neither e_shnum nor section 0 gives a count";
      return false;
    }
  }
  if (namesElsewhere) {
    counts.namesIndex = word(zero, 24);
  }
  if (programsElsewhere) {
    counts.programs = word(zero, 28);
  }
  return true;
}

template <typename Entry>
bool ElfReader::forEachEntry(std::uint64_t offset, std::uint32_t count, std::uint32_t size,
                             Entry entry) {
  std::array<char, 16384> batch{};
  const std::uint32_t perBatch = static_cast<std::uint32_t>(batch.size()) / size;
  for (std::uint32_t first = 0; first < count; first += perBatch) {
    const std::uint32_t n = std::min(perBatch, count - first);
    const std::span<char> entries(batch.data(), std::size_t{n} * size);
    if (!readAt(offset + std::uint64_t{first} * size, entries)) {
      return false;
    }
    for (std::uint32_t k = 0; k < n; ++k) {
      if (!entry(first + k, std::span<const char>(entries.subspan(std::size_t{k} * size, size)))) {
        return false;
      }
    }
  }
  return true;
}

std::string_view ElfReader::stringAt(std::uint64_t tableOffset, std::uint32_t tableSize,
                                     std::uint32_t at, std::size_t longest) {
  if (at >= tableSize) {
    return {};
  }
  const std::size_t take = std::min<std::size_t>(longest, tableSize - at);
  if (tableSize <= kWholeStringTable) {
    // Names come in any order: a table held whole costs one read, however
    // they scatter.
    if (wholeTableOffset_ != tableOffset || wholeTable_.size() != tableSize) {
      wholeTable_.assign(tableSize, '\0');
      if (!readAt(tableOffset, wholeTable_)) {
        wholeTable_.clear();
        return {};
      }
      wholeTableOffset_ = tableOffset;
    }
    return {wholeTable_.data() + at, take};
  }
  const std::uint64_t start = tableOffset + at;
  if (start < windowStart_ || start + take > windowStart_ + windowSize_) {
    windowStart_ = start;
    windowSize_ = std::min<std::size_t>(window_.size(), tableSize - at);
    if (!readAt(start, std::span<char>(window_.data(), windowSize_))) {
      windowSize_ = 0;
      return {};
    }
  }
  return {window_.data() + (start - windowStart_), take};
}

bool ElfReader::readPrograms(std::uint32_t offset, std::uint32_t count, std::string& reason) {
  programs_.assign(count, Program{});
  const bool read =
      forEachEntry(offset, count, kProgramHeaderSize, [&](std::uint32_t i, auto entry) {
        Program& p = programs_[i];
        p.load = word(entry, 0) == kLoadSegment;
        p.segment = {word(entry, 4), word(entry, 12), word(entry, 16),
                     word(entry, 8), word(entry, 20), word(entry, 28)};
        if (p.load && !fits(p.segment.offset, p.segment.fileSize)) {
          reason = "its loadable segment " + std::to_string(i) + " (" +
                   std::to_string(p.segment.fileSize) + " bytes at offset " +
                   hexText(p.segment.offset, 1) + ") runs past the end of the file (" +
                   std::to_string(length_) + " bytes); the file may have been cut short";
          return false;
        }
        return true;
      });
  if (!read && reason.empty()) {
    reason = "its program header table can't be read";
  }
  return read;
}

bool ElfReader::readSections(std::uint32_t offset, std::uint32_t count, std::uint32_t namesIndex) {
  sections_.assign(count, ElfSection{});
  std::vector<std::uint32_t> nameOffsets(count);
  const bool read = forEachEntry(offset, count, kSectionHeaderSize,
                                 [&](std::uint32_t i, std::span<const char> entry) {
                                   ElfSection& s = sections_[i];
                                   nameOffsets[i] = word(entry, 0);
                                   s.type = word(entry, 4);
                                   s.flags = word(entry, 8);
                                   s.address = word(entry, 12);
                                   s.offset = word(entry, 16);
                                   s.size = word(entry, 20);
                                   s.link = word(entry, 24);
                                   s.alignment = word(entry, 32);
                                   s.entrySize = word(entry, 36);
                                   return true;
                                 });
  if (!read) {
    return false;
  }
  // The names, from the section names' string table, when there is one;
  // each cut to kMaxSectionName bytes.
  if (namesIndex == 0 || namesIndex >= count) {
    return true;
  }
  const ElfSection& names = sections_[namesIndex];
  const std::uint64_t namesOffset = names.offset;
  const std::uint32_t namesSize = names.size;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::string_view text =
        stringAt(namesOffset, namesSize, nameOffsets[i], ElfSection::kMaxSectionName);
    sections_[i].name.assign(text.substr(0, text.find('\0')));
  }
  return true;
}

// Each allocated section belongs to the first loadable segment (by index)
// whose file bytes hold its first byte. One sweep in file order: segments
// that have begun wait in a heap by index, and those that ended before the
// section are dropped from its top, so the top is the first that holds it.
void ElfReader::placeSections() {
  std::vector<std::uint32_t> bySegmentOffset;
  std::vector<std::uint32_t> bySectionOffset;
  for (std::uint32_t i = 0; i < programs_.size(); ++i) {
    if (programs_[i].load && programs_[i].segment.fileSize > 0) {
      bySegmentOffset.push_back(i);
    }
  }
  for (std::uint32_t i = 1; i < sections_.size(); ++i) {
    if (sections_[i].allocated()) {
      bySectionOffset.push_back(i);
    }
  }
  const auto segmentOffset = [&](std::uint32_t i) { return programs_[i].segment.offset; };
  std::sort(bySegmentOffset.begin(), bySegmentOffset.end(),
            [&](std::uint32_t a, std::uint32_t b) { return segmentOffset(a) < segmentOffset(b); });
  std::sort(bySectionOffset.begin(), bySectionOffset.end(), [&](std::uint32_t a, std::uint32_t b) {
    return sections_[a].offset < sections_[b].offset;
  });
  std::priority_queue<std::uint32_t, std::vector<std::uint32_t>, std::greater<>> begun;
  std::size_t next = 0;
  for (const std::uint32_t index : bySectionOffset) {
    ElfSection& section = sections_[index];
    while (next < bySegmentOffset.size() &&
           segmentOffset(bySegmentOffset[next]) <= section.offset) {
      begun.push(bySegmentOffset[next++]);
    }
    while (!begun.empty()) {
      const ElfSegment& top = programs_[begun.top()].segment;
      if (std::uint64_t{top.offset} + top.fileSize > section.offset) {
        break;
      }
      begun.pop();
    }
    if (begun.empty()) {
      continue;
    }
    ElfSegment& segment = programs_[begun.top()].segment;
    segment.sectionAlignment = std::max(segment.sectionAlignment, section.alignment);
    if (section.hasContent() && section.size > 0) {
      section.loaded = true;
      section.loadAddress =
          std::uint64_t{segment.physicalAddress} + (section.offset - segment.offset);
    }
  }
}

bool ElfReader::loadSegment(std::uint32_t index, ElfSegment& segment) const {
  if (index >= programs_.size() || !programs_[index].load) {
    return false;
  }
  segment = programs_[index].segment;
  return true;
}

bool ElfReader::section(std::uint32_t index, ElfSection& section) const {
  if (index >= sections_.size()) {
    return false;
  }
  section = sections_[index];
  return true;
}

bool ElfReader::findSymbolTable(std::string& reason) {
  // Section 0 is reserved: never a table, whatever it holds.
  for (std::size_t i = 1; i < sections_.size(); ++i) {
    const ElfSection& table = sections_[i];
    if (table.type != kSymbolTable) {
      continue;
    }
    // A symbol table that is there but can't be read would turn the check
    // of the header's symbols off without a word: the file is refused.
    const std::string what = "its symbol table (section " + std::to_string(i) + ")";
    if (table.entrySize != kSymbolSize) {
      reason = what + " has entries of " + std::to_string(table.entrySize) + " bytes, not " +
               std::to_string(kSymbolSize);
      return false;
    }
    if (!fits(table.offset, table.size)) {
      reason = what + " runs past the end of the file (" + std::to_string(length_) +
               " bytes); the file may have been cut short";
      return false;
    }
    if (table.link == 0 || table.link >= sections_.size() ||
        sections_[table.link].type != kStringTable) {
      reason = what + " is linked to section " + std::to_string(table.link) +
               ", which is no string table";
      return false;
    }
    const ElfSection& strings = sections_[table.link];
    if (!fits(strings.offset, strings.size)) {
      reason = "the string table of " + what + " runs past the end of the file (" +
               std::to_string(length_) + " bytes); the file may have been cut short";
      return false;
    }
    symbolsOffset_ = table.offset;
    symbolsSize_ = table.size;
    stringsOffset_ = strings.offset;
    stringsSize_ = strings.size;
    haveSymbols_ = true;
    return true;
  }
  return true;
}

bool ElfReader::findSymbols(std::span<const std::string_view> names, std::span<ElfSymbol> found) {
  std::fill(found.begin(), found.end(), ElfSymbol{});
  definedSymbols_ = 0;
  if (!haveSymbols_) {
    return false;
  }
  std::size_t longest = 0;
  for (const std::string_view name : names) {
    longest = std::max(longest, name.size());
  }
  return forEachEntry(
      symbolsOffset_, symbolsSize_ / kSymbolSize, kSymbolSize,
      [&](std::uint32_t, std::span<const char> symbol) {
        const unsigned bind = static_cast<unsigned char>(symbol[12]) >> 4;
        const std::uint32_t nameAt = word(symbol, 0);
        // Undefined symbols define nothing.
        if ((bind != kBindGlobal && bind != kBindWeak && bind != kBindLocal) ||
            half(symbol, 14) == 0 || nameAt >= stringsSize_) {
          return true;
        }
        // The name with its terminating zero, or as much as the table holds.
        const std::string_view name = stringAt(stringsOffset_, stringsSize_, nameAt, longest + 1);
        if (name.empty()) {
          return false;
        }
        ++definedSymbols_;
        for (std::size_t i = 0; i < names.size() && i < found.size(); ++i) {
          const std::string_view wanted = names[i];
          if (name.size() <= wanted.size() || name[wanted.size()] != '\0' ||
              name.substr(0, wanted.size()) != wanted) {
            continue;
          }
          ElfSymbol& s = found[i];
          const ElfDefinition definition{
              word(symbol, 4), (static_cast<unsigned char>(symbol[12]) & 0xF) == kFunction};
          if (bind == kBindLocal) {
            // Bounded, so that no file can make this allocation fail; no
            // real link has more local definitions of one name.
            if (s.locals.size() < kMaxLocals) {
              s.locals.push_back(definition);
            }
          } else if (!(s.defined && !s.weak)) {
            // The first global definition; weak ones count only where no
            // global one is found.
            s.defined = true;
            s.weak = bind == kBindWeak;
            s.value = definition.value;
            s.function = definition.function;
          }
        }
        return true;
      });
}

bool ElfReader::allSymbols(std::vector<ElfSymbolEntry>& out) {
  out.clear();
  if (!haveSymbols_) {
    return false;
  }
  return forEachEntry(
      symbolsOffset_, symbolsSize_ / kSymbolSize, kSymbolSize,
      [&](std::uint32_t, std::span<const char> symbol) {
        const unsigned bind = static_cast<unsigned char>(symbol[12]) >> 4;
        const unsigned type = static_cast<unsigned char>(symbol[12]) & 0xF;
        const std::uint32_t nameAt = word(symbol, 0);
        const std::uint32_t index = half(symbol, 14);
        if ((bind != kBindGlobal && bind != kBindWeak && bind != kBindLocal) || index == 0 ||
            type == 3 || type == 4 || nameAt == 0 || nameAt >= stringsSize_) {
          return true;
        }
        std::string_view name = stringAt(stringsOffset_, stringsSize_, nameAt, kMaxListedName + 1);
        if (name.empty()) {
          return false;
        }
        name = name.substr(0, name.find('\0'));
        // ARM mapping symbols ($t, $d, $a) mark code and data, no thing.
        if (name.empty() || name.front() == '$') {
          return true;
        }
        out.push_back({std::string(name.substr(0, kMaxListedName)), word(symbol, 4),
                       word(symbol, 8), index, type, bind == kBindLocal});
        return true;
      });
}

const ElfSection* findSectionLoadedAt(const ElfReader& elf, std::uint64_t address) {
  for (const ElfSection& section : elf.sections()) {
    if (section.loaded && address >= section.loadAddress &&
        address < section.loadAddress + section.size) {
      return &section;
    }
  }
  return nullptr;
}

std::string sectionLoadedAt(const ElfReader& elf, std::uint64_t address) {
  const ElfSection* section = findSectionLoadedAt(elf, address);
  return section != nullptr ? section->name : std::string();
}

const ElfSection* findSectionNamed(const ElfReader& elf, std::string_view name) {
  for (std::size_t i = 1; i < elf.sections().size(); ++i) {
    if (elf.sections()[i].name == name) {
      return &elf.sections()[i];
    }
  }
  return nullptr;
}

bool linkedByLld(ElfReader& elf) {
  for (std::uint32_t i = 1; i < elf.sectionCount(); ++i) {
    const ElfSection& section = elf.sections()[i];
    if (section.name != ".comment") {
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
