// Rewrites of a real 32-bit little-endian ELF file's headers, for the cases
// a linker makes only for huge links: counts kept in section 0 (extended
// numbering) and program header tables of more than 65535 entries.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace pakforge::testing_support {

namespace elf_edit {

using Bytes = std::vector<std::uint8_t>;

inline std::uint32_t get(const Bytes& b, std::size_t at, int size) {
  std::uint32_t value = 0;
  for (int i = size; i-- > 0;) {
    value = (value << 8) | b[at + static_cast<std::size_t>(i)];
  }
  return value;
}

inline void put(Bytes& b, std::size_t at, std::uint32_t value, int size) {
  for (int i = 0; i < size; ++i) {
    b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

// Section 0's header, which holds the counts that do not fit the ELF header.
inline std::size_t sectionZero(const Bytes& elf) {
  return get(elf, 32, 4);
}

// e_shnum 0 with the count in section 0's sh_size.
inline void sectionCountInSectionZero(Bytes& elf) {
  put(elf, sectionZero(elf) + 20, get(elf, 48, 2), 4);
  put(elf, 48, 0, 2);
}

// e_shstrndx SHN_XINDEX with the index in section 0's sh_link.
inline void namesIndexInSectionZero(Bytes& elf) {
  put(elf, sectionZero(elf) + 24, get(elf, 50, 2), 4);
  put(elf, 50, 0xFFFF, 2);
}

// e_phnum PN_XNUM with the count in section 0's sh_info.
inline void programCountInSectionZero(Bytes& elf) {
  put(elf, sectionZero(elf) + 28, get(elf, 44, 2), 4);
  put(elf, 44, 0xFFFF, 2);
}

// A program header table of `total` entries appended to the file: unused
// ones (PT_NULL) first, the file's own last, so that a reader that stops at
// 65535 misses them. The count goes to section 0 as above.
inline void programHeadersAtTheEnd(Bytes& elf, std::uint32_t total) {
  const std::uint32_t own = get(elf, 44, 2);
  const std::uint32_t table = get(elf, 28, 4);
  while (elf.size() % 4 != 0) {
    elf.push_back(0);
  }
  const auto at = static_cast<std::uint32_t>(elf.size());
  elf.resize(elf.size() + std::size_t{total - own} * 32, 0);
  const auto from = elf.begin() + static_cast<std::ptrdiff_t>(table);
  const Bytes real(from, from + static_cast<std::ptrdiff_t>(std::size_t{own} * 32));
  elf.insert(elf.end(), real.begin(), real.end());
  put(elf, 28, at, 4);
  put(elf, sectionZero(elf) + 28, total, 4);
  put(elf, 44, 0xFFFF, 2);
}

// `count` empty allocated sections put before the file's own, which move
// up by as many indexes: their links, the names' index and the symbols'
// section indexes with them.
inline void emptySectionsFirst(Bytes& elf, std::uint32_t count) {
  const std::uint32_t table = get(elf, 32, 4);
  const std::uint32_t own = get(elf, 48, 2);
  const std::uint32_t total = own + count;
  Bytes sections(std::size_t{total} * 40, 0);
  for (std::uint32_t i = 1; i <= count; ++i) {
    put(sections, std::size_t{i} * 40 + 4, 1, 4);  // SHT_PROGBITS
    put(sections, std::size_t{i} * 40 + 8, 2, 4);  // SHF_ALLOC
    put(sections, std::size_t{i} * 40 + 12, 0x20007000, 4);
    put(sections, std::size_t{i} * 40 + 32, 1, 4);
  }
  for (std::uint32_t i = 1; i < own; ++i) {
    const std::size_t from = table + std::size_t{i} * 40;
    const std::size_t to = std::size_t{i + count} * 40;
    std::copy(elf.begin() + static_cast<std::ptrdiff_t>(from),
              elf.begin() + static_cast<std::ptrdiff_t>(from + 40),
              sections.begin() + static_cast<std::ptrdiff_t>(to));
    const std::uint32_t link = get(sections, to + 24, 4);
    if (link != 0) {
      put(sections, to + 24, link + count, 4);
    }
    if (get(sections, to + 4, 4) == 2) {  // SHT_SYMTAB: each symbol's section
      const std::uint32_t at = get(sections, to + 16, 4);
      const std::uint32_t size = get(sections, to + 20, 4);
      for (std::uint32_t entry = at; entry + 16 <= at + size; entry += 16) {
        const std::uint32_t index = get(elf, entry + 14, 2);
        if (index != 0 && index < 0xFF00) {
          put(elf, entry + 14, index + count, 2);
        }
      }
    }
  }
  while (elf.size() % 4 != 0) {
    elf.push_back(0);
  }
  put(elf, 32, static_cast<std::uint32_t>(elf.size()), 4);
  elf.insert(elf.end(), sections.begin(), sections.end());
  put(elf, 50, get(elf, 50, 2) + count, 2);
  put(elf, 48, total, 2);
}

}  // namespace elf_edit

}  // namespace pakforge::testing_support
