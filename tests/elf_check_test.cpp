// The ELF check on damaged and altered copies of a real link: what can't be
// read as a 32-bit little-endian ELF file is left unchecked, and every
// disagreement is found and said.
#include "elf/elf_check.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "example_build.h"

namespace pakforge {
namespace {

using testing_support::Bytes;
using testing_support::putWord;
using testing_support::readFile;

const std::filesystem::path kRecipe = std::filesystem::path(PAKFORGE_FIRMWARE_DIR) / "recipe";

std::uint32_t word(const Bytes& b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 | b[at + 3] << 24);
}
std::uint32_t half(const Bytes& b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at] | b[at + 1] << 8);
}

// Where things are in the ELF file, read the plain way.
std::size_t programHeader(const Bytes& elf, std::size_t index) {
  return word(elf, 28) + 32 * index;
}
std::size_t sectionHeader(const Bytes& elf, std::uint32_t type) {
  for (std::size_t i = 0; i < half(elf, 48); ++i) {
    const std::size_t at = word(elf, 32) + 40 * i;
    if (word(elf, at + 4) == type) {
      return at;
    }
  }
  return 0;
}
std::size_t symbolEntry(const Bytes& elf, const std::string& name) {
  const std::size_t symtab = sectionHeader(elf, 2);
  const std::size_t strings = word(elf, word(elf, 32) + 40 * word(elf, symtab + 24) + 16);
  for (std::size_t at = word(elf, symtab + 16);
       at < word(elf, symtab + 16) + word(elf, symtab + 20); at += 16) {
    const char* text = reinterpret_cast<const char*>(&elf[strings + word(elf, at)]);
    if (name == text && (elf[at + 12] >> 4) == 1) {
      return at;
    }
  }
  return 0;
}

TEST(ElfCheck, DamagedAndAlteredCopiesOfARealLink) {
  const Bytes original = readFile(kRecipe / "output.elf");
  const Bytes flash = readFile(kRecipe / "output.bin");
  ASSERT_GT(original.size(), 0u);
  // The header a correct build writes: taken from the ELF's own symbols.
  ImageHeader header;
  header.addrExe = 0x08020000;
  header.appSize = static_cast<std::uint32_t>(flash.size());
  const std::vector<std::pair<std::string, std::uint32_t ImageHeader::*>> fields = {
      {"__entryPoint__", &ImageHeader::entryPointAddr},
      {"loop", &ImageHeader::loopAddr},
      {"ModbusHGroups_Table", &ImageHeader::hGroupsTableAddr},
      {"ModbusIGroups_Table", &ImageHeader::iGroupsTableAddr},
      {"ModbusRemoteRegTables", &ImageHeader::remoteRegTablesAddr}};
  for (const auto& [name, field] : fields) {
    header.*field = word(original, symbolEntry(original, name) + 4) & ~1u;
  }

  const auto setHalf = [](Bytes& b, std::size_t at, std::uint32_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
  };
  struct Case {
    std::string what;
    std::function<void(Bytes&)> alter;
    ElfVerdict verdict;
    std::string problem;  // the start of what is said
  };
  const std::vector<Case> cases = {
      {"as linked", [](Bytes&) {}, ElfVerdict::agrees, ""},
      {"no magic", [](Bytes& e) { e[1] = 'X'; }, ElfVerdict::notElf, ""},
      {"64-bit class", [](Bytes& e) { e[4] = 2; }, ElfVerdict::notElf, ""},
      {"big-endian", [](Bytes& e) { e[5] = 2; }, ElfVerdict::notElf, ""},
      {"shorter than its header", [](Bytes& e) { e.resize(51); }, ElfVerdict::notElf, ""},
      {"program entries of 31 bytes", [&](Bytes& e) { setHalf(e, 42, 31); }, ElfVerdict::notElf,
       ""},
      {"program headers past the end", [](Bytes& e) { putWord(e, 28, 0xFFFFFFF0u); },
       ElfVerdict::notElf, ""},
      {"65535 program headers", [&](Bytes& e) { setHalf(e, 44, 0xFFFF); }, ElfVerdict::notElf, ""},
      {"section entries of 39 bytes", [&](Bytes& e) { setHalf(e, 46, 39); }, ElfVerdict::notElf,
       ""},
      {"section headers past the end", [](Bytes& e) { putWord(e, 32, 0x7FFFFFFFu); },
       ElfVerdict::notElf, ""},
      {"cut inside the code", [](Bytes& e) { e.resize(0x20080); }, ElfVerdict::notElf, ""},
      {"segment past the end", [](Bytes& e) { putWord(e, programHeader(e, 1) + 16, 0xFFFFFF00u); },
       ElfVerdict::notElf, ""},
      {"symbols linked to no string table",
       [](Bytes& e) { putWord(e, sectionHeader(e, 2) + 24, 0); }, ElfVerdict::agrees, ""},
      {"symbol table past the end",
       [](Bytes& e) { putWord(e, sectionHeader(e, 2) + 20, 0xFFFFFFF0u); }, ElfVerdict::agrees, ""},
      {"loop elsewhere", [](Bytes& e) { putWord(e, symbolEntry(e, "loop") + 4, 0x08020091); },
       ElfVerdict::disagrees, "loop is 0x08020091 in the ELF but 0x08020044 in the map file"},
      {"loop a local symbol elsewhere",
       [](Bytes& e) {
         const std::size_t at = symbolEntry(e, "loop");
         putWord(e, at + 4, 0x08020091);
         e[at + 12] = static_cast<std::uint8_t>(e[at + 12] & 0x0F);
       },
       ElfVerdict::agrees, ""},
      {"loop only weak, elsewhere",
       [](Bytes& e) {
         const std::size_t at = symbolEntry(e, "loop");
         putWord(e, at + 4, 0x08020091);
         e[at + 12] = static_cast<std::uint8_t>((e[at + 12] & 0x0F) | 0x20);
       },
       ElfVerdict::disagrees, "loop is 0x08020091"},
      {"a code byte", [](Bytes& e) { e[0x20000 + 0x10] ^= 0xFF; }, ElfVerdict::disagrees,
       "the code differs from the ELF at 0x08020010 (code byte 16)"},
      {"the data image at another offset",
       [](Bytes& e) { putWord(e, programHeader(e, 1) + 4, word(e, programHeader(e, 1) + 4) - 4); },
       ElfVerdict::disagrees, "the code differs from the ELF at"},
      {"more flash content than the code range",
       [](Bytes& e) {
         putWord(e, programHeader(e, 1) + 16, word(e, programHeader(e, 1) + 16) + 8);
       },
       ElfVerdict::disagrees, "the ELF loads 8 bytes at"},
      {"flash content before the code range",
       [](Bytes& e) {
         putWord(e, programHeader(e, 0) + 12, 0x0801FFF0);
         putWord(e, programHeader(e, 0) + 4, 0x20000 - 0x10);
         putWord(e, programHeader(e, 0) + 16, word(e, programHeader(e, 0) + 16) + 0x10);
       },
       ElfVerdict::disagrees, "the ELF loads 16 bytes at 0x0801FFF0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes elf = original;
    c.alter(elf);
    std::istringstream in(std::string(elf.begin(), elf.end()));
    std::string problem;
    const ElfVerdict verdict =
        checkImageAgainstElf(in, elf.size(), header,
                             {reinterpret_cast<const char*>(flash.data()), flash.size()}, problem);
    EXPECT_EQ(verdict, c.verdict) << problem;
    EXPECT_EQ(problem.substr(0, c.problem.size()), c.problem);
  }
}

}  // namespace
}  // namespace pakforge
