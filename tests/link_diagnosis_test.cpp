// The link diagnosis, one row per problem code: a real link, altered the one
// way that makes the problem where no committed link has it alone, gives
// exactly its set of codes. Every code has a row, a fix text and an
// explanation.
#include "linkdiag/link_diagnosis.h"
#include "linkdiag/detectors.h"

#include <algorithm>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>

#include "driver/build_image.h"
#include "elf_edit.h"
#include "example_build.h"

namespace pakforge {
namespace {

using testing_support::Bytes;
using testing_support::putWord;
using testing_support::readFile;
using testing_support::text;
using testing_support::writeFile;
using testing_support::writeText;
namespace fs = std::filesystem;

const fs::path kFirmware = PAKFORGE_FIRMWARE_DIR;
const fs::path kScripts = kFirmware / "../../linker-scripts";
const fs::path kContract = kFirmware / "../../contract/prebuilt";

// The diagnosis of the link in `folder` (output.map, output.elf).
LinkDiagnosis diagnosisOf(const fs::path& folder) {
  return diagnoseLink((folder / "output.map").string(), (folder / "output.elf").string());
}

std::string replaced(std::string map, const std::string& from, const std::string& to) {
  const std::size_t at = map.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return at == std::string::npos ? map : map.replace(at, from.size(), to);
}

std::string replacedAll(std::string map, const std::string& from, const std::string& to) {
  for (std::size_t at = map.find(from); at != std::string::npos; at = map.find(from, at)) {
    map.replace(at, from.size(), to);
    at += to.size();
  }
  return map;
}

std::uint32_t word(const Bytes& b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 | b[at + 3] << 24);
}

// The symbol table entry of the global symbol `name`, found the plain way.
std::size_t symbolEntry(const Bytes& elf, const std::string& name) {
  const std::size_t sections = word(elf, 32);
  for (std::size_t i = 0; i < static_cast<std::size_t>(elf[48] | elf[49] << 8); ++i) {
    const std::size_t header = sections + 40 * i;
    if (word(elf, header + 4) != 2) {
      continue;
    }
    const std::size_t strings = word(elf, sections + 40 * word(elf, header + 24) + 16);
    for (std::size_t at = word(elf, header + 16);
         at < word(elf, header + 16) + word(elf, header + 20); at += 16) {
      if (name == reinterpret_cast<const char*>(&elf[strings + word(elf, at)]) &&
          elf[at + 12] >> 4 == 1) {
        return at;
      }
    }
  }
  return 0;
}

// The second program header: the initial values of .data, in the example
// firmware's links.
std::size_t dataSegment(const Bytes& elf) {
  return word(elf, 28) + 32;
}

using MapChange = std::function<std::string(std::string)>;
using ElfChange = std::function<void(Bytes&)>;

struct Row {
  std::string what;
  fs::path link;
  MapChange alterMap;
  ElfChange alterElf;
  std::set<std::string> codes;
};

const MapChange sameMap = [](std::string map) { return map; };
const ElfChange sameElf = [](Bytes&) {};

// The end line of the example firmware's map at another address.
MapChange flashEndAt(const std::string& address) {
  return [address](std::string map) {
    return replaced(map, "0x0802010c                        _flash_end",
                    address + "                        _flash_end");
  };
}

const std::vector<Row>& rows() {
  static const std::vector<Row> table = {
      {"no line holds .text",
       kFirmware / "recipe",
       [](std::string map) {
         return replacedAll(replacedAll(map, ".text", ".txet"), ".data", ".dat_");
       },
       sameElf,
       {"PF101", "PF502"}},
      {".data before any .text",
       kFirmware / "recipe",
       [](std::string map) {
         return replaced(map, "Linker script and memory map\n",
                         "Linker script and memory map\n.data           0x20000000        0x0\n");
       },
       sameElf,
       {"PF102"}},
      {"a code section with a long name",
       kFirmware / "recipe",
       [](std::string map) {
         return replaced(map, ".text           0x08020000       0xf8",
                         ".text_application_code\n                0x08020000       0xf8");
       },
       sameElf,
       {"PF103"}},
      {"the first .text line in another output section",
       kFirmware / "recipe",
       [](std::string map) {
         return replaced(map, ".text           0x08020000",
                         ".vectors        0x08020000        0x0\n *(.text.reset)\n.text           "
                         "0x08020000");
       },
       sameElf,
       {"PF104"}},
      // A generated script's output section "text" after an empty one: the
      // code start line lies in "text", and there is no .text to move into.
      {"the code in an output section named text",
       kFirmware / "recipe",
       [](std::string map) {
         return replaced(map, ".text           0x08020000",
                         ".rela.dyn       0x08020000        0x0\ntext            0x08020000");
       },
       [](Bytes& elf) {
         const std::string name(".text");
         const auto at = std::search(elf.rbegin(), elf.rend(), name.rbegin(), name.rend());
         *(at + static_cast<long>(name.size()) - 1) = 'z';
       },
       {"PF101"}},
      {"a pattern line holding .text first",
       kFirmware / "recipe",
       [](std::string map) {
         return replaced(map, "Linker script and memory map\n",
                         "Linker script and memory map\n *(.text.reset)\n");
       },
       sameElf,
       {"PF105"}},
      {"a vector table and flash sections before .text (ST's CubeIDE script)",
       kScripts / "st_cubeide/stock/gnu",
       sameMap,
       sameElf,
       {"PF106", "PF201", "PF303", "PF401", "PF504"}},
      // The reservation of an MCUboot slot emptied, no -n: GNU ld loads
      // the file's own headers in the room before the code. -n alone would
      // put .text right after them, not at 0x200: it wants ALIGN(0x200) too.
      {"the ELF file's headers loaded before the code",
       kScripts / "mcuboot_slot/between/gnu",
       sameMap,
       sameElf,
       {"PF401", "PF504"}},
      {"the initial values loaded before the code",
       kFirmware / "recipe",
       sameMap,
       [](Bytes& e) { putWord(e, dataSegment(e) + 12, 0x0801FF00); },
       {"PF107", "PF210"}},
      // A map of another link that starts the range inside .text: no
      // move of .text into itself, but a new link.
      {"a map whose range starts inside .text",
       kFirmware / "recipe",
       [](std::string map) {
         return replaced(map, ".text           0x08020000", ".text           0x08020010");
       },
       sameElf,
       {"PF110"}},
      {"a map whose range starts before the flash content",
       kFirmware / "recipe",
       [](std::string map) {
         return replaced(map, ".text           0x08020000", ".text           0x08000000");
       },
       sameElf,
       {"PF108"}},
      {"nothing loaded into the flash",
       kFirmware / "recipe",
       sameMap,
       [](Bytes& e) {
         putWord(e, word(e, 28) + 12, 0x20004000);
         putWord(e, dataSegment(e) + 12, 0x20005000);
       },
       {"PF109", "PF603"}},
      {"an assignment naming .data before .data",
       kFirmware / "recipe",
       [](std::string map) { return replaced(map, "_sidata = .", "_sidata = LOADADDR (.data)"); },
       sameElf,
       {"PF201"}},
      // Its RAM report ends at the end of a heap that takes the RAM left,
      // which the firmware reserves: no PF504.
      {"RAM data in a section of another name, with more (RIOT's script)",
       kScripts / "riot/stock/gnu",
       sameMap,
       sameElf,
       {"PF202", "PF204", "PF208", "PF303", "PF401", "PF502"}},
      // .data's initial values after .bss's lines are what the end lines
      // must cover, not a RAM section to move into .data (PF212); under
      // LLD the alignment that ends .rodata is no flash section after the
      // range (PF207).
      {".bss first in RAM, .data after it (a bare-metal Rust script)",
       kScripts / "rust_bare/stock/gnu",
       sameMap,
       sameElf,
       {"PF106", "PF204", "PF208", "PF303", "PF401"}},
      {".bss first in RAM, .data after it, under LLD",
       kScripts / "rust_bare/stock/lld",
       sameMap,
       sameElf,
       {"PF106", "PF204", "PF208", "PF304", "PF401", "PF501"}},
      // A second RAM bank the device lacks, empty in this firmware: its
      // sections move into .data and .bss, never marked NOLOAD under LLD
      // (PF211). A second flash bank is no RAM bank.
      {"a RAM bank the device lacks (LPCXpresso's script)",
       kScripts / "lpcxpresso/stock/gnu",
       sameMap,
       sameElf,
       {"PF203", "PF204", "PF303", "PF306", "PF401", "PF507"}},
      {"a RAM bank the device lacks, under LLD",
       kScripts / "lpcxpresso/stock/lld",
       sameMap,
       sameElf,
       {"PF203", "PF204", "PF304", "PF306", "PF401", "PF501", "PF507"}},
      // Empty sections where GNU ld's own script left the location
      // counter (0x8000) are no RAM bank.
      {"empty sections outside any region (nRF5 SDK's script)",
       kScripts / "nrf5_sdk/recipe/gnu",
       sameMap,
       sameElf,
       {"PF504"}},
      {"a table in a flash bank past the application's flash",
       kScripts / "apps_region/stock/gnu",
       sameMap,
       sameElf,
       {"PF209", "PF402", "PF504", "PF601"}},
      {"a pattern holding .data before .data (picolibc's script)",
       kScripts / "picolibc/stock/gnu",
       sameMap,
       sameElf,
       {"PF104", "PF203", "PF204", "PF208", "PF401", "PF504"}},
      {"no end line after the initial values",
       kFirmware / "recipe",
       flashEndAt("0x080200f8"),
       sameElf,
       {"PF204"}},
      {"an end line from LLD that shows the location counter",
       kFirmware / "lld_forward",
       sameMap,
       sameElf,
       {"PF205"}},
      {"an end line inside .text, before the initial values",
       kFirmware / "recipe",
       flashEndAt("0x080200f0"),
       sameElf,
       {"PF204"}},
      {"an end line inside .text, no initial values in the flash",
       kFirmware / "recipe",
       flashEndAt("0x080200f0"),
       [](Bytes& e) { putWord(e, dataSegment(e) + 12, 0x20000000); },
       {"PF206", "PF603"}},
      {"an end line in RAM", kFirmware / "recipe", flashEndAt("0x20000800"), sameElf, {"PF209"}},
      {"a flash section after the end of the range",
       kFirmware / "lld",
       [](std::string map) {
         return replaced(map, " 8020148  8020148        0     1 _flash_end = .",
                         " 8020124  8020124        0     1 _flash_end = .");
       },
       sameElf,
       {"PF204", "PF207"}},
      {"a RAM section between the flash sections and .data",
       kFirmware / "recipe",
       [](std::string map) {
         return replaced(map, "\n.data           0x20000000",
                         "\n._stack         0x20007c00      0x400\n.data           0x20000000");
       },
       sameElf,
       {"PF208"}},
      {"a range past the flash content",
       kFirmware / "recipe",
       flashEndAt("0x08020114"),
       sameElf,
       {"PF210"}},
      {"a RAM reservation loaded by LLD (ST's Atollic-era script)",
       kScripts / "st_atollic/stock/lld",
       sameMap,
       sameElf,
       {"PF106", "PF204", "PF211", "PF401", "PF403", "PF501", "PF504"}},
      {"a map from an earlier link", kFirmware / "stale", sameMap, sameElf, {"PF210", "PF301"}},
      {"loop only a local symbol",
       kFirmware / "recipe",
       sameMap,
       [](Bytes& e) {
         const std::size_t at = symbolEntry(e, "loop");
         e[at + 12] = static_cast<std::uint8_t>(e[at + 12] & 0x0F);
       },
       {"PF302"}},
      {"tables discarded by --gc-sections (libopencm3's script)",
       kScripts / "libopencm3/stock/gnu",
       sameMap,
       sameElf,
       {"PF204", "PF303", "PF401", "PF504"}},
      {"a table neither in the map nor in the ELF file",
       kFirmware / "recipe",
       [](std::string map) {
         return replaced(map, " ModbusIGroups_Table\n", " ModbusIGroups_Tabel\n");
       },
       [](Bytes& e) { putWord(e, symbolEntry(e, "ModbusIGroups_Table"), 0); },
       {"PF304"}},
      {"__entryPoint__ before the code range",
       kFirmware / "recipe",
       [](std::string map) {
         return replaced(replaced(map, ".text           0x08020000", ".text           0x08020044"),
                         " __entryPoint__\n", " __entryPoint_\n");
       },
       sameElf,
       {"PF110", "PF305"}},
      {"the tables after the code range",
       kFirmware / "recipe",
       [](std::string map) {
         return replaced(map, " *(.rodata.Modbus*)", " *(.rodata.Modbus*) .data");
       },
       sameElf,
       {"PF203", "PF204", "PF306"}},
      {"a map without loop's line",
       kFirmware / "recipe",
       [](std::string map) { return replaced(map, " loop\n", " lo0p\n"); },
       sameElf,
       {"PF307"}},
      {"the code elsewhere in the file", kFirmware / "small", sameMap, sameElf, {"PF401"}},
      {"segments aligned to pages", kFirmware / "pagesize", sameMap, sameElf, {"PF402"}},
      {"8-aligned initial values at a 4-aligned address (Mbed's script)",
       kScripts / "mbed/stock/gnu",
       sameMap,
       sameElf,
       {"PF204", "PF303", "PF401", "PF403", "PF504"}},
      {"the RAM data's start from a later line",
       kFirmware / "vendor",
       sameMap,
       sameElf,
       {"PF201", "PF501"}},
      {"no line with .data and a RAM address",
       kFirmware / "recipe",
       [](std::string map) { return replacedAll(map, ".data", ".dat_"); },
       sameElf,
       {"PF202", "PF502"}},
      {"a RAM bank the device lacks",
       kFirmware / "recipe",
       [](std::string map) {
         return replaced(map, "0x2000001c                        _ebss",
                         "0x20020000                        _ebss");
       },
       sameElf,
       {"PF503"}},
      {"a stack top at the end of RAM",
       kFirmware / "recipe",
       [](std::string map) {
         return replaced(map, "                0x20000000                        . = ADDR (.data)",
                         "                0x20008000                        _estack = 0x20008000");
       },
       sameElf,
       {"PF504"}},
      {"initial values past the application's flash",
       kFirmware / "recipe",
       sameMap,
       [](Bytes& e) { putWord(e, dataSegment(e) + 12, 0x0803FE00); },
       {"PF210", "PF601"}},
      {"initial values over the code",
       kFirmware / "recipe",
       sameMap,
       [](Bytes& e) { putWord(e, dataSegment(e) + 12, 0x08020010); },
       {"PF210", "PF602"}},
      // Initial values loaded into RAM, as real links of two wrong scripts
      // make them, under both linkers.
      {"_sidata taken from a RAM section's counter",
       kFirmware / "ram_counter",
       sameMap,
       sameElf,
       {"PF208", "PF603"}},
      {"_sidata taken from a RAM section's counter, LLD",
       kFirmware / "ram_counter_lld",
       sameMap,
       sameElf,
       {"PF208", "PF603"}},
      // Code run from RAM after .bss: its bytes are contents, not a
      // reservation, so the fix moves it into .data and never marks it
      // NOLOAD; the file offset it leaves has no fix of its own.
      {"a RAM function after .bss",
       kScripts / "ram_code/stock/gnu",
       sameMap,
       sameElf,
       {"PF212", "PF404"}},
      {"a RAM function after .bss, LLD",
       kScripts / "ram_code/stock/lld",
       sameMap,
       sameElf,
       {"PF212", "PF404"}},
      // loop defined by the script: the map is right, its line unreadable
      // to the symbol scan; the fix is in the firmware.
      {"loop = app_loop in the script", kFirmware / "loop_assigned", sameMap, sameElf, {"PF308"}},
      {"a static loop listed last under LLD",
       kFirmware / "lld_static_loop",
       sameMap,
       sameElf,
       {"PF309"}},
      {"a symbol table stripped of four names",
       kFirmware / "partly_stripped",
       sameMap,
       sameElf,
       {"PF310"}},
      // A code start no alignment of .text brings to the derived offset
      // without moving the code: the fix is where the code starts.
      {"the flash from 0x08023000", kFirmware / "odd_start", sameMap, sameElf, {"PF405"}},
      {"the flash from 0x08000000", kFirmware / "flash_base", sameMap, sameElf, {"PF405"}},
      // Every section is read, however many come before the real ones.
      {"1100 empty sections first",
       kFirmware / "recipe",
       sameMap,
       [](Bytes& e) { testing_support::elf_edit::emptySectionsFirst(e, 1100); },
       {}},
      {"1100 empty sections first, initial values over the code",
       kFirmware / "recipe",
       sameMap,
       [](Bytes& e) {
         testing_support::elf_edit::emptySectionsFirst(e, 1100);
         putWord(e, dataSegment(e) + 12, 0x08020010);
       },
       {"PF210", "PF602"}},
      // The firmware's own needs, from links a wrong edit left.
      {"the vector table behind a KEEP",
       kContract / "vector_behind",
       sameMap,
       sameElf,
       {"PF111", "PF504"}},
      {"the stack top past the device's RAM", kContract / "big_ram", sameMap, sameElf, {"PF505"}},
      {".data run in the flash", kContract / "data_in_flash", sameMap, sameElf, {"PF506"}},
      {"a heap in a RAM bank the device lacks",
       kContract / "heap_in_bank",
       sameMap,
       sameElf,
       {"PF504", "PF507"}},
      // The zeros of .bss that LLD writes for an empty section after it:
      // bytes no section names, which the build and the diagnosis both
      // tie to that section.
      {"an empty RAM section after .bss, not NOLOAD, LLD",
       kFirmware / "empty_after_bss_lld",
       sameMap,
       sameElf,
       {"PF211"}},
      {".data AT> RAM", kFirmware / "at_ram", sameMap, sameElf, {"PF603"}},
      {".data AT> RAM, LLD", kFirmware / "at_ram_lld", sameMap, sameElf, {"PF603"}},
      // Zero bytes loaded where they run are no firmware; loaded elsewhere
      // they are a copy source.
      {"zero initial values loaded where they run",
       kFirmware / "at_ram",
       sameMap,
       [](Bytes& e) { std::fill_n(e.begin() + word(e, dataSegment(e) + 4), 20, 0); },
       {}},
      {"zero initial values loaded at address 0",
       kFirmware / "at_ram",
       sameMap,
       [](Bytes& e) {
         std::fill_n(e.begin() + word(e, dataSegment(e) + 4), 20, 0);
         putWord(e, dataSegment(e) + 12, 0);
       },
       {"PF603"}},
  };
  return table;
}

std::set<std::string> codesOf(const LinkDiagnosis& d) {
  std::set<std::string> codes;
  for (const LinkFinding& f : d.findings) {
    codes.emplace(f.code());
  }
  return codes;
}

std::string listed(const std::set<std::string>& codes) {
  std::string text;
  for (const std::string& c : codes) {
    text += c + " ";
  }
  return text;
}

TEST(LinkDiagnosis, EachLinkGivesExactlyItsCodes) {
  const fs::path dir = testing_support::makeTemporaryFolder();
  for (const Row& row : rows()) {
    SCOPED_TRACE(row.what);
    writeText(dir / "output.map", row.alterMap(text(readFile(row.link / "output.map"))));
    Bytes elf = readFile(row.link / "output.elf");
    row.alterElf(elf);
    writeFile(dir / "output.elf", elf);
    const LinkDiagnosis d = diagnosisOf(dir);
    std::string all;
    for (const LinkFinding& f : d.findings) {
      all += std::string(f.code()) + " " + f.what + " | " + f.fix + "\n";
    }
    EXPECT_EQ(listed(codesOf(d)), listed(row.codes)) << all;
    // One voice: the build's refusal is one of these findings, and
    // aelfdump's verdict is that refusal.
    const BuildPreview verdict = previewBuild(d);
    const std::size_t at = verdict.message.find("[PF");
    if (at != std::string::npos) {
      EXPECT_TRUE(codesOf(d).contains(verdict.message.substr(at + 1, 5))) << verdict.message << "\n"
                                                                          << all;
    }
  }
  // The links pakforge takes as they are have nothing to fix.
  for (const fs::path& link :
       {kFirmware / "recipe", kFirmware / "gc_first", kFirmware / "lld", kFirmware / "static_loop",
        kFirmware / "../../template/prebuilt/gnu", kFirmware / "../../template/prebuilt/lld"}) {
    const LinkDiagnosis d = diagnosisOf(link);
    EXPECT_EQ(listed(codesOf(d)), "") << link;
  }
  fs::remove_all(dir);
}

TEST(LinkRules, EveryCodeHasAFixAnExplanationAndARow) {
  std::set<std::string> covered;
  for (const Row& row : rows()) {
    covered.insert(row.codes.begin(), row.codes.end());
  }
  std::set<std::string> codes;
  std::set<std::pair<int, int>> ranks;  // (before the range, after it or the RAM's; rank)
  for (const RuleInfo& rule : allRules()) {
    SCOPED_TRACE(rule.code);
    EXPECT_TRUE(codes.insert(std::string(rule.code)).second) << "a code given twice";
    if (rule.refusal.explains != Explains::none) {
      // The rules of one refusal are said in the order of their ranks.
      const Explains e = rule.refusal.explains;
      const int group = e == Explains::codeStart || e == Explains::rangeStart ? 0
                        : e == Explains::ramReport                            ? 2
                                                                              : 1;
      EXPECT_TRUE(ranks.insert({group, rule.refusal.rank}).second) << "a rank given twice";
    }
    EXPECT_EQ(findRule(rule.code), &rule);
    EXPECT_FALSE(rule.fix.empty());
    EXPECT_FALSE(rule.topic.empty());
    EXPECT_NE(rule.explanation.find("Fix"), std::string_view::npos);
    EXPECT_NE(rule.explanation.find("LLD"), std::string_view::npos);
    EXPECT_EQ(covered.count(std::string(rule.code)), 1u) << "no row";
  }
  // The man page has a paragraph for each, word for word the table's: the
  // topic and the explanation's first paragraph, then its Fix paragraph.
  std::string man = text(readFile(kFirmware / "../../../doc/aelfdump.1"));
  for (const auto& [escaped, plain] : {std::pair<std::string, std::string>{"\\(aq", "'"},
                                       std::pair<std::string, std::string>{"\\-", "-"}}) {
    for (std::size_t at = man.find(escaped); at != std::string::npos; at = man.find(escaped, at)) {
      man.replace(at, escaped.size(), plain);
      at += plain.size();
    }
  }
  const auto joined = [](std::string_view paragraph) {
    std::string words;
    std::istringstream in{std::string(paragraph)};
    for (std::string word; in >> word;) {
      words += (words.empty() ? "" : " ") + word;
    }
    return words;
  };
  for (const RuleInfo& rule : allRules()) {
    SCOPED_TRACE(rule.code);
    const std::string_view explanation = rule.explanation;
    const std::size_t fixAt = explanation.find("\n\nFix");
    ASSERT_NE(fixAt, std::string_view::npos);
    const std::size_t fixEnd = explanation.find("\n\n", fixAt + 2);
    const std::string expected =
        "\n.B " + std::string(rule.code) + "\n(" + std::string(rule.topic) + ") " +
        joined(explanation.substr(0, explanation.find("\n\n"))) + "\n" +
        joined(explanation.substr(fixAt + 2, fixEnd == std::string_view::npos
                                                 ? std::string_view::npos
                                                 : fixEnd - fixAt - 2)) +
        "\n";
    EXPECT_NE(man.find(expected), std::string::npos) << "not in aelfdump(1):" << expected;
  }
  EXPECT_EQ(findRule("pf204"), &ruleInfo(Rule::noEndLine));
  EXPECT_EQ(findRule("PF999"), nullptr);
  EXPECT_EQ(fixText(Rule::symbolLocalOnly, {"loop"}), "make loop global (not static)");
}

// A line holding .data longer than any buffer the map is read through: the
// symbol scan takes it for the data line, and so does the diagnosis, which
// names that line, not a later one.
TEST(LinkDiagnosis, ALongDataLineIsTheOneTheScanTakes) {
  const fs::path dir = testing_support::makeTemporaryFolder();
  writeFile(dir / "output.elf", readFile(kFirmware / "recipe/output.elf"));
  const std::string map = text(readFile(kFirmware / "recipe/output.map"));
  const std::string end = "_flash_end = .\n";
  const std::size_t line = static_cast<std::size_t>(
      std::count(map.begin(), map.begin() + static_cast<long>(map.find(end)), '\n') + 2);
  for (const std::size_t length : {5000u, 300000u}) {
    SCOPED_TRACE(length);
    writeText(dir / "output.map", replaced(map, end, end + std::string(length, 'x') + " .data\n"));
    const LinkDiagnosis d = diagnosisOf(dir);
    EXPECT_EQ(d.outline.dataLine.number, line);
    EXPECT_EQ(d.outline.dataLine.text, std::string(MapLine::kMaxText, 'x'));
    EXPECT_EQ(listed(codesOf(d)), "PF203 ");
  }
  fs::remove_all(dir);
}

// The fixes a plan writes: the patterns the map shows, in order, and what
// the fixes cause foreseen.
TEST(LinkDiagnosis, FixesWriteWhatTheMapShows) {
  const LinkDiagnosis cubeide = diagnosisOf(kScripts / "st_cubeide/stock/gnu");
  const auto moves = findingsOf(cubeide, Rule::flashBeforeRange);
  ASSERT_EQ(moves.size(), 1u);
  EXPECT_EQ(moves[0]->lines, std::vector<std::string>{"KEEP(*(.isr_vector))"});
  // libopencm3's table is in .vectors; nothing of .isr_vector is named.
  const LinkDiagnosis chibios = diagnosisOf(kScripts / "chibios/stock/gnu");
  const auto vectors = findingsOf(chibios, Rule::flashBeforeRange);
  ASSERT_EQ(vectors.size(), 1u);
  EXPECT_EQ(vectors[0]->fix.find(".isr_vector"), std::string::npos) << vectors[0]->fix;
  for (const std::string& line : vectors[0]->lines) {
    EXPECT_EQ(line.find(".isr_vector"), std::string::npos) << line;
  }
}

// The room a FILL keeps for a slot header is emptied where it stands, never
// moved into .text before the vector table; GNU ld does not load it at all.
TEST(LinkDiagnosis, FilledRoomBeforeTheCodeIsEmptiedNotMoved) {
  const LinkDiagnosis lld = diagnosisOf(kScripts / "mcuboot_slot/stock/lld");
  const auto found = findingsOf(lld, Rule::flashBeforeRange);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0]->sections, std::vector<std::string>{".mcuboot_header"});
  EXPECT_TRUE(found[0]->fix.starts_with("empty .mcuboot_header where it stands")) << found[0]->fix;
  EXPECT_EQ(found[1]->sections, std::vector<std::string>{".vector_table"});
  EXPECT_EQ(found[1]->fix.find(".mcuboot_header"), std::string::npos) << found[1]->fix;
  const LinkDiagnosis gnu = diagnosisOf(kScripts / "mcuboot_slot/stock/gnu");
  for (const LinkFinding* f : findingsOf(gnu, Rule::flashBeforeRange)) {
    EXPECT_EQ(f->sections, std::vector<std::string>{".vector_table"});
  }
  // .text aligned for where the code starts once the vector table is in
  // it (0x08020200), not for the code range's start today (0x08020440);
  // -n alone would put it right after the file's headers.
  const auto aligned = findingsOf(gnu, Rule::textNotAtOffset);
  ASSERT_EQ(aligned.size(), 1u);
  EXPECT_EQ(aligned[0]->align, 0x200u);
  EXPECT_EQ(aligned[0]->lines, std::vector<std::string>{".text : ALIGN(0x200)"});
}

