// pakforge on real arm-none-eabi links of the example firmware
// (examples/firmware/build.sh): each link variant gives the verdict it
// should, and a good link gives exactly the flash content and symbols that
// binutils report for it.
#include <algorithm>
#include <functional>
#include <map>
#include <sstream>

#include "elf_edit.h"
#include "example_build.h"

namespace {

using namespace pakforge::testing_support;
namespace elf_edit = pakforge::testing_support::elf_edit;

const fs::path kFirmware = PAKFORGE_FIRMWARE_DIR;

// The five header fields at offsets 0 to 16, from nm's listing.
std::map<std::string, std::uint32_t> nmSymbols(const fs::path& file) {
  std::map<std::string, std::uint32_t> symbols;
  std::istringstream in(text(readFile(file)));
  std::string address, kind, name;
  while (in >> address >> kind >> name) {
    symbols[name] = static_cast<std::uint32_t>(std::stoul(address, nullptr, 16));
  }
  return symbols;
}

std::uint32_t wordAt(const Bytes& bytes, std::size_t offset) {
  std::uint32_t value = 0;
  for (std::size_t i = 4; i-- > 0;) {
    value = (value << 8) | bytes[offset + i];
  }
  return value;
}

class Firmware : public ExampleBuild {};

TEST_F(Firmware, EachLinkGivesItsVerdict) {
  struct Case {
    std::string variant;
    int status;
    std::vector<std::string> said;     // pieces of the message line, in order
    std::vector<std::string> notSaid;  // advice the link already follows
    // A change to the link's map or ELF file, for the cases a link can't make.
    std::function<void(std::string& map, Bytes& elf)> alter = nullptr;
  };
  // A map whose code range ends `by` bytes after the flash content does.
  const auto flashEndLater = [](std::uint32_t by) {
    return [by](std::string& map, Bytes&) {
      const std::size_t at = map.find("0x0802010c                        _flash_end");
      char end[11];
      std::snprintf(end, sizeof end, "0x%08x", 0x0802010cu + by);
      map.replace(at, 10, end);
    };
  };
  // The section header table gone, as after strip or with e_shoff 0.
  const auto stripped = [](std::string&, Bytes& elf) {
    std::fill_n(elf.begin() + 32, 4, 0);
    std::fill_n(elf.begin() + 48, 2, 0);
  };
  // The map's first line holding .text from another link, one that starts
  // the range before the flash content: the image would carry the ELF
  // file's own first bytes (its headers, zeros) below the application.
  const auto codeStartAt = [](const std::string& address) {
    return [address](std::string& map, Bytes&) {
      map.replace(map.find(".text           0x08020000"), 26, ".text           " + address);
    };
  };
  // The hint's command, quoted as the system's shell reads it back.
  const std::string seeAll =
      isPosix() ? "aelfdump --link ./../output.map ./../output.elf lists all"
                : "aelfdump --link \"./../output.map\" \"./../output.elf\" lists all";
  // Every refused link here was made with -n but "pagesize", and with .text
  // aligned to 0x20000 but "small".
  const std::vector<std::string> aligned = {"link with -n", "align .text"};
  const std::vector<Case> cases = {
      {"recipe", 0, {"successfully"}, {"unchecked"}},
      {"static_loop", 0, {"successfully"}, {}},
      {"reordered", 0, {"successfully"}, {}},
      {"gc_first", 0, {"successfully"}, {}},
      {"gc_last", 0, {"successfully"}, {}},
      {"lld", 0, {"successfully"}, {}},
      {"lld_forward",
       252,
       {"does not match the image: [PF205] the code range ends at 0x08020134, at map line 25",
        "leaves out .data (20 bytes at 0x08020134): in a map from LLD",
        "aelfdump --explain PF205 explains it; "},
       aligned},
      {"pagesize",
       252,
       {"Elf file './../output.elf' does not match the image: [PF402] the code differs from the "
        "ELF "
        "at ",
        ": the ELF file holds the flash content at 0x080200F8 at file offset 0x21000, but "
        "pakforge reads it from 0x200F8",
        "; link with -n"},
       {"align .text"}},
      {"vendor",
       252,
       {"does not match the image: [PF201] the ELF loads 20 bytes at 0x080200F8 that the code "
        "range 0x08020000-0x080200F8 leaves out: the first line holding .data after the code "
        "start, map line 54 (",
        "an assignment that names .data in an expression; move that assignment after the .data "
        "section",
        "aelfdump --explain PF201 explains it"},
       {"link with -n", "align .text", "LLD"}},
      {"small",
       252,
       {"does not match the image: [PF401] the ELF file holds the flash content at 0x08020000 "
        "at file offset 0x74, but pakforge reads it from 0x20000",
        "; align .text to 0x20000 (ALIGN(0x20000))"},
       {"link with -n"}},
      {"stale",
       252,
       {"does not match the image: [PF301] ModbusHGroups_Table is at 0x080200C4 in the ELF file",
        "but the map gives 0x080200C8", "link again"},
       aligned},
      // Initial values of .data loaded into RAM, where no image carries them.
      {"at_ram",
       252,
       {"does not match the image: [PF603] the ELF loads 20 bytes at 0x20000000 (section .data, "
        "which "
        "runs in RAM at 0x20000000), outside the flash: no image can carry them; load the "
        "initial values of .data into the flash after the code"},
       aligned},
      {"at_ram_lld", 252, {"the ELF loads 20 bytes at 0x20000000 (section .data"}, aligned},
      // .data run in the flash, where the location counter stood: nothing
      // the start-up writes there stays.
      {"../../contract/prebuilt/data_in_flash",
       252,
       {"does not match the image: [PF506] .data runs at 0x080201A4, outside the device's RAM "
        "(0x20000000-0x20008000)",
        "run .data in the device's RAM"},
       {}},
      // A heap in a RAM bank of a larger part, which the device lacks: an
      // image of a firmware whose first allocation faults.
      {"../../contract/prebuilt/heap_in_bank",
       252,
       {"does not match the image: [PF507] .heap runs at 0x10000000 (2048 bytes), outside the "
        "device's RAM (0x20000000-0x20008000) and the flash",
        "move what .heap holds into .bss, in the device's RAM"},
       {}},
      {"ram_counter", 252, {"the ELF loads 20 bytes at 0x20000010 (section .data"}, aligned},
      {"ram_counter_lld", 252, {"the ELF loads 20 bytes at 0x20000010 (section .data"}, aligned},
      // The code range must end where the flash content does: a map from a
      // link with more initial values of .data, or a longer one than the
      // file, would put bytes the ELF does not load into the image.
      {"recipe",
       252,
       {"the code range 0x08020000-0x08020114 runs 8 bytes past the end of the flash content the "
        "ELF loads, 0x0802010C"},
       aligned,
       flashEndLater(8)},
      {"recipe",
       252,
       {"runs 4096 bytes past the end of the flash content"},
       aligned,
       flashEndLater(0x1000)},
      {"recipe",
       0,
       {"\nThe five symbol addresses were taken from the map file unchecked: the ELF file "
        "'./../output.elf' has no symbol table\nAELF file",
        "successfully"},
       {},
       stripped},
      {"recipe",
       252,
       {"[PF108] the code range starts at 0x08000000, at map line 14 (",
        "131072 bytes before the flash content the ELF loads, .text (248 bytes at 0x08020000)",
        "link again"},
       aligned,
       codeStartAt("0x08000000")},
      {"recipe",
       252,
       {"[PF108] the code range starts at 0x08010000", "65536 bytes before the flash content"},
       aligned,
       codeStartAt("0x08010000")},
      {"recipe",
       252,
       {"[PF108] the code range starts at 0x0801FFFC", "4 bytes before the flash content"},
       aligned,
       codeStartAt("0x0801fffc")},
      // Another link's map with an ELF file of the same flash length: the
      // symbol table tells.
      {"reordered",
       252,
       {"[PF301] ModbusHGroups_Table is at 0x080200A8 in the ELF file, in .text, but the map gives "
        "0x080200C4"},
       aligned,
       [](std::string& map, Bytes&) { map = text(readFile(kFirmware / "recipe/output.map")); }},
      {"stale", 252, {"the code range 0x08020000-0x08020110 runs 4 bytes past"}, aligned, stripped},
      {"lld_static_loop",
       252,
       {"does not match the image: [PF309] loop is at 0x08020067 in the ELF file, in .text, but "
        "the map gives 0x080200B9 (map line 11 (",
        "the address of a file-local loop (static) that the map lists after the global one",
        "rename the file-local loop"},
       {"earlier link"}},
      {"loop_assigned",
       254,
       {"\nfunc loop not found\nloop is at 0x08020045 in the ELF file, in .text, but the map gives "
        "it by the script's assignment",
        "define loop in the firmware instead of the script's assignment", "[PF308: "},
       {"give pakforge the map"}},
      // A wrong file: the message as ever, then a line that says what it is.
      {"recipe",
       254,
       {"\naddrExe not found",
        "\nThe map file './../output.map' is an ELF file, not the linker's "
        "map: -m takes the map (the link writes it with -Wl,-Map=FILE), -f the ELF file\n"},
       {"aelfdump --link"},
       [](std::string& map, Bytes& elf) {
         const Bytes mapBytes(map.begin(), map.end());
         map = text(elf);
         elf = mapBytes;
       }},
      {"object",
       252,
       {"does not match the image: [PF301] __entryPoint__ is at 0x00000001 in the ELF file",
        "\nThe ELF file './../output.elf' is a relocatable object (a .o file), not a linked "
        "program: give the ELF file the link writes\n"},
       {"aelfdump --link"}},
      {"partly_stripped",
       252,
       {"[PF310] __entryPoint__ is not in the ELF file's symbol table, which defines 6 symbols",
        "\nThe ELF file './../output.elf' has a symbol table of ",
        " defined symbols without "
        "__entryPoint__: it may have been stripped of it"},
       {"aelfdump --link"}},
      // A header the device's own check refuses is refused, stripped ELF
      // file or not.
      {"recipe",
       252,
       {"does not match the image: loopAddr 0x0801FF44 lies outside the code, "
        "0x08020000-0x0802010C (AELF_LOOP_OUTSIDE_CODE): the device's check refuses such an "
        "image; the ELF file has no symbol table"},
       aligned,
       [&](std::string& map, Bytes& elf) {
         map.replace(map.find("0x08020044                loop"), 10, "0x0801ff44");
         stripped(map, elf);
       }},
      {"odd_start",
       252,
       {"[PF405] the ELF file holds the flash content at 0x08023000 at file offset 0x74, but "
        "pakforge reads it from 0x3000",
        "; start the code at 0x08020000"},
       {"align .text to 0x3000"}},
      {"flash_base",
       252,
       {"[PF405] the code differs from the ELF at 0x08000000 (code byte 0)",
        "but pakforge reads it from 0x0", "; start the code at 0x08020000"},
       {"align .text to 0x0"}},
      // Counts kept in section 0 are read there: the symbol table is found,
      // and the last program headers of a table of 65536 are read.
      {"reordered",
       252,
       {"[PF301] ModbusHGroups_Table is at 0x080200A8 in the ELF file, in .text, but the map gives "
        "0x080200C4"},
       aligned,
       [](std::string& map, Bytes& elf) {
         map = text(readFile(kFirmware / "recipe/output.map"));
         elf_edit::sectionCountInSectionZero(elf);
       }},
      {"recipe",
       0,
       {"successfully"},
       {"unchecked"},
       [](std::string&, Bytes& elf) { elf_edit::programHeadersAtTheEnd(elf, 65536); }},
      {"stale",
       252,
       {"Elf file './../output.elf' is not a readable ELF file: its section header table"},
       aligned,
       [](std::string&, Bytes& elf) { elf.resize(0x20200); }},
      // A refusal by the symbol scan or the RAM check, with a real ELF file:
      // the message as ever, then one line of what the ELF file shows.
      {"recipe",
       254,
       {"\nfunc loop not found\nloop is at 0x08020045 in the ELF file, in .text, inside the code "
        "range, but the map has no symbol line for it there",
        seeAll},
       aligned,
       [](std::string& map, Bytes&) { map.replace(map.find(" loop\n"), 5, " lo0p"); }},
      {"recipe",
       246,
       {"\nthe RAM check reads 131072 of 32768 bytes and fails: its highest RAM address, "
        "0x20020000, comes from map line 89"},
       aligned,
       [](std::string& map, Bytes&) {
         map.replace(map.find("0x2000001c                        _ebss"), 10, "0x20020000");
       }},
  };
  const Bytes previous = pattern(10, 3);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.variant);
    const fs::path from = kFirmware / c.variant;
    std::string map = text(readFile(from / "output.map"));
    Bytes elf = readFile(from / "output.elf");
    if (c.alter) {
      c.alter(map, elf);
    }
    writeText(path("output.map"), map);
    writeFile(path("output.elf"), elf);
    writeFile(path("prog.alf"), previous);
    const Outcome r = run({});
    EXPECT_EQ(r.status, c.status) << r.out;
    std::size_t at = 0;
    for (const std::string& piece : c.said) {
      at = r.out.find(piece, at);
      EXPECT_NE(at, std::string::npos) << "no '" << piece << "' in: " << r.out;
      if (at == std::string::npos) {
        break;
      }
    }
    for (const std::string& advice : c.notSaid) {
      EXPECT_EQ(r.out.find(advice), std::string::npos) << r.out;
    }
    const Bytes image = readFile(path("prog.alf"));
    if (c.status == 252) {
      // One red line.
      EXPECT_EQ(r.out.rfind("\n\033[31m"), r.out.find('\n'));
    }
    if (c.status != 0) {
      // No image, no ROM section.
      EXPECT_EQ(image, previous);
      EXPECT_EQ(r.err.find("ROM"), std::string::npos);
      continue;
    }
    // What binutils say the device must get: the flash content, and the
    // symbols (bit 0 aside: GNU ld's map gives Thumb functions even).
    const Bytes flash = readFile(from / "output.bin");
    ASSERT_GE(image.size(), 76 + flash.size());
    EXPECT_EQ(wordAt(image, 4 + 28), 0x08020000u);
    EXPECT_EQ(wordAt(image, 4 + 32), flash.size());
    EXPECT_EQ(Bytes(image.begin() + 76, image.begin() + 76 + static_cast<long>(flash.size())),
              flash);
    const auto symbols = nmSymbols(from / "symbols.txt");
    const std::vector<std::string> names = {"__entryPoint__", "loop", "ModbusHGroups_Table",
                                            "ModbusIGroups_Table", "ModbusRemoteRegTables"};
    for (std::size_t i = 0; i < names.size(); ++i) {
      ASSERT_EQ(symbols.count(names[i]), 1u) << names[i];
      EXPECT_EQ(wordAt(image, 4 + 4 * i) & ~1u, symbols.at(names[i]) & ~1u) << names[i];
    }
    // The RAM data: .data and .bss.
    const std::string ram =
        "App RAM data size = " + std::to_string(symbols.at("_ebss") - symbols.at("_sdata")) +
        "/32768 Bytes";
    EXPECT_NE(r.err.find(ram), std::string::npos) << r.err;
  }
}

