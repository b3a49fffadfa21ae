#include "contract/firmware_contract.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <fstream>
#include <map>
#include <span>

#include "format/hex_text.h"
#include "format/image_header.h"
#include "format/input_file.h"
#include "ldscript/script.h"
#include "ldscript/script_edit.h"

namespace pakforge::contract {
namespace {

using ldscript::Statement;
using ldscript::StatementKind;

constexpr std::uint32_t kWritable = 1;  // SHF_WRITE

std::string withoutSpaces(std::string text) {
  text.erase(std::remove_if(text.begin(), text.end(),
                            [](unsigned char c) { return std::isspace(c) != 0; }),
             text.end());
  return text;
}

// A KEEP as what it matches: without spaces, and a class of one
// character ("[a]", which a fix writes so that a pattern no longer holds
// ".data") as that character.
std::string keptMatch(const std::string& text) {
  std::string out = withoutSpaces(text);
  for (std::size_t at = out.find('['); at != std::string::npos; at = out.find('[', at + 1)) {
    if (at + 2 < out.size() && out[at + 2] == ']' && out[at + 1] != '!' && out[at + 1] != '^') {
      out.replace(at, 3, 1, out[at + 1]);
    }
  }
  return out;
}

bool startsWithWord(const std::string& text, std::string_view word) {
  return text.starts_with(word) && text.size() > word.size() &&
         (text[word.size()] == '(' || std::isspace(static_cast<unsigned char>(text[word.size()])));
}

// The name "NAME = ..." or "PROVIDE(NAME = ...)" sets; empty for the
// location counter and for what sets nothing.
std::string definedName(const std::string& text, bool assignment) {
  std::string rest = text;
  if (!assignment) {
    static constexpr std::array kWrappers = {"PROVIDE_HIDDEN", "PROVIDE", "HIDDEN"};
    const auto wrapper = std::find_if(kWrappers.begin(), kWrappers.end(),
                                      [&](std::string_view w) { return startsWithWord(text, w); });
    if (wrapper == kWrappers.end()) {
      return {};
    }
    rest = text.substr(text.find('(') + 1);
  }
  const std::size_t equals = rest.find('=');
  if (equals == std::string::npos) {
    return {};
  }
  std::string name = withoutSpaces(rest.substr(0, equals));
  // "a += 4" and the like change a name already set.
  while (!name.empty() && std::string_view("+-*/&|<>").find(name.back()) != std::string::npos) {
    name.pop_back();
  }
  return name.empty() || name.front() == '.' ? std::string() : name;
}

bool nameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '.' || c == '$';
}

// The sections an expression names through ADDR, LOADADDR, SIZEOF, ALIGNOF.
std::vector<std::pair<std::string, std::string>> sectionsNamed(const std::string& expression) {
  std::vector<std::pair<std::string, std::string>> names;
  for (std::size_t at = expression.find('('); at != std::string::npos;
       at = expression.find('(', at + 1)) {
    std::size_t word = at;
    while (word > 0 && nameChar(expression[word - 1])) {
      --word;
    }
    const std::string function = expression.substr(word, at - word);
    if (function != "ADDR" && function != "LOADADDR" && function != "SIZEOF" &&
        function != "ALIGNOF") {
      continue;
    }
    const std::size_t close = expression.find(')', at);
    if (close != std::string::npos) {
      names.emplace_back(function, withoutSpaces(expression.substr(at + 1, close - at - 1)));
    }
  }
  return names;
}

// Whether an expression reads the location counter: a '.' that is a word
// of its own.
bool readsDot(const std::string& expression) {
  for (std::size_t i = 0; i < expression.size(); ++i) {
    if (expression[i] == '.' && (i == 0 || !nameChar(expression[i - 1])) &&
        (i + 1 == expression.size() || !nameChar(expression[i + 1]))) {
      return true;
    }
  }
  return false;
}

// Whether a statement of a section's body places contents: an input
// pattern, a KEEP, a data statement, a file name; not an assignment, nor a
// PROVIDE or an ASSERT.
bool placesContents(const ldscript::Script& script, const Statement& st) {
  if (st.kind != StatementKind::command) {
    return false;
  }
  const std::string text = ldscript::statementText(script, st);
  return !startsWithWord(text, "PROVIDE") && !startsWithWord(text, "PROVIDE_HIDDEN") &&
         !startsWithWord(text, "HIDDEN") && !startsWithWord(text, "ASSERT");
}

void addStatementFacts(const ldscript::Script& script, const Statement& st,
                       const std::string& section, ScriptFacts& facts) {
  if (st.kind == StatementKind::outputSection) {
    const std::size_t from = facts.symbols.size();
    std::size_t lastContent = from;  // the symbols set before the last content
    bool content = false;
    for (const Statement& inner : st.body) {
      if (st.name == "/DISCARD/") {
        facts.discards.push_back(withoutSpaces(ldscript::statementText(script, inner)));
        continue;
      }
      const std::size_t before = facts.symbols.size();
      addStatementFacts(script, inner, st.name, facts);
      for (std::size_t i = before; i < facts.symbols.size(); ++i) {
        facts.symbols[i].first = !content;
      }
      if (placesContents(script, inner)) {
        content = true;
        lastContent = facts.symbols.size();
      }
    }
    for (std::size_t i = from; i < lastContent; ++i) {
      facts.symbols[i].last = false;
    }
    return;
  }
  if (st.kind == StatementKind::block) {
    std::string before;  // the output section the statements follow
    for (const Statement& inner : st.body) {
      const std::size_t from = facts.symbols.size();
      addStatementFacts(script, inner, section, facts);
      if (inner.kind == StatementKind::outputSection) {
        before = inner.name;
      } else if (section.empty()) {
        for (std::size_t i = from; i < facts.symbols.size(); ++i) {
          facts.symbols[i].follows = before;
        }
      }
    }
    return;
  }
  const std::string text = ldscript::statementText(script, st);
  if (text.find("ASSERT") != std::string::npos &&
      (startsWithWord(text, "ASSERT") || text.find("ASSERT(") != std::string::npos)) {
    ++facts.asserts;
  }
  if (startsWithWord(text, "KEEP")) {
    facts.keeps.push_back(keptMatch(text));
  }
  if (st.kind != StatementKind::assignment && st.kind != StatementKind::command) {
    return;
  }
  const std::string name = definedName(text, st.kind == StatementKind::assignment);
  if (!name.empty()) {
    const std::string expression = text.substr(text.find('=') + 1);
    facts.symbols.push_back({name, section, expression.find("SIZEOF(") != std::string::npos,
                             sectionsNamed(expression), readsDot(expression),
                             st.kind != StatementKind::assignment});
  }
}

// A definition of `name` in the link: the global one, else the only local.
const ElfSymbolEntry* findDefinition(const LinkFacts& link, std::string_view name) {
  const ElfSymbolEntry* local = nullptr;
  std::size_t locals = 0;
  for (const ElfSymbolEntry& s : link.symbols) {
    if (s.name != name) {
      continue;
    }
    if (!s.local) {
      return &s;
    }
    local = &s;
    ++locals;
  }
  return locals == 1 ? local : nullptr;
}

// A symbol's address, without a Thumb function's bit 0.
std::uint64_t addressOf(const ElfSymbolEntry& s) {
  return s.type == 2 ? s.value & ~1u : s.value;
}

const ElfSection* sectionNamed(const LinkFacts& link, std::string_view name) {
  for (const ElfSection& s : link.sections) {
    if (s.allocated() && s.size > 0 && s.name == name) {
      return &s;
    }
  }
  return nullptr;
}

// The allocated section an address runs in.
const ElfSection* sectionRunningAt(const LinkFacts& link, std::uint64_t address) {
  for (const ElfSection& s : link.sections) {
    if (s.allocated() && s.size > 0 && address >= s.address && address < s.address + s.size) {
      return &s;
    }
  }
  return nullptr;
}

// What a symbol marks of a section: its start or end where it runs, where
// its contents are loaded, the end of that load image, or its size.
enum class Mark { start, end, loadStart, loadEnd, size };

std::string_view markText(Mark mark) {
  switch (mark) {
    case Mark::start:
      return "the start of";
    case Mark::end:
      return "the end of";
    case Mark::loadStart:
      return "the load address of";
    case Mark::loadEnd:
      return "the end of the load image of";
    case Mark::size:
      return "the size of";
  }
  return "";
}

struct Meaning {
  Mark mark = Mark::start;
  const ElfSection* section = nullptr;
};

// Which marks of section `s` a symbol's value can be read against: those
// of the section whose body sets it; else those its expression names
// (LOADADDR the load address and the end of the load image, whether or not
// the section is loaded elsewhere yet; ADDR its start and end; SIZEOF its
// size); else, for the location counter between sections, those of the
// flash and of load images, where the start-up code's copy source lies
// (between RAM sections, a symbol follows the layout the fix changes on
// purpose). A value from regions or numbers alone (ORIGIN(RAM), 0x400)
// means itself, whatever sections lie there.
bool mayMean(const ScriptSymbol& symbol, const ElfSection& s, Mark mark) {
  const bool load = mark == Mark::loadStart || mark == Mark::loadEnd;
  if (!symbol.section.empty()) {
    const bool atStart = mark == Mark::start || mark == Mark::loadStart;
    const bool atEnd = mark == Mark::end || mark == Mark::loadEnd;
    return s.name == symbol.section && (!atStart || symbol.first) && (!atEnd || symbol.last);
  }
  if (!symbol.named.empty()) {
    return std::any_of(symbol.named.begin(), symbol.named.end(), [&](const auto& named) {
      const auto& [function, section] = named;
      return section == s.name && (function == "LOADADDR" ? load
                                   : function == "SIZEOF" ? mark == Mark::size || mark == Mark::end
                                   : function == "ADDR"   ? !load && mark != Mark::size
                                                          : false);
    });
  }
  return symbol.dot &&
         ((load && s.loaded && s.loadAddress != s.address) || (!load && inFlashWindow(s.address)));
}

std::vector<Meaning> meaningsOf(const LinkFacts& link, const ScriptSymbol& symbol,
                                std::uint64_t value) {
  std::vector<Meaning> meanings;
  const bool byLoad = std::any_of(symbol.named.begin(), symbol.named.end(),
                                  [](const auto& named) { return named.first == "LOADADDR"; });
  // A size alone ("SIZEOF(.data)"), not an address made with one.
  const bool sizeOnly =
      symbol.sizeOf && !symbol.dot &&
      std::none_of(symbol.named.begin(), symbol.named.end(), [](const auto& named) {
        return named.first == "ADDR" || named.first == "LOADADDR";
      });
  for (const ElfSection& s : link.sections) {
    // The section a symbol follows may be empty (and so not allocated):
    // its end is still what the symbol marks.
    const bool followed = !symbol.follows.empty() && s.name == symbol.follows;
    if (s.name.empty() || (!followed && (!s.allocated() || s.size == 0))) {
      continue;
    }
    const std::uint64_t end = std::uint64_t{s.address} + s.size;
    // Named by LOADADDR, a section loaded where it runs still has a load
    // address, which the fix may move.
    const bool loads = s.loaded && (s.loadAddress != s.address || byLoad);
    const std::array<std::pair<bool, Mark>, 5> marks = {{
        {!sizeOnly && value == s.address, Mark::start},
        {!sizeOnly && value == end, Mark::end},
        {!sizeOnly && loads && value == s.loadAddress, Mark::loadStart},
        {!sizeOnly && loads && value == s.loadAddress + s.size, Mark::loadEnd},
        {sizeOnly && value == s.size, Mark::size},
    }};
    for (const auto& [holds, mark] : marks) {
      if (holds && mayMean(symbol, s, mark)) {
        meanings.push_back({mark, &s});
      }
    }
  }
  return meanings;
}

// The object of `first` that section `s`'s contents begin, or end, with:
// the one at its start, or the one that ends last in it, less than an
// alignment's padding before its end ("*(.text*) . = ALIGN(4);"). To find
// the contents in a link that moved or merged the section; `gap` is that
// padding.
constexpr std::uint64_t kPadding = 8;
const ElfSymbolEntry* contentAnchor(const LinkFacts& first, const ElfSection& s, bool atEnd,
                                    std::uint64_t& gap) {
  const std::uint64_t end = std::uint64_t{s.address} + s.size;
  const ElfSymbolEntry* best = nullptr;
  for (const ElfSymbolEntry& sym : first.symbols) {
    if (!sym.object() || sym.size == 0) {
      continue;
    }
    const std::uint64_t at = addressOf(sym);
    if (!atEnd && at == s.address) {
      gap = 0;
      return &sym;
    }
    const std::uint64_t symEnd = at + sym.size;
    if (atEnd && at >= s.address && symEnd <= end && end - symEnd < kPadding &&
        (best == nullptr || symEnd > addressOf(*best) + best->size)) {
      best = &sym;
    }
  }
  gap = best != nullptr ? end - (addressOf(*best) + best->size) : 0;
  return best;
}

std::uint64_t loadAddressIn(const LinkFacts& link, std::uint64_t address, bool& known) {
  const ElfSection* s = sectionRunningAt(link, address);
  known = s != nullptr && s->loaded;
  return known ? address - s->address + s->loadAddress : 0;
}

// What the meaning asks of the fixed link: the values it may take, by the
// section's name and by its contents (either is the same thing when the fix
// only moved the section; one of them is when it merged it into another).
std::vector<std::uint64_t> expectedValues(const LinkFacts& first, const LinkFacts& fixed,
                                          const Meaning& m) {
  std::vector<std::uint64_t> values;
  if (const ElfSection* now = sectionNamed(fixed, m.section->name)) {
    const std::uint64_t end = std::uint64_t{now->address} + now->size;
    switch (m.mark) {
      case Mark::start:
        values.push_back(now->address);
        break;
      case Mark::end:
        values.push_back(end);
        break;
      case Mark::loadStart:
        values.push_back(now->loadAddress);
        break;
      case Mark::loadEnd:
        values.push_back(now->loadAddress + now->size);
        break;
      case Mark::size:
        values.push_back(now->size);
        break;
    }
  }
  const bool atEnd = m.mark == Mark::end || m.mark == Mark::loadEnd;
  std::uint64_t gap = 0;
  const ElfSymbolEntry* anchor = contentAnchor(first, *m.section, atEnd, gap);
  const ElfSymbolEntry* moved = anchor != nullptr ? findDefinition(fixed, anchor->name) : nullptr;
  if (moved != nullptr && m.mark != Mark::size) {
    std::uint64_t at = addressOf(*moved) + (atEnd ? moved->size + gap : 0);
    bool known = true;
    if (m.mark == Mark::loadStart || m.mark == Mark::loadEnd) {
      at = loadAddressIn(fixed, addressOf(*moved), known) + (atEnd ? moved->size + gap : 0);
    }
    if (known) {
      values.push_back(at);
    }
  }
  return values;
}

// Whether `value` marks what `expected` does: equal, or inside the
// section by less than an alignment's padding (". = ALIGN(8); _sstack = .;"
// at the start of a section that now starts 4 bytes lower).
bool marksSame(Mark mark, std::uint64_t expected, std::uint64_t value) {
  switch (mark) {
    case Mark::start:
    case Mark::loadStart:
      return value >= expected && value - expected < kPadding;
    case Mark::end:
    case Mark::loadEnd:
      return value <= expected && expected - value < kPadding;
    case Mark::size:
      return value == expected;
  }
  return false;
}

void checkSymbols(const LinkFacts& first, const ScriptFacts& firstScripts, const LinkFacts& fixed,
                  std::vector<Breach>& out) {
  std::vector<std::string> seen;
  for (const ScriptSymbol& symbol : firstScripts.symbols) {
    if (std::find(seen.begin(), seen.end(), symbol.name) != seen.end()) {
      continue;
    }
    seen.push_back(symbol.name);
    const ElfSymbolEntry* before = findDefinition(first, symbol.name);
    if (before == nullptr) {
      continue;  // a PROVIDE nothing used, or a name the link dropped itself
    }
    const ElfSymbolEntry* after = findDefinition(fixed, symbol.name);
    if (after == nullptr && symbol.provided) {
      continue;  // the fixed link linked without it: nothing refers to it any more
    }
    if (after == nullptr) {
      out.push_back({Invariant::symbolMeaning, symbol.name + ", which your link defines (" +
                                                   hexText(before->value) +
                                                   "), is not defined in the fixed link"});
      continue;
    }
    const std::vector<Meaning> meanings = meaningsOf(first, symbol, before->value);
    std::vector<std::uint64_t> allowed;
    const Meaning* said = nullptr;  // the first meaning the fixed link can be read against
    bool holds = false;
    for (const Meaning& m : meanings) {
      const std::vector<std::uint64_t> values = expectedValues(first, fixed, m);
      said = said == nullptr && !values.empty() ? &m : said;
      allowed.insert(allowed.end(), values.begin(), values.end());
      holds = holds || std::any_of(values.begin(), values.end(), [&](std::uint64_t e) {
                return marksSame(m.mark, e, after->value);
              });
    }
    if (allowed.empty() || holds) {
      continue;
    }
    const Meaning& m = *said;
    out.push_back({Invariant::symbolMeaning,
                   symbol.name + " marked " + std::string(markText(m.mark)) + " " +
                       m.section->name + " in your link (" + hexText(before->value) +
                       "); in the fixed link it is " + hexText(after->value) + ", and " +
                       std::string(markText(m.mark)) + " " + m.section->name + " is " +
                       hexText(allowed.front())});
  }
}

void checkVectorTable(const LinkFacts& first, const LinkFacts& fixed, std::vector<Breach>& out) {
  VectorTable table;
  if (!findVectorTable(first, table) || !fixed.haveFlash) {
    return;
  }
  const std::string what = table.name.empty()
                               ? "what your link placed first in the flash (" + table.section + ")"
                               : table.name;
  std::uint64_t now = 0;
  if (!table.name.empty()) {
    const ElfSymbolEntry* moved = findDefinition(fixed, table.name);
    if (moved == nullptr) {
      out.push_back({Invariant::vectorTableFirst, what + ", at " + hexText(table.address) +
                                                      " in your link, is not in the fixed link"});
      return;
    }
    now = addressOf(*moved) - table.offset;
  } else if (const ElfSection* s = sectionNamed(fixed, table.section); s != nullptr) {
    now = s->loaded ? s->loadAddress : s->address;
  } else {
    return;  // merged into another section: its name can't be followed
  }
  if (now != fixed.flashStart) {
    out.push_back({Invariant::vectorTableFirst,
                   what + " stands at " + hexText(now) +
                       " in the fixed link, not at the code start " + hexText(fixed.flashStart) +
                       " (in your link at " + hexText(table.address) + ")"});
  } else if (table.alignment > 1 && now % table.alignment != 0) {
    out.push_back({Invariant::vectorTableFirst,
                   what + " stands at " + hexText(now) + ", which is not aligned to " +
                       std::to_string(table.alignment) + " as in your link"});
  }
}

std::string ramText() {
  return "[" + hexText(RAM_BASE) + ", " + hexText(RAM_LIMIT) + ")";
}

void checkRamData(const LinkFacts& first, const LinkFacts& fixed, std::vector<Breach>& out) {
  for (const ElfSection& s : first.sections) {
    if (!s.allocated() || (s.flags & kWritable) == 0 || s.size == 0 || !inSramWindow(s.address)) {
      continue;
    }
    const ElfSection* now = sectionNamed(fixed, s.name);
    if (now != nullptr && !inDeviceRam(now->address, now->size)) {
      out.push_back({Invariant::ramDataInRam, s.name + " runs at " + hexText(now->address) + "-" +
                                                  hexText(std::uint64_t{now->address} + now->size) +
                                                  " in the fixed link, outside the device's RAM " +
                                                  ramText() + " (in your link at " +
                                                  hexText(s.address) + ")"});
    }
  }
  // What moved with a section merged into another: its objects.
  for (const ElfSymbolEntry& sym : first.symbols) {
    const ElfSection* s = sectionRunningAt(first, sym.value);
    if (!sym.object() || sym.size == 0 || s == nullptr || (s->flags & kWritable) == 0 ||
        !inSramWindow(sym.value) || sectionNamed(fixed, s->name) != nullptr) {
      continue;
    }
    const ElfSymbolEntry* moved = findDefinition(fixed, sym.name);
    if (moved != nullptr && !inDeviceRam(moved->value, moved->size)) {
      out.push_back({Invariant::ramDataInRam,
                     sym.name + " (of " + s->name + ") runs at " + hexText(moved->value) +
                         " in the fixed link, outside the device's RAM " + ramText() +
                         " (in your link at " + hexText(sym.value) + ")"});
    }
  }
}

bool stackTopName(std::string_view name) {
  std::string lower;
  for (const char c : name) {
    lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  const std::size_t stack = lower.find("stack");
  if (stack == std::string::npos) {
    return false;
  }
  const std::string bare = lower.substr(
      lower.find_first_not_of('_') == std::string::npos ? 0 : lower.find_first_not_of('_'));
  return lower.find("top") != std::string::npos || lower.find("end") != std::string::npos ||
         bare.starts_with("estack");
}

// Whether a symbol stands where both links load the initial values of the
// same section: it is the start-up code's copy source, whatever else it
// equals in the first link (a script that loads .data in RAM, right after
// the stack, sets it to the stack's end).
bool staysLoadAddress(const LinkFacts& first, const LinkFacts& fixed, std::uint64_t before,
                      std::uint64_t after) {
  const auto copied = [](const ElfSection& s) {
    return s.loaded && s.size != 0 && s.hasContent() && (s.flags & 1) != 0;  // SHF_WRITE
  };
  for (const ElfSection& was : first.sections) {
    for (const ElfSection& now : fixed.sections) {
      if (copied(was) && copied(now) && was.name == now.name && was.loadAddress == before &&
          now.loadAddress == after) {
        return true;
      }
    }
  }
  return false;
}

void checkStackTop(const LinkFacts& first, const ScriptFacts& firstScripts, const LinkFacts& fixed,
                   std::vector<Breach>& out) {
  VectorTable table;
  const bool vectors = findVectorTable(first, table) && first.haveWords &&
                       table.address == first.flashStart && inSramWindow(first.words[0]);
  // The stack top may be RAM_LIMIT itself: the first push goes below it.
  const auto inRam = [](std::uint64_t top) { return top >= RAM_BASE && top <= RAM_LIMIT; };
  VectorTable now;
  const bool stillFirst =
      findVectorTable(fixed, now) && now.address == fixed.flashStart && now.name == table.name;
  if (vectors && stillFirst && fixed.haveWords && !inRam(fixed.words[0])) {
    out.push_back(
        {Invariant::stackTopInRam, "the initial stack pointer, the vector table's first word, is " +
                                       hexText(fixed.words[0]) + ", outside the device's RAM [" +
                                       hexText(RAM_BASE) + ", " + hexText(RAM_LIMIT) + "]"});
  }
  std::vector<std::string> seen;
  for (const ScriptSymbol& symbol : firstScripts.symbols) {
    const ElfSymbolEntry* before = findDefinition(first, symbol.name);
    if (before == nullptr || std::find(seen.begin(), seen.end(), symbol.name) != seen.end() ||
        !inSramWindow(before->value) ||
        !((vectors && before->value == first.words[0]) || stackTopName(symbol.name))) {
      continue;
    }
    seen.push_back(symbol.name);
    const ElfSymbolEntry* after = findDefinition(fixed, symbol.name);
    if (after != nullptr && !inRam(after->value) &&
        !staysLoadAddress(first, fixed, before->value, after->value)) {
      out.push_back(
          {Invariant::stackTopInRam, "the stack top " + symbol.name + " is " +
                                         hexText(after->value) + ", outside the device's RAM [" +
                                         hexText(RAM_BASE) + ", " + hexText(RAM_LIMIT) + "]"});
    }
  }
}

// Each of `wanted` that `have` holds fewer times.
void missingEntries(const std::vector<std::string>& wanted, const std::vector<std::string>& have,
                    std::string_view what, std::vector<Breach>& out) {
  std::map<std::string, int> count;
  for (const std::string& h : have) {
    ++count[h];
  }
  for (const std::string& w : wanted) {
    if (--count[w] < 0) {
      out.push_back({Invariant::nothingLost, std::string(what) + w + " of your script is gone"});
    }
  }
}

void checkKept(const LinkFacts& first, const ScriptFacts& firstScripts, const LinkFacts& fixed,
               const ScriptFacts& fixedScripts, std::vector<Breach>& out) {
  missingEntries(firstScripts.keeps, fixedScripts.keeps, "", out);
  missingEntries(firstScripts.discards, fixedScripts.discards, "/DISCARD/'s ", out);
  if (fixedScripts.asserts < firstScripts.asserts) {
    out.push_back({Invariant::nothingLost,
                   std::to_string(firstScripts.asserts - fixedScripts.asserts) + " of the " +
                       std::to_string(firstScripts.asserts) + " ASSERTs of your script are gone"});
  }
  // What the first link placed (its objects with contents) is placed still.
  std::map<std::string, int> placed;
  for (const ElfSymbolEntry& sym : fixed.symbols) {
    if (sym.object()) {
      ++placed[sym.name];
    }
  }
  std::vector<std::string> lost;
  for (const ElfSymbolEntry& sym : first.symbols) {
    const ElfSection* s =
        sym.section < first.sections.size() ? &first.sections[sym.section] : nullptr;
    if (sym.object() && sym.size > 0 && s != nullptr && s->allocated() && s->hasContent() &&
        --placed[sym.name] < 0) {
      lost.push_back(sym.name + " (" + s->name + ", " + std::to_string(sym.size) + " bytes)");
    }
  }
  if (!lost.empty()) {
    std::string names;
    for (std::size_t i = 0; i < lost.size() && i < 3; ++i) {
      names += (i == 0 ? "" : ", ") + lost[i];
    }
    if (lost.size() > 3) {
      names += " and " + std::to_string(lost.size() - 3) + " more";
    }
    out.push_back({Invariant::nothingLost, "the fixed link no longer places " + names});
  }
}

std::uint32_t littleWord(const std::array<char, 8>& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (std::size_t b = 0; b < 4; ++b) {
    value |= std::uint32_t{static_cast<unsigned char>(bytes[at + b])} << (8 * b);
  }
  return value;
}

// The lowest object in the flash of at least 16 words that begins as a
// vector table does: a word-aligned stack top in the SRAM window, then the
// reset handler's address with the Thumb bit, in the flash.
void findShapedTable(ElfReader& reader, LinkFacts& facts) {
  for (const ElfSymbolEntry& sym : facts.symbols) {
    const ElfSection* s =
        sym.section < facts.sections.size() ? &facts.sections[sym.section] : nullptr;
    if (sym.type != 1 || sym.size < 64 || sym.value % 4 != 0 || s == nullptr || !s->loaded ||
        !inFlashWindow(s->loadAddress) || sym.value < s->address ||
        sym.value + 8 > std::uint64_t{s->address} + s->size ||
        (facts.haveShapedTable && facts.shapedTable.address <= sym.value)) {
      continue;
    }
    std::array<char, 8> bytes{};
    if (!reader.readAt(std::uint64_t{s->offset} + (sym.value - s->address), bytes)) {
      continue;
    }
    const std::uint32_t top = littleWord(bytes, 0);
    const std::uint32_t reset = littleWord(bytes, 4);
    if (inSramWindow(top) && top % 4 == 0 && (reset & 1) != 0 && inFlashWindow(reset)) {
      facts.haveShapedTable = true;
      facts.shapedTable = {sym.name, s->name, sym.value, s->alignment, 0};
    }
  }
}

}  // namespace

bool inDeviceRam(std::uint64_t address, std::uint64_t size) {
  return address >= RAM_BASE && address + size <= RAM_LIMIT;
}

bool readScriptFacts(const std::vector<std::string>& texts, ScriptFacts& facts,
                     std::string& error) {
  facts = {};
  for (const std::string& text : texts) {
    ldscript::Script script;
    ldscript::ParseError parseError;
    if (!ldscript::parseScript(text, script, parseError)) {
      error = ldscript::errorText(parseError);
      return false;
    }
    for (const Statement& st : script.statements) {
      addStatementFacts(script, st, "", facts);
    }
  }
  return true;
}

bool readLinkFacts(const std::string& elfPath, LinkFacts& facts, std::string& error) {
  facts = {};
  std::ifstream in;
  if (!openInputFile(elfPath, std::ios::binary, in)) {
    error = "can't be opened";
    return false;
  }
  in.seekg(0, std::ios::end);
  const std::streamoff end = in.tellg();
  ElfReader reader(in, end < 0 ? 0 : static_cast<std::uint64_t>(end));
  if (reader.open(error) != ElfOpen::ok) {
    error = error.empty() ? "is no ELF file" : error;
    return false;
  }
  if (!readLinkFacts(reader, facts)) {
    error = "has no symbol table";
    return false;
  }
  return true;
}

bool readLinkFacts(ElfReader& reader, LinkFacts& facts) {
  facts = {};
  if (!reader.allSymbols(facts.symbols)) {
    return false;
  }
  facts.sections = reader.sections();
  findShapedTable(reader, facts);
  const ElfSection* lowest = nullptr;
  for (const ElfSection& s : facts.sections) {
    if (s.loaded && s.size > 0 && inFlashWindow(s.loadAddress) &&
        (lowest == nullptr || s.loadAddress < lowest->loadAddress)) {
      lowest = &s;
    }
  }
  if (lowest != nullptr) {
    facts.haveFlash = true;
    facts.flashStart = lowest->loadAddress;
    std::array<char, 8> bytes{};
    if (lowest->size >= bytes.size() && reader.readAt(lowest->offset, bytes)) {
      facts.haveWords = true;
      facts.words[0] = littleWord(bytes, 0);
      facts.words[1] = littleWord(bytes, 4);
    }
  }
  return true;
}

bool findVectorTable(const LinkFacts& link, VectorTable& table) {
  const auto named = [](std::string_view name) {
    std::string lower;
    for (const char c : name) {
      lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return lower.find("vector") != std::string::npos;
  };
  const auto inFlash = inFlashWindow;
  const ElfSymbolEntry* best = nullptr;
  for (const ElfSymbolEntry& sym : link.symbols) {
    const ElfSection* s =
        sym.section < link.sections.size() ? &link.sections[sym.section] : nullptr;
    if (sym.type != 1 || sym.size < 8 || s == nullptr || !s->loaded || !inFlash(sym.value) ||
        !(named(sym.name) || named(s->name))) {
      continue;
    }
    if (best == nullptr || sym.value < best->value) {
      best = &sym;
    }
  }
  if (best == nullptr && link.haveShapedTable) {
    table = link.shapedTable;
    return true;
  }
  if (best != nullptr) {
    const ElfSection& s = link.sections[best->section];
    // The table starts where its section does when the section is the
    // table's (a stack top written by the script before the handlers).
    const bool ownSection = named(s.name) && s.loaded && s.loadAddress <= best->value;
    const std::uint64_t start = ownSection ? s.loadAddress : best->value;
    table = {best->name, s.name, start, s.alignment, best->value - start};
    return true;
  }
  // A table the start-up code writes without a sized symbol: the first two
  // words at the start of the flash are a stack top and a Thumb handler.
  if (link.haveWords && inSramWindow(link.words[0]) && (link.words[1] & 1) != 0 &&
      inFlash(link.words[1])) {
    for (const ElfSection& s : link.sections) {
      if (s.loaded && s.size > 0 && s.loadAddress == link.flashStart) {
        table = {"", s.name, link.flashStart, s.alignment, 0};
        return true;
      }
    }
  }
  return false;
}

std::string_view invariantText(Invariant invariant) {
  switch (invariant) {
    case Invariant::symbolMeaning:
      return "symbols keep their meaning";
    case Invariant::vectorTableFirst:
      return "the vector table stays first";
    case Invariant::ramDataInRam:
      return "RAM data runs in RAM";
    case Invariant::stackTopInRam:
      return "the stack top lies in RAM";
    case Invariant::nothingLost:
      return "nothing kept is lost";
  }
  return "";
}

std::vector<Breach> checkContract(const LinkFacts& first, const ScriptFacts& firstScripts,
                                  const LinkFacts& fixed, const ScriptFacts& fixedScripts) {
  std::vector<Breach> out;
  checkSymbols(first, firstScripts, fixed, out);
  checkVectorTable(first, fixed, out);
  checkRamData(first, fixed, out);
  checkStackTop(first, firstScripts, fixed, out);
  checkKept(first, firstScripts, fixed, fixedScripts, out);
  std::stable_sort(out.begin(), out.end(), [](const Breach& a, const Breach& b) {
    return static_cast<int>(a.invariant) < static_cast<int>(b.invariant);
  });
  return out;
}

}  // namespace pakforge::contract
