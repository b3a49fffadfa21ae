// The linker-script reader: every committed script reads and prints back
// byte for byte; one row per construct it reads, one per input it refuses.
#include "ldscript/script.h"
#include "ldscript/script_edit.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace pakforge::ldscript {
namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

const Statement* find(const std::vector<Statement>& items, std::string_view name) {
  for (const Statement& st : items) {
    if (st.name == name) {
      return &st;
    }
  }
  return nullptr;
}

TEST(LdScript, CommittedScriptsReadAndPrintBack) {
  const fs::path root = fs::path(PAKFORGE_FIRMWARE_DIR) / "../..";
  int read = 0;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.path().extension() != ".ld") {
      continue;
    }
    SCOPED_TRACE(entry.path().string());
    const std::string text = slurp(entry.path());
    Script script;
    ParseError error;
    ASSERT_TRUE(parseScript(text, script, error)) << errorText(error);
    EXPECT_EQ(printScript(script), text);
    const Statement* sections = script.sections();
    ASSERT_NE(sections, nullptr);
    EXPECT_NE(find(sections->body, ".text"), nullptr);
    ++read;
  }
  EXPECT_GE(read, 7);
}

TEST(LdScript, OutputSectionsAndStatements) {
  const std::string text =
      "/* head */\nMEMORY { rom (rx) : ORIGIN = 0x08020000, LENGTH = 0x1FE00\n"
      "  ram (rwx) : ORIGIN = 0x20000000, LENGTH = 32K }\n"
      "ENTRY(Reset_Handler)\nEXTERN (vector_table)\nINCLUDE \"regions.ld\"\n"
      "SECTIONS {\n"
      "  .text : ALIGN(0x20000) { KEEP(*(.isr_vector)) *(.text*) . = ALIGN(4); _etext = .; } >rom\n"
      "  _sidata = LOADADDR(.data);\n"
      "  .data : AT ( _sidata ) { *(.data*) } > ram AT> rom\n"
      "  .bss (NOLOAD) : { *(.bss*) *(COMMON) } >ram AT >rom :seg =0xFF,\n"
      "  text: { *(.text2) }\n"
      "  /DISCARD/ : { *(.eh_frame) }\n"
      "  PROVIDE(_stack = ORIGIN(ram) + LENGTH(ram));\n"
      "  INCLUDE more.ld\n"
      "}\n";
  Script s;
  ParseError error;
  ASSERT_TRUE(parseScript(text, s, error)) << errorText(error);
  EXPECT_EQ(printScript(s), text);
  EXPECT_EQ(s.includes, (std::vector<std::string>{"regions.ld", "more.ld"}));
  const std::vector<Statement>& body = s.sections()->body;
  ASSERT_EQ(body.size(), 8U);
  const Statement& textSection = body[0];
  EXPECT_EQ(textSection.kind, StatementKind::outputSection);
  EXPECT_EQ(textSection.region, "rom");
  EXPECT_EQ(textSection.body.size(), 4U);
  EXPECT_EQ(textSection.body[0].name, "KEEP");
  EXPECT_EQ(textSection.body[2].kind, StatementKind::assignment);
  EXPECT_EQ(body[1].kind, StatementKind::assignment);
  EXPECT_EQ(body[1].name, "_sidata");
  const Statement& data = body[2];
  EXPECT_EQ(data.region, "ram");
  EXPECT_EQ(data.loadRegion, "rom");
  EXPECT_NE(data.atFirst, data.atEnd);
  const Statement& bss = body[3];
  EXPECT_EQ(bss.type, "NOLOAD");
  EXPECT_EQ(bss.loadRegion, "rom");
  EXPECT_EQ(body[4].name, "text");
  EXPECT_EQ(body[5].name, "/DISCARD/");
  EXPECT_EQ(body[6].kind, StatementKind::command);
  EXPECT_EQ(body[7].kind, StatementKind::include);
}

// GNU ld reads ASSERT without a ';' before the next statement, as vendor
// scripts write it: it stays a command, and what follows stays itself.
TEST(LdScript, AnAssertWithoutASemicolon) {
  const std::string text =
      "ASSERT(1, \"top\")\n"
      "SECTIONS {\n"
      "  .text : { *(.text*) ASSERT(. < 0x08030000, \"big\") *(.rodata*) } > FLASH\n"
      "  ASSERT(SIZEOF(.text) < 0x1000, \"too big\")\n"
      "  .data : { *(.data*) } > RAM\n"
      "}\n";
  Script s;
  ParseError error;
  ASSERT_TRUE(parseScript(text, s, error)) << errorText(error);
  EXPECT_EQ(printScript(s), text);
  ASSERT_NE(s.sections(), nullptr);
  const std::vector<Statement>& body = s.sections()->body;
  ASSERT_EQ(body.size(), 3U);
  EXPECT_EQ(body[0].name, ".text");
  ASSERT_EQ(body[0].body.size(), 3U);
  EXPECT_EQ(body[0].body[1].name, "ASSERT");
  EXPECT_EQ(body[1].kind, StatementKind::command);
  EXPECT_EQ(body[1].name, "ASSERT");
  EXPECT_EQ(body[2].kind, StatementKind::outputSection);
  EXPECT_EQ(body[2].name, ".data");
}

