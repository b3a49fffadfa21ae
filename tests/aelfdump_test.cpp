// Runs pakforge on the example inputs, then aelfdump on the image.
#include <string>

#include "example_build.h"

namespace {

using namespace pakforge::testing_support;

std::uint32_t wordOf(const Bytes& bytes, std::size_t offset) {
  std::uint32_t value = 0;
  for (std::size_t i = 4; i-- > 0;) {
    value = (value << 8) | bytes[offset + i];
  }
  return value;
}

std::string hex32(std::uint32_t value) {
  char text[11];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

const std::string kUsage =
    "usage: aelfdump [--json] [--elf ELF] IMAGE\n"
    "       aelfdump [--json] --link MAP ELF [--script SCRIPT]\n"
    "       aelfdump --explain CODE\n"
    "       aelfdump --fix SCRIPT [--write] -- LINK COMMAND...\n"
    "       aelfdump --help | --version\n";

class Aelfdump : public ExampleBuild {
 protected:
  Outcome dump(const std::vector<std::string>& args) { return runProgram(AELFDUMP_EXE, args); }
};

TEST_F(Aelfdump, PrintsWhatTheExampleImageHolds) {
  ASSERT_EQ(run({}).status, 0);
  std::string carried;
  std::string carriedJson;
  for (std::size_t offset : {20u, 24u, 36u, 48u, 52u, 56u, 64u, 68u}) {
    const std::string label = "word at offset " + std::to_string(offset);
    carried += label + std::string(21 - label.size(), ' ') + hex32(wordOf(config_, offset)) + "\n";
    carriedJson += (carriedJson.empty() ? "\"" : ", \"") + std::to_string(offset) +
                   "\": " + std::to_string(wordOf(config_, offset));
  }
  Outcome r = dump({"../prog.alf"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "image                '../prog.alf'\n"
            "magic                AELF\n"
            "entryPointAddr       0x08020000\n"
            "loopAddr             0x08020400\n"
            "hGroupsTableAddr     0x08023000\n"
            "iGroupsTableAddr     0x08023400\n"
            "remoteRegTablesAddr  0x08023800\n"
            "addrExe              0x08020000\n"
            "appSize              0x00005000\n"
            "modbusTableEnd       0x00001000\n"
            "resourcesSize        0x00004000\n"
            "modbusTableStart     0x00000000\n" +
                carried +
                "code                 20480 bytes at offset 76\n"
                "resources            16384 bytes at offset 20556\n"
                "ROM limit            130560 bytes\n"
                "ROM total            40960 bytes\n"
                "ROM free             89600 bytes\n");
  r = dump({"--json", "../prog.alf"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "{\"image\": \"../prog.alf\", \"magic\": \"AELF\", \"header\": {"
            "\"entryPointAddr\": 134348800, \"loopAddr\": 134349824, "
            "\"hGroupsTableAddr\": 134361088, \"iGroupsTableAddr\": 134362112, "
            "\"remoteRegTablesAddr\": 134363136, \"addrExe\": 134348800, \"appSize\": 20480, "
            "\"modbusTableEnd\": 4096, \"resourcesSize\": 16384, \"modbusTableStart\": 0}, "
            "\"carried\": {" +
                carriedJson +
                "}, \"code\": {\"offset\": 76, \"length\": 20480}, "
                "\"resources\": {\"offset\": 20556, \"length\": 16384}, "
                "\"rom\": {\"limit\": 130560, \"total\": 40960, \"free\": 89600}, "
                "\"warnings\": []}\n");
}

// A table outside the code is a warning; an entry point outside it is an
// image the device's check refuses, and so is aelfdump's verdict.
TEST_F(Aelfdump, SymbolsOutsideTheCode) {
  ASSERT_EQ(run({}).status, 0);
  const Bytes good = readFile(path("prog.alf"));
  struct Case {
    std::size_t field;
    std::uint32_t value;
    int status;
    std::string err;
  };
  const std::vector<Case> cases = {
      {8, 0x08025001, 0,
       "aelfdump: warning: hGroupsTableAddr 0x08025001 lies outside the code, 0x08020000 to "
       "0x08025000"},
      {4, 0x08024FFF, 0, ""},
      {4, 0x08025001, 9,
       "aelfdump: '../odd.alf' is refused by the device's check: loopAddr 0x08025001 lies outside "
       "the code, 0x08020000-0x08025000 (AELF_LOOP_OUTSIDE_CODE)"},
      {0, 0x0801FFFF, 9,
       "aelfdump: '../odd.alf' is refused by the device's check: entryPointAddr 0x0801FFFF lies "
       "outside the code, 0x08020000-0x08025000 (AELF_ENTRY_OUTSIDE_CODE)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.err);
    Bytes image = good;
    putWord(image, 4 + c.field, c.value);
    writeFile(path("odd.alf"), image);
    Outcome r = dump({"../odd.alf"});
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err, c.err.empty() ? "" : c.err + "\n");
    EXPECT_NE(r.out.find("AELF"), std::string::npos);
  }
}

TEST_F(Aelfdump, DamagedImagesFailClearly) {
  ASSERT_EQ(run({}).status, 0);
  const Bytes good = readFile(path("prog.alf"));
  Bytes wrongMagic = good;
  wrongMagic[0] = 'E';
  writeFile(path("magic.alf"), wrongMagic);
  writeFile(path("cut.alf"), Bytes(good.begin(), good.begin() + 75));
  writeFile(path("empty.alf"), {});
  Bytes longer = good;
  longer.push_back(0);
  writeFile(path("long.alf"), longer);
  writeFile(path("short.alf"), Bytes(good.begin(), good.end() - 1));
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string err;
  };
  const std::string described =
      " bytes long, but its header describes 76 + appSize 20480 + "
      "resourcesSize 16384 = 36940 bytes\n";
  const std::vector<Case> cases = {
      {{}, 2, "aelfdump: no image given\n" + kUsage},
      {{"--json"}, 2, "aelfdump: no image given\n" + kUsage},
      {{"-x", "../prog.alf"}, 2, "aelfdump: unknown option '-x'\n" + kUsage},
      {{"../prog.alf", "--elf"}, 2, "aelfdump: --elf needs the path of an ELF file\n" + kUsage},
      {{"../gone.alf"}, 1, "aelfdump: can't open '../gone.alf'\n"},
      {{".."}, 1, "aelfdump: can't open '..'\n"},
      {{"../magic.alf"},
       3,
       "aelfdump: '../magic.alf' is not an AELF image: it does not start with AELF\n"},
      {{"../cut.alf"},
       4,
       "aelfdump: '../cut.alf' is 75 bytes long, shorter than the 76 bytes of magic and header\n"},
      {{"../empty.alf"},
       4,
       "aelfdump: '../empty.alf' is 0 bytes long, shorter than the 76 bytes of magic and "
       "header\n"},
      {{"--json", "../long.alf"}, 5, "aelfdump: '../long.alf' is 36941" + described},
      {{"../short.alf"}, 5, "aelfdump: '../short.alf' is 36939" + described},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.err);
    const Outcome r = dump(c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err);
  }
}

// Help and version on standard output; options before or after the paths.
TEST_F(Aelfdump, HelpVersionAndOptionsAnywhere) {
  ASSERT_EQ(run({}).status, 0);
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out;  // the start of standard output
    std::string err;
  };
  const std::vector<Case> cases = {
      {{"--help"}, 0, kUsage, ""},
      {{"-h", "../prog.alf"}, 0, kUsage, ""},
      {{"--version"}, 0, "aelfdump v1.0.2\n", ""},
      {{"../prog.alf", "--json"}, 0, "{\"image\": \"../prog.alf\"", ""},
      {{"--", "../prog.alf"}, 0, "image                '../prog.alf'", ""},
      {{"--link", "../output.map"},
       2,
       "",
       "aelfdump: --link needs a map file and an ELF file\n" + kUsage},
      {{"--link", "../output.map", "../output.elf", "--elf", "x"},
       2,
       "",
       "aelfdump: --link takes the ELF file as its second path, not with --elf\n" + kUsage},
      // The script the link was made with, read for .data's own load symbol.
      {{"--script", "app.ld", "../prog.alf"},
       2,
       "",
       "aelfdump: --script goes with --link\n" + kUsage},
      {{"--link", "../output.map", "../output.elf", "--script"},
       2,
       "",
       "aelfdump: --script needs the linker script's path\n" + kUsage},
      {{"--link", "../output.map", "../output.elf", "--script", "none.ld"},
       1,
       "",
       "aelfdump: can't open 'none.ld'\n"},
      // A problem's explanation, by its code, in any case.
      {{"--explain", "PF204"}, 0, "PF204 (range end): No line before .data carries", ""},
      {{"--explain", "pf403"}, 0, "PF403 (file offset): ", ""},
      {{"--explain"}, 2, "", "aelfdump: --explain needs a problem's code\n" + kUsage},
      {{"--explain", "PF204", "--json"},
       2,
       "",
       "aelfdump: --explain takes a code alone\n" + kUsage},
      // --fix's arguments; its runs are the aelfdump_fix test's.
      {{"--fix"}, 2, "", "aelfdump: --fix needs the linker script to fix\n" + kUsage},
      {{"--fix", "app.ld"}, 2, "", "aelfdump: --fix needs the link command after --\n" + kUsage},
      {{"--fix", "app.ld", "--json", "--", "gcc"},
       2,
       "",
       "aelfdump: --fix takes a script, --write and, after --, the link command\n" + kUsage},
      {{"--write", "../prog.alf"}, 2, "", "aelfdump: --write goes with --fix\n" + kUsage},
      {{"--fix", "none.ld", "--", "gcc", "-T", "none.ld"},
       1,
       "",
       "aelfdump: can't open 'none.ld'\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.front());
    const Outcome r = dump(c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out.substr(0, c.out.size()), c.out);
    EXPECT_EQ(r.err, c.err);
  }
  // An explanation ends with what --fix does for it, one row per kind.
  const std::vector<std::pair<std::string, std::string>> ends = {
      {"PF102", "aelfdump --fix leaves this change to you.\n"},
      {"PF208", "makes this change (it moves the layout: addresses the firmware sees).\n"},
      {"PF303", "makes this change (safe: it moves no address the firmware sees).\n"},
      {"PF501", "found with it fix it where they are its cause.\n"},
  };
  for (const auto& [code, end] : ends) {
    const Outcome r = dump({"--explain", code});
    EXPECT_TRUE(r.out.ends_with(end)) << code << ": " << r.out;
  }
  // A file that reads as no script is said with where, status 10.
  const Outcome noScript =
      dump({"--link", "../output.map", "../output.elf", "--script", "../prog.alf"});
  EXPECT_EQ(noScript.status, 10);
  EXPECT_EQ(noScript.err.rfind("aelfdump: ../prog.alf:", 0), 0u) << noScript.err;
  // What the script INCLUDEs is read with it; one found nowhere is said,
  // and the advice reads the rest.
  writeText(path("work/split.ld"), "INCLUDE gone.ld\nSECTIONS\n{\n  .text : { *(.text*) }\n}\n");
  const Outcome split = dump({"--link", "../output.map", "../output.elf", "--script", "split.ld"});
  EXPECT_EQ(split.err.rfind("aelfdump: split.ld includes 'gone.ld', which is neither where it is "
                            "named nor beside it: the advice does not read it\n",
                            0),
            0u)
      << split.err;
  const Outcome unknown = dump({"--explain", "PF999"});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_EQ(unknown.err.rfind("aelfdump: no problem has the code 'PF999'; the codes are PF101 ", 0),
            0u)
      << unknown.err;
}

// --fix runs the link command as the system runs programs, with its output
// and status: here aelfdump itself stands for a linker that refuses what it
// is given, on every system the tests run on.
TEST_F(Aelfdump, FixRunsTheLinkCommandAndShowsWhatItSays) {
  const std::string script = "SECTIONS\n{\n  .text : { *(.text*) } > FLASH\n}\n";
  writeText(path("work/app.ld"), script);
  // A long argument makes a command line longer than a path may be.
  // Its name tells no linker from a driver: --driver says which.
  const Outcome r = dump({"--fix", "app.ld", "--write", "--driver", "--", AELFDUMP_EXE,
                          std::string(300, 'a'), "-T", "app.ld"});
  EXPECT_EQ(r.status, 11);
  EXPECT_EQ(
      r.out.rfind("round 1: the link fails (status 2):\naelfdump: unknown option '-Wl,-Map=", 0),
      0U)
      << r.out;
  EXPECT_EQ(r.err,
            "aelfdump: the link command fails before any fix: fix what the linker says first\n");
  EXPECT_EQ(text(readFile(path("work/app.ld"))), script);
  // A program that is not there is named.
  const Outcome missing =
      dump({"--fix", "app.ld", "--", "no-such-arm-gcc", "-T", "app.ld", "-o", "fw.elf"});
  EXPECT_EQ(missing.status, 11);
  EXPECT_EQ(missing.out, "round 1: the link command's program 'no-such-arm-gcc' is not found:\n");
  EXPECT_EQ(missing.err.rfind("aelfdump: the link command can't start", 0), 0U) << missing.err;
}

// An INCLUDE cycle is named with its chain, before any link: the linker
// would include for ever.
TEST_F(Aelfdump, FixNamesAnIncludeCycle) {
  struct Row {
    std::vector<std::pair<std::string, std::string>> files;  // the script first
    std::string said;
  };
  const std::vector<Row> rows = {
      {{{"s.ld", "INCLUDE s.ld\n"}}, "s.ld includes s.ld"},
      {{{"s.ld", "INCLUDE a.ld\nSECTIONS { }\n"}, {"a.ld", "INCLUDE \"s.ld\"\n"}},
       "s.ld includes a.ld, which includes s.ld"},
      {{{"s.ld", "INCLUDE a.ld\n"}, {"a.ld", "INCLUDE b.ld\n"}, {"b.ld", "INCLUDE a.ld\n"}},
       "a.ld includes b.ld, which includes a.ld"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.said);
    for (const auto& [name, text] : row.files) {
      writeText(path("work/" + name), text);
    }
    const Outcome r = dump({"--fix", "s.ld", "--linker", "--", "ld", "-T", "s.ld"});
    EXPECT_EQ(r.status, 10);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "aelfdump: there is a cycle in the script's INCLUDEs: " + row.said + "\n");
  }
}

}  // namespace

