// The link diagnosis on real links altered the ways a map or an ELF file
// goes wrong that the real-style scripts do not show: each gives the finding
// that names its cause, and nothing it does not have.
#include "linkdiag/link_diagnosis.h"

#include <functional>

#include "example_build.h"

namespace pakforge {
namespace {

using testing_support::Bytes;
using testing_support::readFile;
using testing_support::text;
using testing_support::writeFile;
using testing_support::writeText;
namespace fs = std::filesystem;

const fs::path kFirmware = PAKFORGE_FIRMWARE_DIR;

std::string replaced(std::string map, const std::string& from, const std::string& to) {
  const std::size_t at = map.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return at == std::string::npos ? map : map.replace(at, from.size(), to);
}

// The symbol table entry of a global symbol, found the plain way.
std::size_t symbolBind(const Bytes& elf, const std::string& name) {
  const auto word = [&](std::size_t at) {
    return static_cast<std::size_t>(elf[at] | elf[at + 1] << 8 | elf[at + 2] << 16 |
                                    elf[at + 3] << 24);
  };
  const std::size_t sections = word(32);
  for (std::size_t i = 0; i < static_cast<std::size_t>(elf[48] | elf[49] << 8); ++i) {
    const std::size_t header = sections + 40 * i;
    if (word(header + 4) != 2) {
      continue;
    }
    const std::size_t strings = word(sections + 40 * word(header + 24) + 16);
    for (std::size_t at = word(header + 16); at < word(header + 16) + word(header + 20); at += 16) {
      if (name == reinterpret_cast<const char*>(&elf[strings + word(at)]) &&
          elf[at + 12] >> 4 == 1) {
        return at + 12;
      }
    }
  }
  return 0;
}

TEST(LinkDiagnosis, EachAlteredLinkNamesItsCause) {
  struct Case {
    std::string what;
    std::string link;  // under the example firmware's prebuilt links
    std::function<std::string(std::string)> alterMap;
    std::function<void(Bytes&)> alterElf;
    std::string finding;  // the start of a finding's text, or of its fix
  };
  const auto same = [](std::string map) { return map; };
  const auto untouched = [](Bytes&) {};
  const std::vector<Case> cases = {
      {"a code section with a long name", "recipe",
       [](std::string map) {
         return replaced(map, ".text           0x08020000       0xf8",
                         ".text_application_code\n                0x08020000       0xf8");
       },
       untouched, "name the code's output section .text"},
      {"an assignment naming .data before .data", "recipe",
       [](std::string map) { return replaced(map, "_sidata = .", "_sidata = LOADADDR (.data)"); },
       untouched, "move that assignment after the .data section"},
      {"an end line from LLD that shows the location counter", "lld_forward", same, untouched,
       "move the location counter itself there"},
      {"a map from an earlier link", "stale", same, untouched,
       "link again, so that the map and the ELF file are from the same link"},
      {"loop only a local symbol", "recipe", same,
       [](Bytes& elf) {
         const std::size_t info = symbolBind(elf, "loop");
         elf[info] = static_cast<std::uint8_t>(elf[info] & 0x0F);
       },
       "make loop global (not static)"},
      {"no line with .data and a RAM address", "recipe",
       [](std::string map) {
         for (std::size_t at = map.find(".data"); at != std::string::npos; at = map.find(".data")) {
           map.replace(at, 5, ".dat_");
         }
         return map;
       },
       untouched, "no line of the map holds both .data and a RAM address"},
      {"a stack top at the end of RAM", "recipe",
       [](std::string map) {
         return replaced(map, "                0x20000000                        . = ADDR (.data)",
                         "                0x20008000                        _estack = 0x20008000");
       },
       untouched, "set the stack top at the end of a stack reservation"},
  };
  const fs::path dir = testing_support::makeTemporaryFolder();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    writeText(dir / "output.map", c.alterMap(text(readFile(kFirmware / c.link / "output.map"))));
    Bytes elf = readFile(kFirmware / c.link / "output.elf");
    c.alterElf(elf);
    writeFile(dir / "output.elf", elf);
    const LinkDiagnosis d =
        diagnoseLink((dir / "output.map").string(), (dir / "output.elf").string());
    std::string all;
    for (const LinkFinding& f : d.findings) {
      all += f.what + " | " + f.fix + "\n";
    }
    EXPECT_NE(all.find(c.finding), std::string::npos) << all;
  }
  // The links pakforge takes as they are have nothing to fix.
  for (const std::string link : {"recipe", "gc_first", "lld", "static_loop"}) {
    const LinkDiagnosis d = diagnoseLink((kFirmware / link / "output.map").string(),
                                         (kFirmware / link / "output.elf").string());
    EXPECT_TRUE(d.findings.empty()) << link << ": " << d.findings.front().what;
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace pakforge
