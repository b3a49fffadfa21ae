// Writes a copy of a real 32-bit ELF file with COUNT program headers and
// COUNT section headers (past 65534 and 65279 with their counts in section
// 0): its own, then loadable segments that load nothing
// from the file (RAM, like .bss) and allocated sections that no segment
// loads. Both tables go after the file's bytes, and the ELF header points
// at them. Such a file has made a reader that looks up each section's
// segment by seeking through the program headers take minutes.
//
//   make_many_headers IN.elf OUT.elf [COUNT]   (COUNT: 65535 by default)
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

std::uint32_t get(const Bytes& b, std::size_t at, int size) {
  std::uint32_t value = 0;
  for (int i = size; i-- > 0;) {
    value = (value << 8) | b[at + static_cast<std::size_t>(i)];
  }
  return value;
}

void put(Bytes& b, std::size_t at, std::uint32_t value, int size) {
  for (int i = 0; i < size; ++i) {
    b[at + static_cast<std::size_t>(i)] = static_cast<unsigned char>(value >> (8 * i));
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: make_many_headers IN.elf OUT.elf [COUNT]\n";
    return 2;
  }
  const unsigned long count = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 65535;
  std::ifstream in(argv[1], std::ios::binary);
  Bytes elf((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (elf.size() < 52 || get(elf, 0, 4) != 0x464C457F || elf[4] != 1 || elf[5] != 1 ||
      count > 65535) {
    std::cerr << "make_many_headers: " << argv[1] << " is no 32-bit little-endian ELF file\n";
    return 1;
  }
  const std::uint32_t programs = get(elf, 28, 4);
  const std::uint32_t programCount = get(elf, 44, 2);
  const std::uint32_t sections = get(elf, 32, 4);
  const std::uint32_t sectionCount = get(elf, 48, 2);
  if (count < programCount || count < sectionCount) {
    std::cerr << "make_many_headers: COUNT is below the file's own counts\n";
    return 1;
  }
  // Four bytes that no segment loads, for the added sections to point at.
  const auto spare = static_cast<std::uint32_t>(elf.size());
  elf.resize(elf.size() + 4, 0xA5);
  while (elf.size() % 4 != 0) {
    elf.push_back(0);
  }

  const auto programTable = static_cast<std::uint32_t>(elf.size());
  elf.insert(elf.end(), elf.begin() + programs, elf.begin() + programs + 32 * programCount);
  for (std::uint32_t i = programCount; i < count; ++i) {
    Bytes entry(32, 0);
    const std::uint32_t ram = 0x20004000 + 4 * (i % 0x1000);
    put(entry, 0, 1, 4);      // PT_LOAD
    put(entry, 4, spare, 4);  // p_offset
    put(entry, 8, ram, 4);    // p_vaddr
    put(entry, 12, ram, 4);   // p_paddr
    put(entry, 16, 0, 4);     // p_filesz: nothing from the file
    put(entry, 20, 4, 4);     // p_memsz
    put(entry, 24, 6, 4);     // read, write
    put(entry, 28, 4, 4);
    elf.insert(elf.end(), entry.begin(), entry.end());
  }

  const auto sectionTable = static_cast<std::uint32_t>(elf.size());
  elf.insert(elf.end(), elf.begin() + sections, elf.begin() + sections + 40 * sectionCount);
  for (std::uint32_t i = sectionCount; i < count; ++i) {
    Bytes entry(40, 0);
    put(entry, 4, 1, 4);                              // SHT_PROGBITS
    put(entry, 8, 3, 4);                              // SHF_ALLOC | SHF_WRITE
    put(entry, 12, 0x20006000 + 4 * (i % 0x800), 4);  // sh_addr, in the device's RAM
    put(entry, 16, spare, 4);                         // sh_offset
    put(entry, 20, 4, 4);                             // sh_size
    put(entry, 32, 4, 4);                             // sh_addralign
    elf.insert(elf.end(), entry.begin(), entry.end());
  }
  // Counts this large go to section 0, as the ELF rules keep them: the
  // program header count in its sh_info (e_phnum PN_XNUM), the section
  // count in its sh_size (e_shnum 0).
  const auto n = static_cast<std::uint32_t>(count);
  put(elf, 28, programTable, 4);
  put(elf, 32, sectionTable, 4);
  put(elf, 44, n >= 0xFFFF ? 0xFFFF : n, 2);
  put(elf, 48, n >= 0xFF00 ? 0 : n, 2);
  if (n >= 0xFFFF) {
    put(elf, sectionTable + 28, n, 4);
  }
  if (n >= 0xFF00) {
    put(elf, sectionTable + 20, n, 4);
  }

  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(elf.data()), static_cast<std::streamsize>(elf.size()));
  return out ? 0 : 1;
}
