// The fixes of aelfdump --fix as edits of a script, one row per rule that
// has one: a small script, the finding as the diagnosis gives it, and the
// script after the edit, byte for byte. The real linkers' verdict on them is
// the aelfdump_fix test's.
#include "fix/script_fixes.h"

#include <gtest/gtest.h>

#include <functional>

#include "ldscript/script.h"
#include "ldscript/script_edit.h"

namespace pakforge::fix {
namespace {

// A finding of `rule` with `lines`, for the section `section`.
LinkFinding finding(Rule rule, std::vector<std::string> lines = {}, std::string section = {}) {
  LinkFinding f;
  f.rule = rule;
  f.lines = std::move(lines);
  f.section = std::move(section);
  return f;
}

// The map's view of an output section.
MapSection mapSection(std::string name, std::uint64_t address, MapPhase phase = MapPhase::inRange) {
  MapSection s;
  s.name = std::move(name);
  s.haveAddress = true;
  s.address = address;
  s.phase = phase;
  return s;
}

// No end line, with .text in the flash before .data, aligned to 4.
void noEndLineAfterText(LinkDiagnosis& d) {
  d.findings.push_back(finding(Rule::noEndLine, {". = ALIGN(4);"}));
  d.findings.back().align = 4;
  d.outline.sections = {mapSection(".text", 0x08020000),
                        mapSection(".data", 0x20000000, MapPhase::afterData)};
}

struct Row {
  std::string what;
  std::string before;
  std::function<void(LinkDiagnosis&)> diagnosis;
  std::string after;
  std::string codes;  // of the changes, in order
  EditChoices choices = {};
};

const std::string kText = "SECTIONS\n{\n  .text : {\n    *(.text*)\n  } > FLASH\n";

TEST(ScriptFixes, EachRuleAsAnEdit) {
  const std::vector<Row> rows = {
      {"PF303: a discarded section kept first in .text", kText + "}\n",
       [](LinkDiagnosis& d) {
         d.findings.push_back(finding(Rule::symbolDiscarded));
         d.findings.back().symbol = 1;
         d.symbols[1].discarded.text = " .text.loop";
       },
       "SECTIONS\n{\n  .text : {\n    KEEP(*(.text.loop))\n    *(.text*)\n  } > FLASH\n}\n",
       "PF303"},
      {"PF204: the end lines, .data loaded with AT() and no AT>",
       kText + "  .data : { *(.data*) } > RAM AT> FLASH\n}\n", noEndLineAfterText,
       "SECTIONS\n{\n  .text : {\n    *(.text*)\n    . = ALIGN(4);\n  } > FLASH\n"
       "  _sidata = .;\n  . = _sidata + _data_image_size;\n"
       "  _flash_end = .;\n  .data : AT(_sidata) { *(.data*) } > RAM\n"
       "  _data_image_size = SIZEOF(.data);\n}\n",
       "PF204 PF204"},
      {"PF204: a section the flash loads right after .data (picolibc's .tdata) is loaded at "
       "its offset from .data, and the size runs to its end; a NOLOAD one after it is left",
       kText +
           "  .data : { *(.data*) } > RAM AT> FLASH\n  .tdata : { *(.tdata*) } > RAM AT> FLASH\n"
           "  .tbss (NOLOAD) : { *(.tbss*) } > RAM\n}\n",
       [](LinkDiagnosis& d) {
         noEndLineAfterText(d);
         d.copiedAfterData = {".tdata"};
       },
       "SECTIONS\n{\n  .text : {\n    *(.text*)\n    . = ALIGN(4);\n  } > FLASH\n"
       "  _sidata = .;\n  . = _sidata + _data_image_size;\n"
       "  _flash_end = .;\n  .data : AT(_sidata) { *(.data*) } > RAM\n"
       "  .tdata : AT(_sidata + (ADDR(.tdata) - ADDR(.data))) { *(.tdata*) } > RAM\n"
       "  _data_image_size = ADDR(.tdata) + SIZEOF(.tdata) - ADDR(.data);\n"
       "  .tbss (NOLOAD) : { *(.tbss*) } > RAM\n}\n",
       "PF204 PF204"},
      {"PF204 once its first end lines changed nothing: from .text's load image",
       kText + "  .data : { *(.data*) } > RAM AT> FLASH\n}\n",
       noEndLineAfterText,
       "SECTIONS\n{\n  .text : {\n    *(.text*)\n    . = ALIGN(4);\n  } > FLASH\n"
       "  _sidata = LOADADDR(.text) + SIZEOF(.text);\n  . = _sidata + _data_image_size;\n"
       "  _flash_end = .;\n  .data : AT(_sidata) { *(.data*) } > RAM\n"
       "  _data_image_size = SIZEOF(.data);\n}\n",
       "PF204 PF204",
       {{Rule::noEndLine, 1}}},
      {"PF204: the end lines take names the script does not have",
       kText + "  .data : { *(.data*) } > RAM AT> FLASH\n  _sidata = LOADADDR(.data);\n}\n",
       [](LinkDiagnosis& d) {
         d.findings.push_back(finding(Rule::noEndLine));
         d.outline.sections = {mapSection(".text", 0x08020000)};
       },
       kText + "  _data_image_start = .;\n  . = _data_image_start + _data_image_size;\n"
               "  _flash_end = .;\n  .data : AT(_data_image_start) { *(.data*) } > RAM\n"
               "  _data_image_size = SIZEOF(.data);\n  _sidata = LOADADDR(.data);\n}\n",
       "PF204"},
      {"PF204: the end lines go before an assignment that sets the counter in RAM",
       kText + "  . = ORIGIN(RAM);\n  .data : { *(.data*) } > RAM AT> FLASH\n}\n",
       [](LinkDiagnosis& d) {
         d.findings.push_back(finding(Rule::noEndLine));
         d.outline.sections = {mapSection(".text", 0x08020000)};
       },
       kText + "  _sidata = .;\n  . = _sidata + _data_image_size;\n  _flash_end = .;\n"
               "  . = ORIGIN(RAM);\n  .data : AT(_sidata) { *(.data*) } > RAM\n"
               "  _data_image_size = SIZEOF(.data);\n}\n",
       "PF204"},
      {"PF204: an alignment of the counter moves on from it: no place for the end lines",
       kText + "  . = ALIGN(8);\n  .data : { *(.data*) } > RAM AT> FLASH\n}\n",
       [](LinkDiagnosis& d) {
         d.findings.push_back(finding(Rule::noEndLine));
         d.outline.sections = {mapSection(".text", 0x08020000)};
       },
       "SECTIONS\n{\n  .text : {\n    *(.text*)\n    . = ALIGN(8);\n  } > FLASH\n"
       "  _sidata = .;\n  . = _sidata + _data_image_size;\n  _flash_end = .;\n"
       "  .data : AT(_sidata) { *(.data*) } > RAM\n  _data_image_size = SIZEOF(.data);\n}\n",
       "PF204 PF204"},
      {"PF201: an assignment naming .data moves after it; .data's own AT symbol stays",
       kText + "  _sidata = .;\n  _sloaded = LOADADDR(.data);\n  .data : AT(_sidata) {\n"
               "    *(.data*)\n  } > RAM\n}\n",
       [](LinkDiagnosis& d) {
         d.findings.push_back(finding(Rule::dataLineAssignment));
         d.outline.sections = {mapSection(".text", 0x08020000)};
       },
       kText + "  _sidata = .;\n  . = _sidata + _data_image_size;\n  _flash_end = .;\n"
               "  .data : AT(_sidata) {\n    *(.data*)\n  } > RAM\n"
               "  _data_image_size = SIZEOF(.data);\n  _sloaded = LOADADDR(.data);\n}\n",
       "PF201 PF201"},
      {"PF208: a RAM section before .data goes after .bss",
       kText + "  .stack : { . += 0x400; } > RAM\n  .data : { *(.data*) } > RAM AT> FLASH\n"
               "  .bss : { *(.bss*) } > RAM\n}\n",
       [](LinkDiagnosis& d) {
         d.findings.push_back(finding(Rule::ramSectionsBeforeData));
         d.findings.back().sections = {".stack"};
       },
       kText + "  .data : { *(.data*) } > RAM AT> FLASH\n  .bss : { *(.bss*) } > RAM\n"
               "  .stack : { . += 0x400; } > RAM\n}\n",
       "PF208"},
      {"PF208: a reservation whose zeros the file holds is also marked NOLOAD after .bss",
       kText + "  .stack : { . += 0x400; } > RAM\n  .data : { *(.data*) } > RAM AT> FLASH\n"
               "  .bss : { *(.bss*) } > RAM\n}\n",
       [](LinkDiagnosis& d) {
         d.findings.push_back(finding(Rule::ramSectionsBeforeData));
         d.findings.back().sections = {".stack"};
         d.findings.back().noLoad = {".stack"};
       },
       kText + "  .data : { *(.data*) } > RAM AT> FLASH\n  .bss : { *(.bss*) } > RAM\n"
               "  .stack (NOLOAD) : { . += 0x400; } > RAM\n}\n",
       "PF208 PF208"},
      {"PF202: the RAM data's section named .data, and what names it",
       kText + "  .relocate : { *(.data*) } > RAM AT> FLASH\n  _e = ADDR(.relocate);\n}\n",
       [](LinkDiagnosis& d) {
         d.findings.push_back(finding(Rule::dataLineSectionName, {}, ".relocate"));
       },
       kText + "  .data : { *(.data*) } > RAM AT> FLASH\n  _e = ADDR(.data);\n}\n", "PF202"},
      {"PF211: a reservation after .bss marked NOLOAD",
       kText + "  .heap : { . += 0x200; } > RAM\n}\n",
       [](LinkDiagnosis& d) {
         d.findings.push_back(finding(Rule::reservationLoaded, {}, ".heap"));
       },
       kText + "  .heap (NOLOAD) : { . += 0x200; } > RAM\n}\n", "PF211"},
      {"PF212: code run from RAM moves into .data, before its end symbol",
       kText + "  .data : {\n    *(.data*)\n    _edata = .;\n  } > RAM AT> FLASH\n"
               "  .ramfunc : {\n    *(.ramfunc)\n  } > RAM AT> FLASH\n}\n",
       [](LinkDiagnosis& d) {
         d.findings.push_back(finding(Rule::ramContentAfterRange, {}, ".ramfunc"));
       },
       kText +
           "  .data : {\n    *(.data*)\n    *(.ramfunc)\n    _edata = .;\n  } > RAM AT> FLASH\n}\n",
       "PF212"},
      {"PF212: a copy table's words for the RAM code are said by what moved, after the last "
       "pattern of .data and before the symbols that end it",
       "SECTIONS\n{\n  .text : {\n    *(.text*)\n    LONG(__data_start__)\n"
       "    LONG(LOADADDR(.ramfunc)) LONG(ADDR(.ramfunc)) LONG(SIZEOF(.ramfunc))\n  } > FLASH\n"
       "  .data : {\n    __data_start__ = .;\n    *(.data*)\n    . = ALIGN(4);\n"
       "    __data_end__ = .;\n  } > RAM AT> FLASH\n"
       "  .ramfunc : {\n    *(.ramfunc)\n  } > RAM AT> FLASH\n}\n",
       [](LinkDiagnosis& d) {
         d.findings.push_back(finding(Rule::ramContentAfterRange, {}, ".ramfunc"));
       },
       "SECTIONS\n{\n  .text : {\n    *(.text*)\n    LONG(__data_start__)\n"
       "    LONG(__ramfunc_moved_load) LONG(__ramfunc_moved_start) "
       "LONG((__ramfunc_moved_end - __ramfunc_moved_start))\n  } > FLASH\n"
       "  .data : {\n    __data_start__ = .;\n    *(.data*)\n    __ramfunc_moved_start = .;\n"
       "    *(.ramfunc)\n    __ramfunc_moved_end = .;\n    . = ALIGN(4);\n"
       "    __data_end__ = .;\n  } > RAM AT> FLASH\n"
       "  __ramfunc_moved_load = LOADADDR(.data) + (__ramfunc_moved_start - ADDR(.data));\n}\n",
       "PF212 PF212 PF212 PF212"},
      {"PF104: the flash section the code start lies in (picolibc's .init) moves to the start "
       "of .text, and is dropped",
       "SECTIONS\n{\n  .init : {\n    KEEP(*(.text.init.enter))\n  } > FLASH\n"
       "  .text : {\n    *(.text*)\n  } > FLASH\n}\n",
       [](LinkDiagnosis& d) {
         d.findings.push_back(finding(Rule::codeStartInOtherSection));
         d.findings.back().sections = {".init"};
       },
       "SECTIONS\n{\n  .text : {\n    KEEP(*(.text.init.enter))\n    *(.text*)\n  } > FLASH\n}\n",
       "PF104 PF104"},
      {"PF104 in a section that runs from RAM: nothing moves (the finding names no section)",
       "SECTIONS\n{\n  .itcm : {\n    *(.text.fast)\n  } > ITCM AT> FLASH\n" + kText.substr(11) +
           "}\n",
       [](LinkDiagnosis& d) { d.findings.push_back(finding(Rule::codeStartInOtherSection)); },
       "SECTIONS\n{\n  .itcm : {\n    *(.text.fast)\n  } > ITCM AT> FLASH\n" + kText.substr(11) +
           "}\n",
       ""},
      {"PF106: a vector table before .text moves into it, kept, and .text's region starts where "
       "the table's did",
       "MEMORY\n{\n  VEC (rx) : ORIGIN = 0x08020000, LENGTH = 0x400\n"
       "  TXT (rx) : ORIGIN = 0x08020400, LENGTH = 0x1FA00 /* code */\n}\nSECTIONS\n{\n"
       "  .isr_vector : {\n    *(.isr_vector)\n  } > VEC\n"
       "  _stext = ADDR(.isr_vector) + SIZEOF(.isr_vector);\n"
       "  .text _stext : {\n    *(.text*)\n  } > TXT\n}\n",
       [](LinkDiagnosis& d) {
         d.findings.push_back(finding(Rule::flashBeforeRange));
         d.findings.back().sections = {".isr_vector"};
       },
       "MEMORY\n{\n  VEC (rx) : ORIGIN = 0x08020000, LENGTH = 0x400\n"
       "  TXT (rx) : ORIGIN = 0x08020000, LENGTH = 0x1FE00 /* code */\n}\nSECTIONS\n{\n"
       "  _stext = __isr_vector_moved_start + (__isr_vector_moved_end - "
       "__isr_vector_moved_start);\n"
       "  .text : {\n    __isr_vector_moved_start = .;\n    KEEP(*(.isr_vector))\n"
       "    __isr_vector_moved_end = .;\n    *(.text*)\n  } > TXT\n}\n",
       "PF106 PF106 PF106 PF106 PF106"},
      {"PF106: a symbol set from the size of the vector section keeps its meaning, and the one "
       "set from it too",
       "SECTIONS\n{\n  .vectors : {\n    __vectors_start = .;\n    KEEP(*(.vectors))\n  } > FLASH\n"
       "  __vectors_size = SIZEOF(.vectors);\n"
       "  __vectors_end = __vectors_start + __vectors_size;\n"
       "  .text : {\n    *(.text*)\n  } > FLASH\n}\n",
       [](LinkDiagnosis& d) {
         d.findings.push_back(finding(Rule::flashBeforeRange));
         d.findings.back().sections = {".vectors"};
       },
       "SECTIONS\n{\n  __vectors_size = (__vectors_moved_end - __vectors_moved_start);\n"
       "  __vectors_end = __vectors_start + __vectors_size;\n"
       "  .text : {\n    __vectors_moved_start = .;\n    __vectors_start = .;\n"
       "    KEEP(*(.vectors))\n    __vectors_moved_end = .;\n    *(.text*)\n  } > FLASH\n}\n",
       "PF106 PF106 PF106"},
      {"PF106: a filled room for another loader's header, in a region of its own, is emptied "
       "where it stands; the code's start stays, and so does the alignment reckoned for it",
       "SECTIONS\n{\n  .hdr : {\n    FILL(0xFFFFFFFF)\n    . = . + 0x200;\n  } > HEADER\n"
       "  .vt : {\n    KEEP(*(.isr_vector))\n  } > FLASH\n"
       "  .text : {\n    *(.text*)\n  } > FLASH\n}\n",
       [](LinkDiagnosis& d) {
         d.findings.push_back(finding(Rule::flashBeforeRange));
         d.findings.back().sections = {".hdr", ".vt"};
         d.findings.push_back(finding(Rule::textNotAtOffset));
         d.findings.back().align = 0x200;
       },
       "SECTIONS\n{\n  .hdr : {\n    . = .;\n  } > HEADER\n"
       "  .text : ALIGN(0x200) {\n    KEEP(*(.isr_vector))\n    *(.text*)\n  } > FLASH\n}\n",
       "PF106 PF106 PF106 PF401"},
      {"PF106: the same room in the code's region: the code moves down, and the alignment "
       "reckoned with the room waits for the next link",
       "SECTIONS\n{\n  .hdr : {\n    FILL(0xFFFFFFFF)\n    . = . + 0x200;\n  } > FLASH\n"
       "  .vt : {\n    KEEP(*(.isr_vector))\n  } > FLASH\n"
       "  .text : {\n    *(.text*)\n  } > FLASH\n}\n",
       [](LinkDiagnosis& d) {
         d.findings.push_back(finding(Rule::flashBeforeRange));
         d.findings.back().sections = {".hdr", ".vt"};
         d.findings.push_back(finding(Rule::textNotAtOffset));
         d.findings.back().align = 0x200;
       },
       "SECTIONS\n{\n  .hdr : {\n    . = .;\n  } > FLASH\n"
       "  .text : {\n    KEEP(*(.isr_vector))\n    *(.text*)\n  } > FLASH\n}\n",
       "PF106 PF106 PF106"},
      {"PF106: two sections before .text move into it in one change, in their order",
       "SECTIONS\n{\n  .vt : {\n    KEEP(*(.isr_vector))\n  } > FLASH\n"
       "  .cfg : {\n    LONG(0x1)\n  } > FLASH\n  .text : {\n    *(.text*)\n  } > FLASH\n}\n",
       [](LinkDiagnosis& d) {
         d.findings.push_back(finding(Rule::flashBeforeRange));
         d.findings.back().sections = {".vt", ".cfg"};
       },
       "SECTIONS\n{\n  .text : {\n    KEEP(*(.isr_vector))\n    LONG(0x1)\n    *(.text*)\n"
       "  } > FLASH\n}\n",
       "PF106 PF106 PF106"},
      {"PF106: a section of data words before .text is content, moved, not emptied as room",
       "SECTIONS\n{\n  .cfg : {\n    FILL(0xFFFFFFFF)\n    LONG(0xFFFFFFFF)\n  } > FLASH\n"
       "  .text : {\n    *(.text*)\n  } > FLASH\n}\n",
       [](LinkDiagnosis& d) {
         d.findings.push_back(finding(Rule::flashBeforeRange));
         d.findings.back().sections = {".cfg"};
       },
       "SECTIONS\n{\n  .text : {\n    FILL(0xFFFFFFFF)\n    LONG(0xFFFFFFFF)\n"
       "    *(.text*)\n  } > FLASH\n}\n",
       "PF106 PF106"},
      {"PF401: .text aligned where the file holds it", kText + "}\n",
       [](LinkDiagnosis& d) {
         d.findings.push_back(finding(Rule::textNotAtOffset, {".text : ALIGN(0x20000)"}));
         d.findings.back().align = 0x20000;
       },
       "SECTIONS\n{\n  .text : ALIGN(0x20000) {\n    *(.text*)\n  } > FLASH\n}\n", "PF401"},
      {"PF203: a pattern holding .data before .data written .dat[a]",
       "SECTIONS\n{\n  .text : {\n    *(.text*)\n    *(.data.rel.ro .data.rel.ro.*)\n  } > FLASH\n"
       "  .data : { *(.data*) } > RAM\n}\n",
       [](LinkDiagnosis& d) { d.findings.push_back(finding(Rule::dataLinePattern)); },
       "SECTIONS\n{\n  .text : {\n    *(.text*)\n    *(.dat[a].rel.ro .dat[a].rel.ro.*)\n  } > "
       "FLASH\n  .data : { *(.data*) } > RAM\n}\n",
       "PF203"},
      {"PF209: another region's address assigned before .data goes after it",
       kText + "  __apps_start = ORIGIN(APPS);\n  .data : { *(.data*) } > RAM\n}\n",
       [](LinkDiagnosis& d) {
         d.findings.push_back(finding(Rule::rangeEndNotFlash));
         d.outline.rangeEndIsAssignment = true;
         d.outline.rangeEnd.text =
             "                0x08040000                        __apps_start = ORIGIN (APPS)";
       },
       kText + "  .data : { *(.data*) } > RAM\n  __apps_start = ORIGIN(APPS);\n}\n", "PF209"},
      {"PF503: RAM banks of a larger part cut to the device's RAM",
       "MEMORY\n{\n  ram0 (wx) : org = 0x20000000, len = 32k\n"
       "  ram1 (wx) : org = 0x20000000, len = 112k\n"
       "  ram2 (wx) : org = 0x2001C000, len = 16k /* SRAM2 */\n"
       "  ccm (wx) : org = 0x10000000, len = 64k\n}\n" +
           kText + "}\n",
       [](LinkDiagnosis& d) { d.findings.push_back(finding(Rule::ramCheckFails)); },
       "MEMORY\n{\n  ram0 (wx) : org = 0x20000000, len = 32k\n"
       "  ram1 (wx) : org = 0x20000000, len = 32k\n"
       "  ram2 (wx) : org = 0x20008000, len = 0 /* SRAM2 */\n"
       "  ccm (wx) : org = 0x10000000, len = 64k\n}\n" +
           kText + "}\n",
       "PF503"},
      {"PF101: the code's section of another name named .text",
       "SECTIONS\n{\n  text : { *(.text*) } > FLASH\n  _etext = ADDR(text) + SIZEOF(text);\n}\n",
       [](LinkDiagnosis& d) { d.findings.push_back(finding(Rule::noTextLine, {}, "text")); },
       "SECTIONS\n{\n  .text : { *(.text*) } > FLASH\n  _etext = ADDR(.text) + SIZEOF(.text);\n}\n",
       "PF101"},
      {"PF103: a code section with a name too long for its map line named .text",
       "SECTIONS\n{\n  .text_application_code : { *(.text*) } > FLASH\n}\n",
       [](LinkDiagnosis& d) {
         d.findings.push_back(finding(Rule::longCodeSectionName, {}, ".text_application_code"));
       },
       "SECTIONS\n{\n  .text : { *(.text*) } > FLASH\n}\n", "PF103"},
      {"PF405: a flash from the part's base moved to the application's, .text aligned",
       "MEMORY\n{\n  FLASH (rx) : ORIGIN = 0x08000000, LENGTH = 256K\n}\n" + kText + "}\n",
       [](LinkDiagnosis& d) { d.findings.push_back(finding(Rule::codeStartNotAlignable)); },
       "MEMORY\n{\n  FLASH (rx) : ORIGIN = 0x08020000, LENGTH = 0x1FE00\n}\nSECTIONS\n{\n  .text : "
       "ALIGN(0x20000) {\n    *(.text*)\n  } > FLASH\n}\n",
       "PF405 PF405"},
      {"a warning alone (PF504) changes nothing", kText + "}\n",
       [](LinkDiagnosis& d) { d.findings.push_back(finding(Rule::ramReportHigh)); }, kText + "}\n",
       ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    LinkDiagnosis d;
    row.diagnosis(d);
    std::vector<ScriptFile> files = {{"app.ld", "", row.before, row.before}};
    const RoundEdits edits = applyFixes(d, files, row.choices);
    EXPECT_EQ(edits.error, "");
    EXPECT_EQ(files.front().text, row.after);
    std::string codes;
    for (const RoundEdits::Change& change : edits.changes) {
      for (const std::string& code : change.codes) {
        codes += (codes.empty() ? "" : " ") + code;
      }
    }
    EXPECT_EQ(codes, row.codes);
    // Whatever the edit, the result reads as a script.
    ldscript::Script script;
    ldscript::ParseError error;
    EXPECT_TRUE(ldscript::parseScript(files.front().text, script, error)) << errorText(error);
  }
}

// Findings that came back unchanged take their rule's next edit, once; a
// rule with one edit has none to take.
TEST(ScriptFixes, RepeatedFindingsTakeTheNextEdit) {
  LinkDiagnosis d;
  d.findings = {finding(Rule::codeStartNotAlignable), finding(Rule::noEndLine),
                finding(Rule::noEndLine)};
  EditChoices choices;
  EXPECT_EQ(takeNextEdits(d, choices), std::vector<Rule>{Rule::noEndLine});
  EXPECT_EQ(choices, (EditChoices{{Rule::noEndLine, 1}}));
  EXPECT_EQ(takeNextEdits(d, choices), std::vector<Rule>{});
  EXPECT_EQ(choices, (EditChoices{{Rule::noEndLine, 1}}));
}

// LLD's refusal of a region named before MEMORY, answered by moving the
// statements after it in their order; another refusal gets no edit.
// A rule's row says what --fix does for it, and the edits agree: a rule
// left to the team has no edit, and a fix said to move the layout is one
// an edit makes.
TEST(ScriptFixes, TheRowsSayWhatTheEditsDo) {
  for (const RuleInfo& rule : allRules()) {
    SCOPED_TRACE(rule.code);
    if (rule.fixKind == FixKind::byHand) {
      EXPECT_FALSE(hasEdit(rule.rule));
    }
    if (rule.fixKind == FixKind::movesLayout) {
      EXPECT_TRUE(hasEdit(rule.rule));
    }
  }
  EXPECT_FALSE(hasEdit(Rule::none));
}

TEST(ScriptFixes, ARegionNamedBeforeMemoryForLld) {
  const std::string before =
      "ENTRY(Reset_Handler)\n_estack = ORIGIN(RAM) + LENGTH(RAM);\n"
      "_ram_start = ORIGIN( RAM );\n_Min_Heap_Size = 0x200;\n"
      "MEMORY\n{\n  RAM (xrw) : ORIGIN = 0x20000000, LENGTH = 32K\n}\n" +
      kText + "}\n";
  std::vector<ScriptFile> files = {{"s.ld", "", before, before}};
  const RoundEdits edits = fixLinkError(
      "ld.lld: error: s.ld:2: memory region not defined: RAM\n>>> _estack = ...\n", files);
  EXPECT_EQ(edits.changes.size(), 2U);
  EXPECT_EQ(files.front().text,
            "ENTRY(Reset_Handler)\n_Min_Heap_Size = 0x200;\n"
            "MEMORY\n{\n  RAM (xrw) : ORIGIN = 0x20000000, LENGTH = 32K\n}\n"
            "_estack = ORIGIN(RAM) + LENGTH(RAM);\n_ram_start = ORIGIN( RAM );\n" +
                kText + "}\n");
  files.front().text = before;
  EXPECT_TRUE(fixLinkError("ld.lld: error: undefined symbol: main\n", files).changes.empty());
  EXPECT_EQ(files.front().text, before);
}

TEST(ScriptFixes, NoSectionsBlockWithTextIsSaid) {
  LinkDiagnosis d;
  d.findings.push_back(finding(Rule::noEndLine));
  std::vector<ScriptFile> files = {{"mem.ld", "", "MEMORY { }\n", "MEMORY { }\n"}};
  const RoundEdits edits = applyFixes(d, files);
  EXPECT_EQ(edits.error, "no file of the script has a SECTIONS block with a .text output section");
  EXPECT_TRUE(edits.changes.empty());
}

// What a script's files say that the map can't: each output section's own
// AT(SYMBOL), and whether it is placed with AT> REGION alone; the files of
// one script (the one linked, then those it INCLUDEs) add up.
TEST(ScriptFixes, WhatTheScriptsFilesSay) {
  ScriptSays says;
  for (const std::string& text : {
           std::string("MEMORY\n{\n  RAM : ORIGIN = 0x20000000, LENGTH = 32K\n}\n"),
           std::string("SECTIONS\n{\n  .text : { *(.text*) } > FLASH\n"
                       "  .data : AT(__etext) { *(.data*) } > RAM\n"
                       "  .tdata : { *(.tdata*) } > RAM AT> FLASH\n"
                       "  .both : AT(_x) { *(.b) } > RAM AT> FLASH\n}\n"),
           std::string("SECTIONS\n{\n  .bss : { *(.bss*) } > RAM\n}\n"),
       }) {
    ldscript::Script script;
    ldscript::ParseError error;
    ASSERT_TRUE(ldscript::parseScript(text, script, error)) << ldscript::errorText(error);
    addScriptSays(script, says);
  }
  using Symbols = std::vector<std::pair<std::string, std::string>>;
  using Regions = std::vector<std::pair<std::string, bool>>;
  EXPECT_EQ(says.atSymbols, (Symbols{{".data", "__etext"}, {".both", "_x"}}));
  EXPECT_EQ(says.loadRegionOnly, (Regions{{".text", false},
                                          {".data", false},
                                          {".tdata", true},
                                          {".both", false},
                                          {".bss", false}}));
}

}  // namespace
}  // namespace pakforge::fix