// Given the script's own AT(SYMBOL) for the RAM data (Atmel's .relocate
// AT (_etext)), the end lines start from it, as --fix writes them; without
// the script, from the recipe's name.
TEST(LinkDiagnosis, EndLinesStartFromTheScriptsOwnLoadSymbol) {
  const fs::path link = kScripts / "atmel_asf/stock/gnu";
  const std::string map = (link / "output.map").string();
  const std::string elf = (link / "output.elf").string();
  for (const auto& [symbols, start] :
       {std::pair<std::vector<std::pair<std::string, std::string>>, std::string>{
            {{".relocate", "_etext"}}, "_etext"},
        std::pair<std::vector<std::pair<std::string, std::string>>, std::string>{
            {{".text", "_other"}}, "_sidata"}}) {
    SCOPED_TRACE(start);
    const LinkDiagnosis d = diagnoseLink(map, elf, nullptr, ScriptSays{symbols, {}});
    const auto found = findingsOf(d, Rule::noEndLine);
    ASSERT_EQ(found.size(), 1u);
    const std::vector<std::string>& lines = found[0]->lines;
    const auto has = [&lines](const std::string& line) {
      return std::find(lines.begin(), lines.end(), line) != lines.end();
    };
    EXPECT_TRUE(has(". = " + start + " + _data_image_size;")) << found[0]->oneLineFix();
    // The script's own symbol stays where the script sets it.
    EXPECT_EQ(has(start + " = .;"), start == "_sidata") << found[0]->oneLineFix();
  }
}