// A stripped ELF file can't vouch for the symbols: the map of another link
// of the same flash length still builds (a stripped file is a fair input),
// but the output says that the five addresses went unchecked.
TEST_F(Firmware, AStrippedElfFileSaysTheSymbolsWentUnchecked) {
  fs::copy_file(kFirmware / "recipe/output.map", path("output.map"),
                fs::copy_options::overwrite_existing);
  Bytes elf = readFile(kFirmware / "reordered/output.elf");
  std::fill_n(elf.begin() + 32, 4, 0);
  std::fill_n(elf.begin() + 48, 2, 0);
  writeFile(path("output.elf"), elf);
  const Outcome r = run({});
  EXPECT_EQ(r.status, 0) << r.out;
  const std::string line =
      "The five symbol addresses were taken from the map file unchecked: the ELF file "
      "'./../output.elf' has no symbol table\n";
  const std::size_t at = r.out.find(line);
  ASSERT_NE(at, std::string::npos) << r.out;
  EXPECT_EQ(r.out.find(line, at + 1), std::string::npos);
  EXPECT_LT(at, r.out.find("successfully"));
  // The code is the ELF file's; the symbols are the map's, as said.
  const Bytes image = readFile(path("prog.alf"));
  const Bytes flash = readFile(kFirmware / "reordered/output.bin");
  ASSERT_EQ(image.size(), 76 + flash.size() + readFile(path("output_RES.bin")).size());
  EXPECT_EQ(Bytes(image.begin() + 76, image.begin() + 76 + static_cast<long>(flash.size())), flash);
  EXPECT_EQ(wordAt(image, 4 + 8), 0x080200C4u);
}

