// What aelfdump --fix makes of a team's link command, one row per spelling
// the GCC driver and the linkers take; and the diff it prints.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "fix/link_command.h"
#include "fix/unified_diff.h"
#include "run_program.h"

namespace pakforge::fix {
namespace {

namespace fs = std::filesystem;

class FixCommand : public testing::Test {
 protected:
  void SetUp() override {
    folder_ = testing_support::makeTemporaryFolder();
    fs::create_directories(folder_ / "lib");
    std::ofstream(folder_ / "app.ld") << "SECTIONS { }\n";
    std::ofstream(folder_ / "lib" / "mem.ld") << "MEMORY { }\n";
    previous_ = fs::current_path();
    fs::current_path(folder_);
  }
  void TearDown() override {
    fs::current_path(previous_);
    fs::remove_all(folder_);
  }
  fs::path folder_;
  fs::path previous_;
};

std::vector<std::string> words(const std::string& text) {
  std::vector<std::string> out;
  std::string word;
  for (const char c : text + " ") {
    if (c == ' ') {
      if (!word.empty()) {
        out.push_back(word);
      }
      word.clear();
    } else {
      word += c;
    }
  }
  return out;
}

std::string joined(const std::vector<std::string>& args) {
  std::string text;
  for (const std::string& a : args) {
    text += (text.empty() ? "" : " ") + a;
  }
  return text;
}

TEST_F(FixCommand, EverySpellingOfTheScriptMapAndOutput) {
  struct Row {
    std::string command;
    std::string run;  // as the fix runs it, with the script C, map M, ELF E and -n
  };
  const std::vector<Row> rows = {
      {"gcc -T app.ld -o fw.elf a.o", "gcc -T C -o E a.o -Wl,-Map=M -Wl,-n"},
      {"gcc -Tapp.ld -ofw.elf a.o", "gcc -TC -oE a.o -Wl,-Map=M -Wl,-n"},
      {"gcc -Wl,-T,app.ld -Wl,-Map=fw.map -o fw.elf a.o",
       "gcc -Wl,-T,C -o E a.o -Wl,-Map=M -Wl,-n"},
      {"gcc -Wl,-T -Wl,app.ld -Wl,-Map,fw.map,--gc-sections a.o",
       "gcc -Wl,-T -Wl,C -Wl,--gc-sections a.o -o E -Wl,-Map=M -Wl,-n"},
      {"gcc -Wl,--script=app.ld -Xlinker -Map -Xlinker fw.map -o fw.elf a.o",
       "gcc -Wl,--script=C -o E a.o -Wl,-Map=M -Wl,-n"},
      {"gcc -Xlinker -T -Xlinker app.ld -Wl,-n a.o -o fw.elf",
       "gcc -Xlinker -T -Xlinker C -Wl,-n a.o -o E -Wl,-Map=M"},
      {"gcc -L lib -T mem.ld -T app.ld -o fw.elf a.o",
       "gcc -L lib -T mem.ld -T C -o E a.o -Wl,-Map=M -Wl,-n"},
      {"arm-none-eabi-ld -T app.ld -Map fw.map -o fw.elf a.o",
       "arm-none-eabi-ld -T C -o E a.o -Map=M -n"},
      {"ld.lld --script app.ld -Map=fw.map --output fw.elf a.o",
       "ld.lld --script C --output E a.o -Map=M -n"},
      {"ld.lld --script=./app.ld -n --output=fw.elf a.o",
       "ld.lld --script=C -n --output=E a.o -Map=M"},
      // -Ttext= sets an address: the script is the other.
      {"ld.lld -Ttext=0x08020000 -T app.ld a.o",
       "ld.lld -Ttext=0x08020000 -T C a.o -o E -Map=M -n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.command);
    LinkCommand command;
    std::string error;
    ASSERT_TRUE(readLinkCommand(words(row.command), "app.ld", ProgramKind::unknown, command, error))
        << error;
    EXPECT_EQ(joined(commandFor(command, "C", "M", "E", true)), row.run);
  }
  LinkCommand command;
  std::string error;
  ASSERT_TRUE(readLinkCommand(words("gcc -Wl,-Map=out/fw.map -o out/fw.elf -T app.ld"), "app.ld",
                              ProgramKind::unknown, command, error));
  EXPECT_EQ(command.map, "out/fw.map");
  EXPECT_EQ(command.elf, "out/fw.elf");
  EXPECT_TRUE(command.driver);
}

TEST_F(FixCommand, ACommandThatDoesNotNameTheScript) {
  struct Row {
    std::string command;
    std::string error;
  };
  const std::vector<Row> rows = {
      {"gcc -o fw.elf a.o", "the link command names no linker script"},
      {"gcc -Ttext=0x08020000 a.o", "the link command names no linker script"},
      {"gcc -T lib/mem.ld a.o",
       "the link command does not name 'app.ld': its linker script is "
       "'lib/mem.ld'"},
  };
  for (const Row& row : rows) {
    LinkCommand command;
    std::string error;
    EXPECT_FALSE(
        readLinkCommand(words(row.command), "app.ld", ProgramKind::unknown, command, error));
    EXPECT_EQ(error.substr(0, row.error.size()), row.error);
  }
  // A script found on a -L folder is the same file.
  LinkCommand command;
  std::string error;
  EXPECT_TRUE(readLinkCommand(words("gcc -Llib -T mem.ld a.o"), "lib/mem.ld", ProgramKind::unknown,
                              command, error));
}

TEST_F(FixCommand, ADriverIsToldFromALinkerByWhatItIs) {
  struct Row {
    std::string command;
    ProgramKind said;
    bool driver;
  };
  const std::vector<Row> rows = {
      {"arm-none-eabi-gcc-12.2.1 -T app.ld a.o", ProgramKind::unknown, true},
      {"/opt/llvm/bin/clang++ -T app.ld a.o", ProgramKind::unknown, true},
      {"C:\\arm\\bin\\arm-none-eabi-g++.exe -T app.ld a.o", ProgramKind::unknown, true},
      {"arm-none-eabi-ld.bfd -T app.ld a.o", ProgramKind::unknown, false},
      {"ld.lld -T app.ld a.o", ProgramKind::unknown, false},
      // A wrapper's name has "ld" in it, but no word of a linker: its
      // options say it is a driver, or a linker.
      {"./build.sh -mcpu=cortex-m4 -T app.ld a.o", ProgramKind::unknown, true},
      {"./build.sh -T app.ld -Wl,--gc-sections a.o", ProgramKind::unknown, true},
      {"./build.sh -T app.ld --gc-sections a.o", ProgramKind::unknown, false},
      // Said by the user, whatever the name.
      {"./build.sh -T app.ld a.o", ProgramKind::driver, true},
      {"./mold-wrap -T app.ld a.o", ProgramKind::driver, true},
      {"./build.sh -T app.ld a.o", ProgramKind::linker, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.command);
    LinkCommand command;
    std::string error;
    ASSERT_TRUE(readLinkCommand(words(row.command), "app.ld", row.said, command, error)) << error;
    EXPECT_EQ(command.driver, row.driver);
  }
  // Neither its name nor its options tell: said so, and how to say which.
  LinkCommand command;
  std::string error;
  EXPECT_FALSE(readLinkCommand(words("./build.sh -T app.ld a.o"), "app.ld", ProgramKind::unknown,
                               command, error));
  EXPECT_EQ(error,
            "can't tell whether './build.sh' is a compiler driver (gcc, clang) or a linker "
            "(ld, ld.lld): say which with --driver or --linker before --");
}

// Where an INCLUDEd file is found, as the linker looks: where it is
// named, then on the -L folders in order, then beside the file that
// includes it.
TEST_F(FixCommand, AnIncludeIsFoundWhereTheLinkerLooks) {
  fs::create_directories("other");
  fs::create_directories("sdk");
  std::ofstream("other/mem.ld") << "MEMORY { }\n";
  std::ofstream("sdk/common.ld") << "SECTIONS { }\n";
  std::ofstream("sdk/mem.ld") << "MEMORY { }\n";
  struct Case {
    std::string name;
    std::vector<std::string> folders;
    std::string includer;
    std::string found;
  };
  const std::vector<Case> cases = {
      {"app.ld", {"lib"}, "sdk/main.ld", "app.ld"},
      {"mem.ld", {"lib", "other"}, "sdk/main.ld", "lib/mem.ld"},
      {"mem.ld", {"other", "lib"}, "sdk/main.ld", "other/mem.ld"},
      {"mem.ld", {}, "sdk/main.ld", "sdk/mem.ld"},
      {"common.ld", {"lib"}, "sdk/main.ld", "sdk/common.ld"},
      {"common.ld", {"lib"}, "main.ld", ""},
      {"none.ld", {"lib", "other"}, "sdk/main.ld", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name + " from " + c.includer);
    EXPECT_EQ(findInclude(c.name, c.folders, c.includer), c.found);
  }
}

TEST(UnifiedDiff, HunksAsDiffWritesThem) {
  const std::string before = "1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n11\n12\n";
  EXPECT_EQ(unifiedDiff(before, before, "s.ld"), "");
  EXPECT_EQ(unifiedDiff(before, "1\n2\n3\n4\nfour\n5\n6\n7\n8\n9\n10\n11\n", "s.ld"),
            "--- a/s.ld\n+++ b/s.ld\n@@ -2,6 +2,7 @@\n 2\n 3\n 4\n+four\n 5\n 6\n 7\n"
            "@@ -9,4 +10,3 @@\n 9\n 10\n 11\n-12\n");
  EXPECT_EQ(unifiedDiff("a\n", "b", "s.ld"),
            "--- a/s.ld\n+++ b/s.ld\n@@ -1 +1 @@\n-a\n+b\n\\ No newline at end of file\n");
  EXPECT_EQ(unifiedDiff("", "a\n", "s.ld"), "--- a/s.ld\n+++ b/s.ld\n@@ -0,0 +1 @@\n+a\n");
}

}  // namespace
}  // namespace pakforge::fix