// A RAM section PF208 moves after .bss is marked NOLOAD as well where the
// file holds its zeros (LLD's reservation), not where it holds none (GNU
// ld's, the same script).
TEST(LinkDiagnosis, MovedReservationsWhoseZerosTheFileHolds) {
  for (const auto& [link, noLoad] :
       {std::pair<std::string, std::vector<std::string>>{"lld", {".vector_relocation"}},
        std::pair<std::string, std::vector<std::string>>{"gnu", {}}}) {
    SCOPED_TRACE(link);
    const fs::path folder = kScripts / "mynewt/stock" / link;
    const LinkDiagnosis d = diagnosisOf(folder);
    const auto found = findingsOf(d, Rule::ramSectionsBeforeData);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0]->sections, std::vector<std::string>{".vector_relocation"});
    EXPECT_EQ(found[0]->noLoad, noLoad);
    EXPECT_EQ(found[0]->fix.find("NOLOAD") != std::string::npos, !noLoad.empty()) << found[0]->fix;
  }
}

// The end lines take the names --fix writes: the recipe's, unless the link
// has them already; the size is SIZEOF(.data), whatever .data's bounds are
// called. Past a RAM section that stays before .data (a NOLOAD stack, an
// empty RAM section), the location counter is a RAM address, and the
// initial values start where the last flash section's load image ends.
TEST(LinkDiagnosis, EndLinesTakeTheNamesTheLinkLacks) {
  struct NamesRow {
    fs::path link;
    Rule rule;
    std::string start;
  };
  const std::vector<NamesRow> rows = {
      {kScripts / "nuttx/stock/gnu", Rule::noEndLine, "_sidata = .;"},
      {kScripts / "st_cubeide/stock/gnu", Rule::dataLineAssignment, "_data_image_start = .;"},
      {kScripts / "atmel_asf/stock/gnu", Rule::noEndLine, "_sidata = .;"},
      {kScripts / "tinygo/stock/gnu", Rule::dataLineAssignment,
       "_data_image_start = LOADADDR(.text) + SIZEOF(.text);"},
      {kScripts / "freertos_mpu/stock/lld", Rule::dataLineAssignment,
       "_data_image_start = LOADADDR(.text) + SIZEOF(.text);"},
      // Before the script's own ". = ORIGIN(RAM);", where the counter is
      // still in the flash.
      {kScripts / "hc32l110/stock/gnu", Rule::dataLineAssignment, "_sidata = .;"},
      {kScripts / "hc32l110/stock/lld", Rule::dataLineAssignment, "_sidata = .;"},
  };
  for (const NamesRow& row : rows) {
    SCOPED_TRACE(row.link.string());
    const LinkDiagnosis d = diagnosisOf(row.link);
    const auto found = findingsOf(d, row.rule);
    ASSERT_EQ(found.size(), 1u);
    const std::vector<std::string>& lines = found[0]->lines;
    EXPECT_NE(std::find(lines.begin(), lines.end(), row.start), lines.end())
        << found[0]->oneLineFix();
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(lines.back().ends_with(" = SIZEOF(.data);")) << lines.back();
    // Said where they go when that line stands before .data, and only then.
    EXPECT_EQ(lines.front().find(". = ORIGIN (") != std::string::npos,
              row.link.string().find("hc32l110") != std::string::npos)
        << lines.front();
  }
}

}  // namespace
}  // namespace pakforge