// aelfdump --elf checks a stored image against an ELF file.
TEST_F(Firmware, AelfdumpChecksAnImageAgainstItsElfFile) {
  fs::copy_file(kFirmware / "recipe/output.map", path("output.map"),
                fs::copy_options::overwrite_existing);
  fs::copy_file(kFirmware / "recipe/output.elf", path("output.elf"),
                fs::copy_options::overwrite_existing);
  ASSERT_EQ(run({}).status, 0);
  const std::string recipe = (kFirmware / "recipe/output.elf").string();
  const std::string staleMapElf = (kFirmware / "static_loop/output.elf").string();
  Bytes stripped = readFile(recipe);
  std::fill_n(stripped.begin() + 32, 4, 0);
  std::fill_n(stripped.begin() + 48, 2, 0);
  writeFile(path("stripped.elf"), stripped);
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string said;
    std::string saidOnError = "";
  };
  const std::vector<Case> cases = {
      {{"--elf", recipe, "../prog.alf"}, 0, "matches\n"},
      {{"../prog.alf", "--elf", recipe}, 0, "matches\n"},
      {{"--json", "--elf", recipe, "../prog.alf"},
       0,
       "\"verdict\": \"matches\", \"symbolsChecked\": true"},
      {{"--elf", "../stripped.elf", "../prog.alf"},
       0,
       "matches (the symbols could not be checked: the ELF file has no symbol table)"},
      {{"--elf", staleMapElf, "../prog.alf"},
       6,
       "differs",
       "does not match '" + staleMapElf +
           "': ModbusHGroups_Table is 0x080200E4 in the ELF but 0x080200C4 in the image's header "
           "(the image may be from an earlier link)"},
      {{"--elf", "../output_CFG.bin", "../prog.alf"}, 7, "not checkable", "is no ELF file"},
      {{"--elf", "../gone.elf", "../prog.alf"}, 1, ""},
      {{"--elf", recipe}, 2, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.front() + " " + c.args[1]);
    const Outcome r = runProgram(AELFDUMP_EXE, c.args);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE(r.out.find(c.said), std::string::npos) << r.out;
    EXPECT_NE(r.err.find(c.saidOnError), std::string::npos) << r.err;
    // aelfdump reads no map file: it never blames one.
    EXPECT_EQ(r.err.find("map file"), std::string::npos) << r.err;
  }
}

}  // namespace
