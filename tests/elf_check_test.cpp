// The ELF check on damaged and altered copies of a real link: what can't be
// read as a 32-bit little-endian ELF file is left unchecked, and every
// disagreement is found and said.
#include "elf/elf_check.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "elf_edit.h"
#include "example_build.h"

namespace pakforge {
namespace {

namespace elf_edit = testing_support::elf_edit;
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
// The entry of the symbol `name` of binding `bind` (global by default).
std::size_t symbolEntry(const Bytes& elf, const std::string& name, unsigned bind = 1) {
  const std::size_t symtab = sectionHeader(elf, 2);
  const std::size_t strings = word(elf, word(elf, 32) + 40 * word(elf, symtab + 24) + 16);
  for (std::size_t at = word(elf, symtab + 16);
       at < word(elf, symtab + 16) + word(elf, symtab + 20); at += 16) {
    const char* text = reinterpret_cast<const char*>(&elf[strings + word(elf, at)]);
    if (name == text && (elf[at + 12] >> 4) == bind) {
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
  const auto strip = [&](Bytes& e) {
    putWord(e, 32, 0);
    setHalf(e, 48, 0);
  };
  const auto longer = [](std::uint32_t by) { return [by](ImageHeader& h) { h.appSize += by; }; };
  const auto earlier = [](std::uint32_t by) {
    return [by](ImageHeader& h) {
      h.addrExe -= by;
      h.appSize += by;
    };
  };
  const auto localize = [](Bytes& e, const std::string& name) {
    const std::size_t at = symbolEntry(e, name);
    e[at + 12] = static_cast<std::uint8_t>(e[at + 12] & 0x0F);
  };
  // A map from an earlier link whose loop did one thing more: the code range
  // 4 bytes longer and the symbols after loop 4 bytes further on.
  const auto stale = [](ImageHeader& h) {
    h.appSize += 4;
    h.hGroupsTableAddr += 4;
    h.iGroupsTableAddr += 4;
    h.remoteRegTablesAddr += 4;
  };
  const auto linked = [](Bytes&) {};
  const auto same = [](ImageHeader&) {};
  const auto data = [](const Bytes& e) { return programHeader(e, 1); };
  struct Case {
    std::string what;
    std::function<void(Bytes&)> alter;
    std::function<void(ImageHeader&)> alterHeader;
    ElfVerdict verdict;
    std::vector<std::string> said;  // pieces of the problem, in order
    bool symbolsChecked = true;
    bool whole = false;  // the problem ends with the last piece: no hint after it
  };
  const std::vector<Case> cases = {
      {"as linked", linked, same, ElfVerdict::agrees, {}},
      {"no magic", [](Bytes& e) { e[1] = 'X'; }, same, ElfVerdict::notElf, {}, false},
      {"three bytes", [](Bytes& e) { e.resize(3); }, same, ElfVerdict::notElf, {}, false},
      // A file that begins with the magic is an ELF file: one that can't be
      // read whole is refused, never taken as flat bytes.
      {"64-bit class", [](Bytes& e) { e[4] = 2; }, same, ElfVerdict::unreadable, {"64-bit"}, false},
      {"big-endian",
       [](Bytes& e) { e[5] = 2; },
       same,
       ElfVerdict::unreadable,
       {"little-endian"},
       false},
      {"shorter than its header",
       [](Bytes& e) { e.resize(51); },
       same,
       ElfVerdict::unreadable,
       {"(51 bytes) ends inside its 52-byte ELF header"},
       false},
      {"program entries of 31 bytes",
       [&](Bytes& e) { setHalf(e, 42, 31); },
       same,
       ElfVerdict::unreadable,
       {"program header entries are 31 bytes long, not 32"},
       false},
      {"program headers past the end",
       [](Bytes& e) { putWord(e, 28, 0xFFFFFFF0u); },
       same,
       ElfVerdict::unreadable,
       {"program header table (", "runs past the end"},
       false},
      {"65534 program headers",
       [&](Bytes& e) { setHalf(e, 44, 0xFFFE); },
       same,
       ElfVerdict::unreadable,
       {"(65534 entries"},
       false},
      {"section entries of 39 bytes",
       [&](Bytes& e) { setHalf(e, 46, 39); },
       same,
       ElfVerdict::unreadable,
       {"section header entries are 39 bytes"},
       false},
      {"section headers past the end",
       [](Bytes& e) { putWord(e, 32, 0x7FFFFFFFu); },
       same,
       ElfVerdict::unreadable,
       {"section header table"},
       false},
      {"cut after the flash content",
       [](Bytes& e) { e.resize(0x20200); },
       same,
       ElfVerdict::unreadable,
       {"section header table", "(131584 bytes); the file may have been cut short"},
       false},
      {"cut inside the code",
       [](Bytes& e) { e.resize(0x20080); },
       same,
       ElfVerdict::unreadable,
       {"table (9 entries at offset 0x20518) runs past the end of the file (131200 bytes)"},
       false},
      {"segment past the end",
       [&](Bytes& e) { putWord(e, data(e) + 16, 0xFFFFFF00u); },
       same,
       ElfVerdict::unreadable,
       {"loadable segment 1"},
       false},
      // A symbol table that is there but can't be read would turn the
      // symbol check off without a word.
      {"symbols linked to no string table",
       [](Bytes& e) { putWord(e, sectionHeader(e, 2) + 24, 0); },
       same,
       ElfVerdict::unreadable,
       {"its symbol table (section 6) is linked to section 0, which is no string table"},
       false},
      {"symbol table past the end",
       [](Bytes& e) { putWord(e, sectionHeader(e, 2) + 20, 0xFFFFFFF0u); },
       same,
       ElfVerdict::unreadable,
       {"its symbol table (section 6) runs past the end of the file"},
       false},
      {"symbol entries of 24 bytes",
       [](Bytes& e) { putWord(e, sectionHeader(e, 2) + 36, 24); },
       same,
       ElfVerdict::unreadable,
       {"has entries of 24 bytes, not 16"},
       false},
      {"stripped", strip, same, ElfVerdict::agrees, {}, false},
      {"loop elsewhere",
       [](Bytes& e) { putWord(e, symbolEntry(e, "loop") + 4, 0x08020091); },
       same,
       ElfVerdict::disagrees,
       {"loop is 0x08020091 in the ELF but 0x08020044 in the map file"}},
      // Without a global definition a local one decides; with none at all
      // the file was stripped of it or the map is from another link.
      {"loop a local symbol elsewhere",
       [&](Bytes& e) {
         localize(e, "loop");
         putWord(e, symbolEntry(e, "loop", 0) + 4, 0x08020091);
       },
       same,
       ElfVerdict::disagrees,
       {"loop is only a local symbol in the ELF, at 0x08020091, but 0x08020044 in the map file "
        "(the map file may be from an earlier link)"},
       true,
       true},
      {"loop a local symbol where the map says",
       [&](Bytes& e) { localize(e, "loop"); },
       same,
       ElfVerdict::agrees,
       {}},
      {"loop a local symbol, the map's loop 4 bytes on",
       [&](Bytes& e) { localize(e, "loop"); },
       [](ImageHeader& h) { h.loopAddr += 4; },
       ElfVerdict::disagrees,
       {"loop is only a local symbol in the ELF, at 0x08020045, but 0x08020048 in the map file"}},
      {"loop in no symbol",
       [](Bytes& e) { putWord(e, symbolEntry(e, "loop"), 0); },
       same,
       ElfVerdict::disagrees,
       {"loop is not in the ELF's symbol table but 0x08020044 in the map file (the ELF file may "
        "have been stripped of it, or the map file is from another link)"},
       true,
       true},
      // Bit 0 is the Thumb bit of a function alone: a table one byte off is
      // read one byte off.
      {"a function's Thumb bit in the map, as LLD writes it",
       linked,
       [](ImageHeader& h) {
         h.loopAddr |= 1;
         h.entryPointAddr |= 1;
       },
       ElfVerdict::agrees,
       {}},
      {"a table one byte on in the map",
       linked,
       [](ImageHeader& h) { h.hGroupsTableAddr += 1; },
       ElfVerdict::disagrees,
       {"ModbusHGroups_Table is 0x080200C4 in the ELF but 0x080200C5 in the map file"}},
      {"a table one byte back in the map",
       linked,
       [](ImageHeader& h) { h.iGroupsTableAddr -= 1; },
       ElfVerdict::disagrees,
       {"ModbusIGroups_Table is 0x080200B4 in the ELF but 0x080200B3 in the map file"}},
      {"a table one byte on in the ELF",
       [](Bytes& e) { putWord(e, symbolEntry(e, "ModbusRemoteRegTables") + 4, 0x080200A9); },
       same,
       ElfVerdict::disagrees,
       {"ModbusRemoteRegTables is 0x080200A9 in the ELF but 0x080200A8 in the map file"}},
      {"a table with bit 0 set in both",
       [](Bytes& e) { putWord(e, symbolEntry(e, "ModbusRemoteRegTables") + 4, 0x080200A9); },
       [](ImageHeader& h) { h.remoteRegTablesAddr |= 1; },
       ElfVerdict::agrees,
       {}},
      {"loop only weak, elsewhere",
       [](Bytes& e) {
         const std::size_t at = symbolEntry(e, "loop");
         putWord(e, at + 4, 0x08020091);
         e[at + 12] = static_cast<std::uint8_t>((e[at + 12] & 0x0F) | 0x20);
       },
       same,
       ElfVerdict::disagrees,
       {"loop is 0x08020091"}},
      {"a code byte",
       [](Bytes& e) { e[0x20000 + 0x10] ^= 0xFF; },
       same,
       ElfVerdict::disagrees,
       {"the code differs from the ELF at 0x08020010 (code byte 16)"},
       true,
       true},
      {"the data image 4 bytes early",
       [&](Bytes& e) { putWord(e, data(e) + 4, word(e, data(e) + 4) - 4); },
       same,
       ElfVerdict::disagrees,
       {"the code differs from the ELF at",
        "the ELF file holds that byte at offset 0x200F4, not "
        "0x200F8"},
       true,
       true},
      {"more flash content than the code range",
       [&](Bytes& e) { putWord(e, data(e) + 16, word(e, data(e) + 16) + 8); },
       same,
       ElfVerdict::disagrees,
       {"the ELF loads 8 bytes at 0x0802010C that the code range 0x08020000-0x0802010C leaves "
        "out; the code range must end after the last flash content, the initial values of .data "
        "included: end it with a line before .data"}},
      {"flash content before the code range",
       [](Bytes& e) {
         putWord(e, programHeader(e, 0) + 12, 0x0801FFF0);
         putWord(e, programHeader(e, 0) + 4, 0x20000 - 0x10);
         putWord(e, programHeader(e, 0) + 16, word(e, programHeader(e, 0) + 16) + 0x10);
       },
       same,
       ElfVerdict::disagrees,
       {"the ELF loads 16 bytes at 0x0801FFF0"}},
      // The code range must end where the flash content ends: a longer one
      // would carry bytes the ELF does not load (a stale map).
      {"a code range 8 bytes too long",
       linked,
       longer(8),
       ElfVerdict::disagrees,
       {"the code range 0x08020000-0x08020114 runs 8 bytes past the end of the flash content the "
        "ELF loads, 0x0802010C (the map file may be from an earlier link)"}},
      {"a stale map, symbols checked",
       linked,
       stale,
       ElfVerdict::disagrees,
       {"ModbusHGroups_Table is "}},
      {"a stale map, stripped",
       strip,
       stale,
       ElfVerdict::disagrees,
       {"runs 4 bytes past the end of the flash content"},
       false},
      // Content the image can't carry: past the application's flash, or two
      // segments' bytes at one address.
      {"initial values at 0x0803FE00",
       [&](Bytes& e) { putWord(e, data(e) + 12, 0x0803FE00); },
       same,
       ElfVerdict::disagrees,
       {"bytes at 0x0803FE00 (section .data), past the end of the application's flash, "
        "0x0803FE00: no image can carry them"}},
      {"initial values at 0x0803FF00",
       [&](Bytes& e) { putWord(e, data(e) + 12, 0x0803FF00); },
       same,
       ElfVerdict::disagrees,
       {"bytes at 0x0803FF00 (section .data), past the end"}},
      {"initial values over the code",
       [&](Bytes& e) { putWord(e, data(e) + 12, 0x08020010); },
       same,
       ElfVerdict::disagrees,
       {"loadable segments 0 and 1 both load bytes at 0x08020010"}},
      // A range that starts before the flash content would put the file's
      // own bytes below the application.
      {"a code range 4 bytes early",
       linked,
       earlier(4),
       ElfVerdict::disagrees,
       {"the code range 0x0801FFFC-0x0802010C starts 4 bytes before the flash content the ELF "
        "loads, 0x08020000 (the map file may be from an earlier link)"}},
      {"a code range 64 KiB early",
       linked,
       earlier(0x10000),
       ElfVerdict::disagrees,
       {"starts 65536 bytes before the flash content"}},
      {"a code range 128 KiB early",
       linked,
       earlier(0x20000),
       ElfVerdict::disagrees,
       {"the code range 0x08000000-0x0802010C starts 131072 bytes before"}},
      {"loading nothing into the flash",
       [](Bytes& e) {
         putWord(e, programHeader(e, 0) + 16, 0);
         putWord(e, programHeader(e, 1) + 16, 0);
       },
       same,
       ElfVerdict::disagrees,
       {"the ELF loads nothing into the flash"}},
      // Counts kept in section 0, as the ELF rules allow for any file: read
      // there, never taken literally.
      {"the section count in section 0",
       elf_edit::sectionCountInSectionZero,
       same,
       ElfVerdict::agrees,
       {}},
      {"the names' index in section 0",
       elf_edit::namesIndexInSectionZero,
       same,
       ElfVerdict::agrees,
       {}},
      {"the program header count in section 0",
       elf_edit::programCountInSectionZero,
       same,
       ElfVerdict::agrees,
       {}},
      {"all three in section 0",
       [](Bytes& e) {
         elf_edit::sectionCountInSectionZero(e);
         elf_edit::namesIndexInSectionZero(e);
         elf_edit::programCountInSectionZero(e);
       },
       same,
       ElfVerdict::agrees,
       {}},
      {"65536 program headers, the real ones last",
       [](Bytes& e) { elf_edit::programHeadersAtTheEnd(e, 65536); },
       same,
       ElfVerdict::agrees,
       {}},
      {"65536 program headers and a stale map",
       [](Bytes& e) { elf_edit::programHeadersAtTheEnd(e, 65536); },
       longer(4),
       ElfVerdict::disagrees,
       {"runs 4 bytes past the end of the flash content"}},
      {"a program count in section 0 without section headers",
       [&](Bytes& e) {
         strip(e);
         setHalf(e, 44, 0xFFFF);
       },
       same,
       ElfVerdict::unreadable,
       {"its program header count is kept in section 0, but the file has no section headers"},
       false,
       true},
      {"no count in e_shnum nor in section 0",
       [&](Bytes& e) { setHalf(e, 48, 0); },
       same,
       ElfVerdict::unreadable,
       {"has no entries: neither e_shnum nor section 0 gives a count"},
       false,
       true},
      {"more program headers than the file holds",
       [](Bytes& e) {
         elf_edit::programCountInSectionZero(e);
         elf_edit::put(e, elf_edit::sectionZero(e) + 28, 0x10000000, 4);
       },
       same,
       ElfVerdict::unreadable,
       {"(268435456 entries", "runs past the end"},
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes elf = original;
    c.alter(elf);
    ImageHeader h = header;
    c.alterHeader(h);
    // The code as pakforge reads it: appSize bytes from offset 0x20000.
    Bytes code = original;
    code.resize(std::max<std::size_t>(code.size(), 0x20000 + h.appSize));
    code = Bytes(code.begin() + 0x20000, code.begin() + 0x20000 + h.appSize);
    std::istringstream in(std::string(elf.begin(), elf.end()));
    const ElfCheck check = checkImageAgainstElf(
        in, elf.size(), h, {reinterpret_cast<const char*>(code.data()), code.size()});
    EXPECT_EQ(check.verdict, c.verdict) << check.problem;
    EXPECT_EQ(check.symbolsChecked, c.symbolsChecked);
    std::size_t at = 0;
    for (const std::string& piece : c.said) {
      at = check.problem.find(piece, at);
      EXPECT_NE(at, std::string::npos) << "no '" << piece << "' in: " << check.problem;
    }
    if (c.said.empty()) {
      EXPECT_EQ(check.problem, "");
    } else if (c.whole) {
      EXPECT_EQ(at + c.said.back().size(), check.problem.size()) << check.problem;
    }
  }
}

}  // namespace
}  // namespace pakforge