namespace pakforge {
namespace {

// LLD writes an alignment wider than its column (.text's 131072) and moves
// the section's name right: it is still the section's line.
TEST(MapOutline, LldSectionLinesWhateverTheirAlignment) {
  std::ifstream map(kFirmware / "lld/output.map", std::ios::binary);
  const MapOutline outline = outlineMap(map);
  ASSERT_TRUE(outline.lld);
  ASSERT_FALSE(outline.sections.empty());
  EXPECT_EQ(outline.sections.front().name, ".text");
  EXPECT_EQ(outline.sections.front().address, 0x08020000U);
  // Its LMA column, where it differs from the VMA.
  EXPECT_FALSE(outline.sections.front().haveLoad);
  const auto data = std::find_if(outline.sections.begin(), outline.sections.end(),
                                 [](const MapSection& s) { return s.name == ".data"; });
  ASSERT_NE(data, outline.sections.end());
  EXPECT_TRUE(data->haveLoad);
  EXPECT_EQ(data->load, 0x08020134U);
}

}  // namespace
}  // namespace pakforge

namespace pakforge {
namespace {

// The load address GNU ld's map shows for a section loaded apart from where
// it runs, and the sections the flash loads right after .data: the
// script says what an empty one is; without it, only the ELF file's bytes.
TEST(MapOutline, SectionsTheFlashLoadsAfterData) {
  std::istringstream map(
      "Memory Configuration\n\nLinker script and memory map\n\n"
      ".text           0x08020000      0x100\n *(.text*)\n\n"
      ".data           0x20000000       0x18 load address 0x08020100\n *(.data .data.*)\n\n"
      ".igot.plt       0x20000018        0x0 load address 0x08020118\n\n"
      ".tdata          0x20000018        0x0 load address 0x08020118\n *(.tdata .tdata.*)\n\n"
      ".bss            0x20000018        0x8 load address 0x08020118\n *(.bss*)\n");
  const MapOutline o = outlineMap(map);
  ASSERT_EQ(o.sections.size(), 5U);
  EXPECT_FALSE(o.sections[0].haveLoad);
  EXPECT_TRUE(o.sections[1].haveLoad);
  EXPECT_EQ(o.sections[1].load, 0x08020100U);
  const detect::ElfFacts noBytes;
  ScriptSays says;
  says.loadRegionOnly = {{".text", false}, {".data", true}, {".tdata", true}, {".bss", false}};
  EXPECT_EQ(detect::copiedAfterData(o, noBytes, says), std::vector<std::string>{".tdata"});
  says.loadRegionOnly[2].second = false;  // .tdata (NOLOAD)
  EXPECT_EQ(detect::copiedAfterData(o, noBytes, says), std::vector<std::string>{});
  EXPECT_EQ(detect::copiedAfterData(o, noBytes, {}), std::vector<std::string>{});
}

}  // namespace
}  // namespace pakforge
