// Writes a copy of a real 32-bit ELF file whose symbol table holds COUNT
// more symbols, with names in a string table of 64 KiB more: in "scattered"
// order each name lies at the other end of the table from the one before,
// in "ordered" order they follow one another. The five header symbols keep
// their entries. A reader that keeps a small window of the string table
// reads it again for nearly every scattered name.
//
//   make_scattered_symbols IN.elf OUT.elf scattered|ordered [COUNT]
// (built with -I tests/, for elf_edit.h)
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "elf_edit.h"

// The little-endian reading and writing of tests/elf_edit.h.
using pakforge::testing_support::elf_edit::Bytes;
using pakforge::testing_support::elf_edit::get;
using pakforge::testing_support::elf_edit::put;

int main(int argc, char** argv) {
  if (argc < 4 ||
      (std::strcmp(argv[3], "scattered") != 0 && std::strcmp(argv[3], "ordered") != 0)) {
    std::cerr << "usage: make_scattered_symbols IN.elf OUT.elf scattered|ordered [COUNT]\n";
    return 2;
  }
  const bool scattered = std::strcmp(argv[3], "scattered") == 0;
  const unsigned long count = argc > 4 ? std::strtoul(argv[4], nullptr, 10) : 500000;
  std::ifstream in(argv[1], std::ios::binary);
  Bytes elf((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (elf.size() < 52 || get(elf, 0, 4) != 0x464C457F || elf[4] != 1 || elf[5] != 1) {
    std::cerr << "make_scattered_symbols: " << argv[1] << " is no 32-bit little-endian ELF file\n";
    return 1;
  }
  const std::uint32_t sections = get(elf, 32, 4);
  const std::uint32_t sectionCount = get(elf, 48, 2);
  std::size_t symtab = 0;
  for (std::uint32_t i = 1; i < sectionCount; ++i) {
    if (get(elf, sections + 40 * i + 4, 4) == 2) {
      symtab = sections + 40 * i;
    }
  }
  if (symtab == 0) {
    std::cerr << "make_scattered_symbols: " << argv[1] << " has no symbol table\n";
    return 1;
  }
  const std::size_t strtab = sections + 40 * get(elf, symtab + 24, 4);

  // The strings: the file's own, then 64 KiB of names "s<k>", each 16 bytes.
  constexpr std::uint32_t kNames = 65536 / 16;
  Bytes strings(elf.begin() + get(elf, strtab + 16, 4),
                elf.begin() + get(elf, strtab + 16, 4) + get(elf, strtab + 20, 4));
  const auto base = static_cast<std::uint32_t>(strings.size());
  for (std::uint32_t k = 0; k < kNames; ++k) {
    std::string name = "s" + std::to_string(k);
    name.resize(16, '\0');
    strings.insert(strings.end(), name.begin(), name.end());
  }
  // The symbols: the file's own, then COUNT defined globals in .text.
  Bytes symbols(elf.begin() + get(elf, symtab + 16, 4),
                elf.begin() + get(elf, symtab + 16, 4) + get(elf, symtab + 20, 4));
  for (unsigned long i = 0; i < count; ++i) {
    const auto k = static_cast<std::uint32_t>(i / 2 % (kNames / 2));
    const std::uint32_t slot =
        scattered ? (i % 2 == 0 ? k : kNames - 1 - k) : static_cast<std::uint32_t>(i % kNames);
    Bytes entry(16, 0);
    put(entry, 0, base + 16 * slot, 4);
    put(entry, 4, 0x08020000, 4);
    entry[12] = 0x11;  // global object
    put(entry, 14, 1, 2);
    symbols.insert(symbols.end(), entry.begin(), entry.end());
  }
  const auto at = [&elf] {
    while (elf.size() % 4 != 0) {
      elf.push_back(0);
    }
    return static_cast<std::uint32_t>(elf.size());
  };
  put(elf, strtab + 16, at(), 4);
  put(elf, strtab + 20, static_cast<std::uint32_t>(strings.size()), 4);
  elf.insert(elf.end(), strings.begin(), strings.end());
  put(elf, symtab + 16, at(), 4);
  put(elf, symtab + 20, static_cast<std::uint32_t>(symbols.size()), 4);
  elf.insert(elf.end(), symbols.begin(), symbols.end());

  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(elf.data()), static_cast<std::streamsize>(elf.size()));
  return out ? 0 : 1;
}