// Blocks INSERTed AFTER .text come before the layout they go into: the
// SECTIONS block is the one that holds .text, read whole with the others.
TEST(LdScript, TheSectionsBlockIsTheOneWithText) {
  const std::string text =
      "SECTIONS { .log_const_data : { KEEP(*(.log_const_data*)) } > FLASH } INSERT AFTER .text\n"
      "SECTIONS {\n  .text : { *(.text*) } > FLASH\n}\n";
  Script s;
  ParseError error;
  ASSERT_TRUE(parseScript(text, s, error)) << errorText(error);
  EXPECT_EQ(printScript(s), text);
  ASSERT_NE(s.sections(), nullptr);
  ASSERT_EQ(s.sections()->body.size(), 1U);
  EXPECT_EQ(s.sections()->body[0].name, ".text");
  ASSERT_TRUE(parseScript("SECTIONS { .data : { *(.data*) } > RAM }\n", s, error));
  ASSERT_NE(s.sections(), nullptr);
  EXPECT_EQ(s.sections()->body[0].name, ".data");
}

TEST(LdScript, WhatItRefusesItSaysWhere) {
  struct Row {
    std::string text;
    std::string error;
  };
  const std::vector<Row> rows = {
      {"SECTIONS {\n  .text : { *(.text) }\n", "3:1: the script ends before a '}'"},
      {"SECTIONS { .text : { *(.text }\n}\n", "1:30: '}' before the ')' of the '(' at 1:23"},
      {"/* never closed", "1:1: a comment that is never closed"},
      {"SECTIONS {\n .data : { x = 1 }\n}\n", "2:18: an assignment without its ';'"},
      {"#include \"mem.ld\"\nSECTIONS { }\n", "1:1: a preprocessor line"},
      {"SECTIONS {\n  # 1 \"x.ld\"\n}\n", "2:3: a preprocessor line"},
      {"SECTIONS { OVERLAY : { .a { *(.a) } } }\n", "1:12: OVERLAY here is a construct"},
      {"}\n", "1:1: a '}' that closes nothing"},
      {"SECTIONS { .text { *(.text) } }\n", "1:12: a '{' after '.text' without the ':'"},
      {"INCLUDE\n", "2:1: INCLUDE without a file name"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    Script s;
    ParseError error;
    EXPECT_FALSE(parseScript(row.text, s, error));
    EXPECT_EQ(errorText(error).substr(0, row.error.size()), row.error);
  }
}

// Changes found over one parse, made together, give what the same edits
// made one after another give; overlapping ones are refused.
TEST(LdScript, ChangesOverOneParse) {
  const std::string text =
      "SECTIONS\n{\n  .text : { *(.text*) } > FLASH\n  _la = LOADADDR(.data);\n"
      "  .data : { *(.data*) } > RAM AT> FLASH\n}\n";
  Script s;
  ParseError error;
  ASSERT_TRUE(parseScript(text, s, error));
  const Statement& assignment = s.sections()->body[1];
  const Statement& data = s.sections()->body[2];
  std::string together;
  ASSERT_TRUE(applyReplacements(
      s,
      {linesBefore(s, data, {"_a = .;"}), linesBefore(s, data, {"_b = .;"}),
       statementRemoved(s, assignment), linesAfter(s, data, {"_size = SIZEOF(.data);"})},
      together));
  EXPECT_EQ(together,
            "SECTIONS\n{\n  .text : { *(.text*) } > FLASH\n  _a = .;\n  _b = .;\n"
            "  .data : { *(.data*) } > RAM AT> FLASH\n  _size = SIZEOF(.data);\n}\n");
  // One after another, each over a parse of the last one's text.
  Script step;
  ASSERT_TRUE(parseScript(insertAfter(s, data, {"_size = SIZEOF(.data);"}), step, error));
  ASSERT_TRUE(parseScript(insertBefore(step, step.sections()->body[2], {"_a = .;", "_b = .;"}),
                          step, error));
  EXPECT_EQ(removeStatement(step, step.sections()->body[1]), together);

  std::string refused;
  EXPECT_FALSE(applyReplacements(
      s, {statementRemoved(s, data), tokensReplaced(s, data.first, data.first + 1, ".ram")},
      refused));
}

// Whether a statement names a section or symbol, read from the tokens of
// the script's parse: a whole name, also inside an expression, never part
// of a longer one (a marker of what moved), and only within the statement.
TEST(LdScript, NamesAreWholeWordsOfTheStatement) {
  struct Case {
    std::string statement;
    std::string word;
    bool names;
  };
  const std::vector<Case> cases = {
      {"_e = ADDR(.data);", ".data", true},
      {"_e = _etext+4;", "_etext", true},
      {"_e = SIZEOF(.data) + LOADADDR(.data);", ".data", true},
      {"_e = __data_moved_start;", ".data", false},
      {"_e = ADDR(.data.rel);", ".data", false},
      {"_e = ADDR(.data2);", ".data", false},
      {"_e = ADDR(.text); /* .data */", ".data", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.statement);
    // The statement between two others that name the word: only its own
    // tokens count.
    const std::string text =
        "SECTIONS\n{\n  _a = " + c.word + ";\n  " + c.statement + "\n  _b = " + c.word + ";\n}\n";
    Script script;
    ParseError error;
    ASSERT_TRUE(parseScript(text, script, error)) << errorText(error);
    const Statement& st = script.statements.front().body[1];
    EXPECT_EQ(statementNames(script, st, c.word), c.names);
    EXPECT_EQ(tokensName(script, st.first, st.end, c.word), c.names);
    EXPECT_TRUE(namesWord(script, c.word));
  }
}

}  // namespace
}  // namespace pakforge::ldscript