namespace {

using namespace pakforge::testing_support;

// aelfdump --link's text and JSON on a few real links, pinned whole: a link
// pakforge takes, a stock script with quoted map lines, a RAM function under
// LLD. PAKFORGE_UPDATE_GOLDEN=1 writes them anew.
class AelfdumpGolden : public ExampleBuild {};

TEST_F(AelfdumpGolden, LinkOutputAsPinned) {
  const fs::path golden = fs::path(PAKFORGE_DEMO_MAP).parent_path() / "golden";
  const fs::path firmware = PAKFORGE_FIRMWARE_DIR;
  const fs::path scripts = firmware / "../../linker-scripts";
  const std::vector<std::pair<std::string, fs::path>> links = {
      {"recipe", firmware / "recipe"},
      {"nuttx_stock_gnu", scripts / "nuttx/stock/gnu"},
      {"ram_code_stock_lld", scripts / "ram_code/stock/lld"},
  };
  const bool update = std::getenv("PAKFORGE_UPDATE_GOLDEN") != nullptr;
  for (const auto& [name, link] : links) {
    SCOPED_TRACE(name);
    fs::copy_file(link / "output.map", path("output.map"), fs::copy_options::overwrite_existing);
    fs::copy_file(link / "output.elf", path("output.elf"), fs::copy_options::overwrite_existing);
    for (const std::string_view form : {"txt", "json"}) {
      std::vector<std::string> args = {"--link", "../output.map", "../output.elf"};
      if (form == "json") {
        args.insert(args.begin(), "--json");
      }
      const Outcome r = runProgram(AELFDUMP_EXE, args);
      const fs::path file = golden / (name + "." + std::string(form));
      if (update) {
        writeText(file, r.out);
      }
      EXPECT_EQ(r.out, text(readFile(file))) << file;
    }
  }
}

}  // namespace
