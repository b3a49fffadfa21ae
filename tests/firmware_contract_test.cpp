// The firmware's contract, one row per way a fixed link can break it: a good
// pair of links (the fixed one equal to the first, or with a section moved
// as a whole), then each invariant broken the one way, refused with the
// invariant's words; and what the scripts' statements say a symbol marks.
#include "contract/firmware_contract.h"

#include <gtest/gtest.h>

#include <functional>

namespace pakforge::contract {
namespace {

constexpr std::uint32_t kAlloc = 2, kWrite = 1, kExec = 4, kNoBits = 8, kProgBits = 1;

ElfSection section(std::string name, std::uint32_t flags, std::uint32_t address, std::uint32_t size,
                   std::uint32_t loadAddress, bool contents = true) {
  ElfSection s;
  s.name = std::move(name);
  s.type = contents ? kProgBits : kNoBits;
  s.flags = flags;
  s.address = address;
  s.size = size;
  s.alignment = 4;
  s.loaded = contents;
  s.loadAddress = loadAddress;
  return s;
}

ElfSymbolEntry symbol(std::string name, std::uint32_t value, std::uint32_t size,
                      std::uint32_t section, unsigned type = 0) {
  return {std::move(name), value, size, section, type, false};
}

// A vendor-style link: the vector table first, code, .data loaded after
// it, .bss; the start-up code's own names.
LinkFacts firstLink() {
  LinkFacts l;
  l.sections = {ElfSection{}, section(".isr_vector", kAlloc, 0x08020000, 0x40, 0x08020000),
                section(".text", kAlloc | kExec, 0x08020040, 0x100, 0x08020040),
                section(".data", kAlloc | kWrite, 0x20000000, 0x10, 0x08020140),
                section(".bss", kAlloc | kWrite, 0x20000010, 0x20, 0, false)};
  l.symbols = {symbol("exception_table", 0x08020000, 0x40, 1, 1),
               symbol("main", 0x08020041, 0x20, 2, 2),
               symbol("counter", 0x20000000, 4, 3, 1),
               symbol("zeros", 0x20000010, 0x20, 4, 1),
               symbol("__data_load", 0x08020140, 0, 3),
               symbol("__data_lo", 0x20000000, 0, 3),
               symbol("__data_hi", 0x20000010, 0, 3),
               symbol("__zero_lo", 0x20000010, 0, 4),
               symbol("__zero_hi", 0x20000030, 0, 4),
               symbol("__stack_top", 0x20008000, 0, ElfSymbolEntry::kAbsolute)};
  l.haveFlash = l.haveWords = true;
  l.flashStart = 0x08020000;
  l.words[0] = 0x20008000;
  l.words[1] = 0x08020041;
  return l;
}

ScriptFacts firstScripts() {
  ScriptFacts s;
  s.symbols = {{"__data_load", "", false, {{"LOADADDR", ".data"}}, false, false},
               {"__data_lo", ".data", false, {}, true, false},
               {"__data_hi", ".data", false, {}, true, false},
               {"__zero_lo", ".bss", false, {}, true, false},
               {"__zero_hi", ".bss", false, {}, true, false},
               {"__stack_top", "", false, {}, false, false}};
  s.keeps = {"KEEP(*(.isr_vector))"};
  s.discards = {"*(.ARM.attributes)"};
  s.asserts = 1;
  return s;
}

ElfSymbolEntry& named(LinkFacts& l, const std::string& name) {
  for (ElfSymbolEntry& s : l.symbols) {
    if (s.name == name) {
      return s;
    }
  }
  ADD_FAILURE() << name;
  return l.symbols.front();
}

ElfSection& sectionOf(LinkFacts& l, const std::string& name) {
  for (ElfSection& s : l.sections) {
    if (s.name == name) {
      return s;
    }
  }
  ADD_FAILURE() << name;
  return l.sections.front();
}

void dropSymbol(LinkFacts& l, const std::string& name) {
  std::erase_if(l.symbols, [&](const ElfSymbolEntry& s) { return s.name == name; });
}

TEST(FirmwareContract, EachBreachIsRefusedWithItsInvariantsWords) {
  struct Row {
    const char* what;
    std::function<void(LinkFacts&, ScriptFacts&)> fix;
    std::string said;  // empty: the contract holds
  };
  const Row rows[] = {
      {"the same link", [](LinkFacts&, ScriptFacts&) {}, ""},
      {".data and what marks it moved as a whole",
       [](LinkFacts& l, ScriptFacts&) {
         sectionOf(l, ".data").address = 0x20000100;
         sectionOf(l, ".data").loadAddress = 0x08020200;
         named(l, "counter").value = 0x20000100;
         named(l, "__data_lo").value = 0x20000100;
         named(l, "__data_hi").value = 0x20000110;
         named(l, "__data_load").value = 0x08020200;
       },
       ""},
      {"the vector table merged into .text, still first",
       [](LinkFacts& l, ScriptFacts&) {
         l.sections[1].name = ".text";
         l.sections[2].name = ".text.rest";
         named(l, "exception_table").section = 1;
       },
       ""},
      {"the zeroing end left behind",
       [](LinkFacts& l, ScriptFacts&) { named(l, "__zero_hi").value = 0x20000010; },
       "symbols keep their meaning: __zero_hi marked the end of .bss in your link (0x20000030); "
       "in the fixed link it is 0x20000010"},
      {"the copy source not where .data is loaded",
       [](LinkFacts& l, ScriptFacts&) { sectionOf(l, ".data").loadAddress = 0x08020180; },
       "symbols keep their meaning: __data_load marked the load address of .data"},
      {"a copy bound no longer defined",
       [](LinkFacts& l, ScriptFacts&) { dropSymbol(l, "__data_lo"); },
       "symbols keep their meaning: __data_lo, which your link defines (0x20000000), is not "
       "defined in the fixed link"},
      {"the vector table behind something kept",
       [](LinkFacts& l, ScriptFacts&) { named(l, "exception_table").value = 0x08020018; },
       "the vector table stays first: exception_table stands at 0x08020018 in the fixed link, "
       "not at the code start 0x08020000"},
      {".data run in the flash",
       [](LinkFacts& l, ScriptFacts&) {
         sectionOf(l, ".data").address = 0x08020200;
         named(l, "__data_lo").value = 0x08020200;
         named(l, "__data_hi").value = 0x08020210;
         named(l, "counter").value = 0x08020200;
       },
       "RAM data runs in RAM: .data runs at 0x08020200-0x08020210 in the fixed link, outside "
       "the device's RAM [0x20000000, 0x20008000)"},
      {"the stack top past the device's RAM",
       [](LinkFacts& l, ScriptFacts&) {
         named(l, "__stack_top").value = 0x20018000;
         l.words[0] = 0x20018000;
       },
       "the stack top lies in RAM: the initial stack pointer, the vector table's first word, is "
       "0x20018000"},
      {"a KEEP gone", [](LinkFacts&, ScriptFacts& s) { s.keeps.clear(); },
       "nothing kept is lost: KEEP(*(.isr_vector)) of your script is gone"},
      {"a /DISCARD/ pattern gone", [](LinkFacts&, ScriptFacts& s) { s.discards.clear(); },
       "nothing kept is lost: /DISCARD/'s *(.ARM.attributes) of your script is gone"},
      {"an ASSERT gone", [](LinkFacts&, ScriptFacts& s) { s.asserts = 0; },
       "nothing kept is lost: 1 of the 1 ASSERTs of your script are gone"},
      {"an object no longer placed", [](LinkFacts& l, ScriptFacts&) { dropSymbol(l, "main"); },
       "nothing kept is lost: the fixed link no longer places main (.text, 32 bytes)"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    LinkFacts fixed = firstLink();
    ScriptFacts scripts = firstScripts();
    row.fix(fixed, scripts);
    std::string said;
    for (const Breach& b : checkContract(firstLink(), firstScripts(), fixed, scripts)) {
      said += std::string(invariantText(b.invariant)) + ": " + b.what + "\n";
    }
    if (row.said.empty()) {
      EXPECT_EQ(said, "");
    } else {
      EXPECT_NE(said.find(row.said), std::string::npos) << said;
    }
  }
}

// A first link that loads .data in RAM right where the stack ends sets the
// copy source to the initial stack pointer: it is .data's load address, not
// a stack top, and may move into the flash. A symbol that only equals the
// stack top still is one.
TEST(FirmwareContract, ALoadAddressEqualToTheStackTopIsNoStackTop) {
  LinkFacts first = firstLink();
  sectionOf(first, ".data").loadAddress = 0x20008000;
  named(first, "__data_load").value = 0x20008000;
  first.symbols.push_back(symbol("__ram_top", 0x20008000, 0, ElfSymbolEntry::kAbsolute));
  ScriptFacts scripts = firstScripts();
  scripts.symbols.push_back({"__ram_top", "", false, {}, false, false});
  LinkFacts fixed = firstLink();
  fixed.symbols.push_back(symbol("__ram_top", 0x20008000, 0, ElfSymbolEntry::kAbsolute));
  std::string said;
  for (const Breach& b : checkContract(first, scripts, fixed, scripts)) {
    said += b.what + "\n";
  }
  EXPECT_EQ(said.find("__data_load"), std::string::npos) << said;
  named(fixed, "__ram_top").value = 0x08020100;
  said.clear();
  for (const Breach& b : checkContract(first, scripts, fixed, scripts)) {
    said += b.what + "\n";
  }
  EXPECT_NE(said.find("the stack top __ram_top is 0x08020100"), std::string::npos) << said;
}

// What each statement says its symbol marks: the section whose body sets
// it, the sections its expression names, the location counter.
TEST(FirmwareContract, ScriptsSayWhatTheirSymbolsMark) {
  ScriptFacts facts;
  std::string error;
  ASSERT_TRUE(readScriptFacts(
      {"__top = ORIGIN(RAM) + LENGTH(RAM);\n"
       "SECTIONS {\n"
       "  .text : { KEEP(*(.isr_vector)) KEEP (*(.dat[a].init)) *(.text*) _etext = .; }"
       " > FLASH\n"
       "  .rodata : { _srodata = .; *(.rodata*) _mid = .; LONG(0) } > FLASH\n"
       "  PROVIDE(_load = LOADADDR(.data));\n"
       "  _size = SIZEOF(.data);\n"
       "  ASSERT(_size < 0x100, \"too big\")\n"
       "  /DISCARD/ : { *(.comment) }\n"
       "}\n"},
      facts, error))
      << error;
  ASSERT_EQ(facts.symbols.size(), 6u);
  EXPECT_EQ(facts.symbols[0].name, "__top");
  EXPECT_FALSE(facts.symbols[0].dot);
  EXPECT_TRUE(facts.symbols[0].named.empty());
  EXPECT_EQ(facts.symbols[1].section, ".text");
  EXPECT_TRUE(facts.symbols[1].dot);
  // Where in its section a symbol stands: only a first one marks the start,
  // only a last one the end.
  EXPECT_FALSE(facts.symbols[1].first);
  EXPECT_TRUE(facts.symbols[1].last);
  EXPECT_TRUE(facts.symbols[2].first);
  EXPECT_FALSE(facts.symbols[2].last);
  EXPECT_FALSE(facts.symbols[3].first);
  EXPECT_FALSE(facts.symbols[3].last);
  EXPECT_TRUE(facts.symbols[4].provided);
  EXPECT_EQ(facts.symbols[4].named.front(),
            std::make_pair(std::string("LOADADDR"), std::string(".data")));
  EXPECT_TRUE(facts.symbols[5].sizeOf);
  // Between sections, a symbol follows the output section before it.
  EXPECT_EQ(facts.symbols[0].follows, "");
  EXPECT_EQ(facts.symbols[1].follows, "");
  EXPECT_EQ(facts.symbols[4].follows, ".rodata");
  EXPECT_EQ(facts.symbols[5].follows, ".rodata");
  // A KEEP as what it matches: ".dat[a]", the fix's way of not naming
  // .data, keeps what ".data" kept.
  EXPECT_EQ(facts.keeps, (std::vector<std::string>{"KEEP(*(.isr_vector))", "KEEP(*(.data.init))"}));
  EXPECT_EQ(facts.discards, std::vector<std::string>{"*(.comment)"});
  EXPECT_EQ(facts.asserts, 1u);
}

}  // namespace
}  // namespace pakforge::contract
