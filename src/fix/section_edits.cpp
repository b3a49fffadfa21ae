// Edits that move, rename or mark output sections and their statements.
#include "fix/edits.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <utility>
#include <vector>

#include "format/hex_text.h"
#include "ldscript/script_edit.h"

namespace pakforge::fix::edit {
namespace {

bool isPattern(const Statement& st) {
  return st.kind == StatementKind::command && !st.name.empty() &&
         (st.name.front() == '*' || st.name.find('(') != std::string::npos);
}

// A statement of a section that moves into .text, a vector table's
// pattern kept.
std::string keptIfVectors(const Script& script, const Statement& st, std::string_view section) {
  const std::string text = ldscript::statementText(script, st);
  return isPattern(st) ? keptPattern(section, text) : text;
}

// A section that only reserves room: its body moves the location counter
// and fills, with no input section and no data of its own (room for the
// header a boot loader's tool writes after the link).
bool onlyReserves(const Statement& st) {
  return !st.body.empty() && std::all_of(st.body.begin(), st.body.end(), [](const Statement& item) {
    return item.kind == StatementKind::assignment || item.name.starts_with("FILL");
  });
}

// Whether a linker-script glob (*, ?, [set]) matches `name`.
bool globMatches(std::string_view glob, std::string_view name) {
  if (glob.empty()) {
    return name.empty();
  }
  if (glob.front() == '*') {
    for (std::size_t skip = 0; skip <= name.size(); ++skip) {
      if (globMatches(glob.substr(1), name.substr(skip))) {
        return true;
      }
    }
    return false;
  }
  if (name.empty()) {
    return false;
  }
  if (glob.front() == '[') {
    const std::size_t close = glob.find(']');
    if (close != std::string_view::npos) {
      return glob.substr(1, close - 1).find(name.front()) != std::string_view::npos &&
             globMatches(glob.substr(close + 1), name.substr(1));
    }
  }
  return (glob.front() == '?' || glob.front() == name.front()) &&
         globMatches(glob.substr(1), name.substr(1));
}

// Whether a pattern line takes input sections named `section`: a glob of
// its innermost parentheses matches it.
bool patternTakes(std::string_view text, std::string_view section) {
  const std::size_t open = text.rfind('(', text.find(')'));
  const std::size_t close = text.find(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
    return false;
  }
  std::string_view inside = text.substr(open + 1, close - open - 1);
  while (!inside.empty()) {
    const std::size_t space = inside.find_first_of(" \t\r\n");
    std::string_view glob = inside.substr(0, space);
    // A glob may be quoted (Zephyr writes ".rodata.*").
    if (glob.size() >= 2 && glob.front() == '"' && glob.back() == '"') {
      glob = glob.substr(1, glob.size() - 2);
    }
    if (!glob.empty() && globMatches(glob, section)) {
      return true;
    }
    inside = space == std::string_view::npos ? std::string_view() : inside.substr(space + 1);
  }
  return false;
}

// The place in the body of `section` for a KEEP of input section `input`:
// before the first pattern that would take it otherwise (a linker places an
// input section by the first pattern that matches it), so that the KEEP
// takes it there and nothing before moves: the vector table stays first,
// and the symbols set before that pattern keep what they mark. Past the
// body's end when no pattern of it takes it: before the statements that end
// the body (". = ALIGN(4); _etext = .;"), which then still mark its end.
std::size_t keepPlace(const Script& script, const Statement& section, std::string_view input) {
  std::size_t end = section.body.size();
  for (std::size_t i = 0; i < section.body.size(); ++i) {
    const Statement& st = section.body[i];
    if (isPattern(st) && patternTakes(ldscript::statementText(script, st), input)) {
      return i;
    }
    end = isPattern(st) ? section.body.size() : std::min(end, i);
  }
  return end;
}

// The output section, from .text up to .data, with the first pattern that
// takes `input`: a linker places an input section by the first pattern of
// the script that matches it, so a KEEP there keeps it where it would be.
// .text when none does.
std::size_t keepSection(const Sections& s, std::string_view input) {
  const std::size_t text = s.indexOf(*s.find(".text"));
  const Statement* data = s.find(".data");
  const std::size_t end = data != nullptr ? s.indexOf(*data) : s.block->body.size();
  for (std::size_t i = text; i < end; ++i) {
    const Statement& st = s.block->body[i];
    if (st.kind != StatementKind::outputSection) {
      continue;
    }
    for (const Statement& item : st.body) {
      if (isPattern(item) && patternTakes(ldscript::statementText(s.script, item), input)) {
        return i;
      }
    }
  }
  return text;
}

// An output section renamed `to`, and every word of the script that names
// it, when no section has that name yet.
void renameSection(Editor& e, const std::string& from, const std::string& to,
                   const std::string& code, bool needsText) {
  Sections s;
  if (from.empty() || (needsText ? !e.load(s) : !e.loadAny(s)) || s.find(to) != nullptr) {
    return;
  }
  const Statement* st = s.find(from);
  if (st == nullptr) {
    return;
  }
  std::string text = s.script.text;
  // From the end, so that earlier bytes stay where they are.
  for (std::size_t i = s.script.tokens.size(); i-- > 0;) {
    const std::string_view t = s.script.tokenText(i);
    if (s.script.tokens[i].kind == ldscript::TokenKind::word && (t == from || t == from + ":")) {
      text.replace(s.script.tokens[i].begin, from.size(), to);
    }
  }
  e.commit(s, text, {code}, join({"renamed ", from, " to ", to}));
}

// The name a statement assigns: "NAME = ...", "PROVIDE(NAME = ...)".
std::string assignedName(const Script& script, const Statement& st) {
  if (st.kind == StatementKind::assignment) {
    return st.name.substr(0, st.name.find('='));
  }
  const std::string text = ldscript::statementText(script, st);
  const std::size_t open = text.find('(');
  const std::size_t equals = text.find('=');
  if (open == std::string::npos || equals == std::string::npos || equals < open) {
    return {};
  }
  std::string name = text.substr(open + 1, equals - open - 1);
  name.erase(std::remove(name.begin(), name.end(), ' '), name.end());
  return name;
}

// The symbols that mark the start and end of what a dropped section held,
// once it moved into .text: "__vectors_moved_start" for .vectors.
std::pair<std::string, std::string> movedMarkers(std::string_view section) {
  std::string stem;
  for (const char c : section) {
    stem += std::isalnum(static_cast<unsigned char>(c)) != 0 ? c : '_';
  }
  while (!stem.empty() && stem.front() == '_') {
    stem.erase(0, 1);
  }
  return {"__" + stem + "_moved_start", "__" + stem + "_moved_end"};
}

// The statement with SIZEOF(section), ADDR(section) and LOADADDR(section)
// said by the markers around the moved contents (a flash section runs
// where it is loaded): what the statement meant stays. Empty when anything
// else of it names the section.
std::string namedByMarkers(const Script& script, const Statement& st, std::string_view section,
                           const std::string& load = {}) {
  const auto [start, end] = movedMarkers(section);
  std::string out;
  const auto next = [&script, &st](std::size_t i) {
    while (++i < st.end && script.tokens[i].kind == ldscript::TokenKind::space) {
    }
    return i;
  };
  for (std::size_t i = st.first; i < st.end; ++i) {
    const std::string_view t = script.tokenText(i);
    const std::size_t open = next(i);
    const std::size_t name = open < st.end ? next(open) : st.end;
    const std::size_t close = name < st.end ? next(name) : st.end;
    const bool call = (t == "SIZEOF" || t == "ADDR" || t == "LOADADDR") && close < st.end &&
                      script.tokenText(open) == "(" && script.tokenText(name) == section &&
                      script.tokenText(close) == ")";
    if (!call && ldscript::tokensName(script, i, i + 1, section)) {
      return {};
    }
    if (!call) {
      out += t;
      continue;
    }
    out += t == "SIZEOF"                      ? join({"(", end, " - ", start, ")"})
           : t == "LOADADDR" && !load.empty() ? load
                                              : start;
    i = close;
  }
  return out;
}

// Whether the statement takes the address or size of `section`:
// ADDR(section), LOADADDR(section) or SIZEOF(section), as an input pattern
// never does.
bool measures(const Script& script, const Statement& st, std::string_view section) {
  std::string text = ldscript::statementText(script, st);
  text.erase(std::remove_if(text.begin(), text.end(),
                            [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }),
             text.end());
  const std::string call = join({"(", section, ")"});
  return text.find("ADDR" + call) != std::string::npos ||
         text.find("SIZEOF" + call) != std::string::npos;
}

// The statements, at any depth, that take the address or size of
// `section`, in order.
void namingStatements(const Script& script, const std::vector<Statement>& body,
                      std::string_view section, std::vector<const Statement*>& out) {
  for (const Statement& st : body) {
    if (st.kind == StatementKind::outputSection || st.kind == StatementKind::block) {
      namingStatements(script, st.body, section, out);
    } else if (measures(script, st, section)) {
      out.push_back(&st);
    }
  }
}

bool anyNaming(const Script& script, std::string_view section) {
  std::vector<const Statement*> naming;
  namingStatements(script, script.statements, section, naming);
  return !naming.empty();
}

// Puts `said` in place of `naming`, recorded under `code`.
bool commitSaid(Editor& e, const Sections& s, const Statement& naming, const std::string& said,
                const std::string& code) {
  const std::string was = ldscript::statementText(s.script, naming);
  return e.commit(s, ldscript::replaceTokens(s.script, naming.first, naming.end, said), {code},
                  join({"wrote '", was, "' as '", said, "', of what moved"}));
}

// Every statement that names `section`, whose contents moved between its
// markers, said by them, over one parse; up to one that can't be.
void sayByMarkers(Editor& e, const std::string& section, const std::string& load,
                  const std::string& code) {
  Sections s;
  if (!e.load(s)) {
    return;
  }
  std::vector<const Statement*> naming;
  namingStatements(s.script, s.script.statements, section, naming);
  std::vector<ldscript::Replacement> changes;
  std::vector<std::string> whats;
  for (const Statement* st : naming) {
    const std::string said = namedByMarkers(s.script, *st, section, load);
    if (said.empty()) {
      break;
    }
    changes.push_back(ldscript::tokensReplaced(s.script, st->first, st->end, said));
    whats.push_back(join(
        {"wrote '", ldscript::statementText(s.script, *st), "' as '", said, "', of what moved"}));
  }
  std::string text;
  if (!changes.empty() && ldscript::applyReplacements(s.script, std::move(changes), text)) {
    e.commit(s, std::move(text), {code}, std::move(whats));
  }
}

// Once sections are dropped, the statements that name them are said with
// the markers of the moved contents, or go when they can't be; and .text's
// address goes when it names them or what those statements defined: .text
// now starts where the first of them did.
void dropWhatNames(Editor& e, const std::vector<std::string>& dropped) {
  std::vector<std::string> gone = dropped;
  for (;;) {
    Sections s;
    if (!e.load(s)) {
      return;
    }
    const Statement* naming = nullptr;
    for (const Statement& st : s.block->body) {
      if (st.kind == StatementKind::outputSection) {
        continue;
      }
      for (const std::string& name : dropped) {
        if (ldscript::statementNames(s.script, st, name)) {
          naming = &st;
        }
      }
    }
    if (naming == nullptr) {
      break;
    }
    const std::string name = assignedName(s.script, *naming);
    if (!name.empty()) {
      gone.push_back(name);
    }
    std::string said;
    for (const std::string& section : dropped) {
      if (said.empty() && ldscript::statementNames(s.script, *naming, section)) {
        said = namedByMarkers(s.script, *naming, section);
      }
    }
    if (!said.empty()) {
      if (!commitSaid(e, s, *naming, said, codeOf(Rule::flashBeforeRange))) {
        return;
      }
      continue;
    }
    if (!e.commit(s, ldscript::removeStatement(s.script, *naming), {codeOf(Rule::flashBeforeRange)},
                  "dropped '" + ldscript::statementText(s.script, *naming) +
                      "', which names what was dropped")) {
      return;
    }
  }
  Sections s;
  if (!e.load(s)) {
    return;
  }
  const Statement* text = s.find(".text");
  std::size_t colon = text->first + 1;
  while (colon < text->open && s.script.tokenText(colon).find(':') == std::string_view::npos) {
    ++colon;
  }
  const bool namesGone = std::any_of(gone.begin(), gone.end(), [&](const std::string& n) {
    return ldscript::tokensName(s.script, text->first + 1, colon, n);
  });
  if (namesGone) {
    e.commit(s, ldscript::replaceTokens(s.script, text->first + 1, colon, " "),
             {codeOf(Rule::flashBeforeRange)},
             "dropped the address of .text, which named what was dropped");
  }
}

// Output section `name` marked NOLOAD where the script gives it no type;
// false when the script can't be read.
bool markedNoLoad(Editor& e, const std::string& name, const std::string& code,
                  const std::string& why) {
  Sections s;
  if (!e.load(s)) {
    return false;
  }
  const Statement* st = s.find(name);
  if (st != nullptr && st->type.empty()) {
    e.commit(s,
             ldscript::replaceTokens(s.script, st->first, st->first + 1,
                                     std::string(s.script.tokenText(st->first)) + " (NOLOAD)"),
             {code}, "marked " + name + " (NOLOAD)" + why);
  }
  return true;
}

// What `st` holds moved into `into` (.data or .bss) after its last pattern,
// before the statements that end it (". = ALIGN(4); _edata = .;"), which
// then still mark its end; `st` goes. Marked where something names the
// section (a copy table's LOADADDR, ADDR and SIZEOF of it), so that it can
// be said by what it held; into .data, its load address is then set after
// .data. `withFill` keeps the section's FILL: a bank's own fill is no part
// of .data's initial values.
void moveInto(Editor& e, const Sections& s, const Statement& st, const Statement& into,
              const std::string& code, bool withFill) {
  if (into.body.empty()) {
    return;
  }
  const auto [start, end] = movedMarkers(st.name);
  const bool marked = anyNaming(s.script, st.name);
  std::vector<std::string> lines;
  if (marked) {
    lines.push_back(start + " = .;");
  }
  for (const Statement& item : st.body) {
    if (withFill || !item.name.starts_with("FILL")) {
      lines.push_back(ldscript::statementText(s.script, item));
    }
  }
  if (marked) {
    lines.push_back(end + " = .;");
  }
  const Statement* lastPattern = nullptr;
  for (const Statement& item : into.body) {
    lastPattern = isPattern(item) ? &item : lastPattern;
  }
  const bool loaded = into.name == ".data";
  const std::string load = loaded ? start.substr(0, start.size() - 5) + "load" : std::string();
  std::vector<ldscript::Replacement> changes = {
      lastPattern != nullptr ? ldscript::linesAfter(s.script, *lastPattern, lines)
                             : ldscript::linesBefore(s.script, into.body.back(), lines)};
  if (marked && loaded) {
    changes.push_back(ldscript::linesAfter(
        s.script, into, {join({load, " = LOADADDR(.data) + (", start, " - ADDR(.data));"})}));
  }
  changes.push_back(ldscript::statementRemoved(s.script, st));
  std::string text;
  if (ldscript::applyReplacements(s.script, std::move(changes), text) &&
      e.commit(s, std::move(text), {code}, "moved what " + st.name + " holds into " + into.name)) {
    sayByMarkers(e, st.name, load, code);
  }
}

}  // namespace

// PF208: RAM sections between the flash sections and .data go after .bss.
void moveRamSections(Editor& e, const LinkDiagnosis& d) {
  const std::vector<const LinkFinding*> found = findingsOf(d, Rule::ramSectionsBeforeData);
  if (found.empty()) {
    return;
  }
  // The rooms emptied and the sections moved, of each finding, in order.
  std::vector<std::string> names;
  for (const LinkFinding* f : found) {
    names.insert(names.end(), f->sections.begin(), f->sections.end());
  }
  for (const std::string& name : names) {
    Sections s;
    if (!e.load(s)) {
      return;
    }
    const Statement* st = s.find(name);
    const bool bssAmongThem = std::find(names.begin(), names.end(), ".bss") != names.end();
    const Statement* after = bssAmongThem ? nullptr : s.find(".bss");
    if (after == nullptr) {
      after = s.find(".data");
    }
    if (st == nullptr || after == nullptr || st == after || s.indexOf(*st) > s.indexOf(*after)) {
      continue;
    }
    const std::string code = codeOf(Rule::ramSectionsBeforeData);
    e.commit(s, ldscript::moveAfter(s.script, *st, *after), {code},
             "moved " + name + " after " + after->name);
    for (const LinkFinding* f : found) {
      if (std::find(f->noLoad.begin(), f->noLoad.end(), name) != f->noLoad.end()) {
        markedNoLoad(e, name, code, ", a reservation after " + after->name);
      }
    }
  }
}

// PF207: a section of the code's flash region placed after .data (a marker
// that ends the image) goes after the last section of that region before
// .data, so that the lines that end the code range come after it: after
// .data, whose initial values are loaded with AT(), it would overlap them.
// A section of a flash region of its own stays: what the firmware means by
// that region is the team's.
void moveFlashSections(Editor& e, const LinkDiagnosis& d) {
  for (const LinkFinding* f : findingsOf(d, Rule::flashSectionAfterRange)) {
    Sections s;
    if (f->section.empty() || !e.load(s)) {
      return;
    }
    const Statement* st = s.find(f->section);
    const Statement* data = s.find(".data");
    const Statement* text = s.find(".text");
    if (st == nullptr || data == nullptr || text == nullptr || s.indexOf(*st) < s.indexOf(*data) ||
        st->region.empty() || e.region(st->region) != e.region(text->region)) {
      continue;
    }
    // After the last section of the code's region before .data: what
    // stands between it and .data (assignments that name .data, the end
    // lines) stays after the moved section.
    const Statement* last = nullptr;
    for (std::size_t i = s.indexOf(*data); i-- > 0 && last == nullptr;) {
      const Statement& before = s.block->body[i];
      if (before.kind == StatementKind::outputSection && !before.region.empty() &&
          e.region(before.region) == e.region(text->region)) {
        last = &before;
      }
    }
    std::string moved;
    if (last != nullptr &&
        ldscript::applyReplacements(
            s.script,
            {ldscript::linesAfter(s.script, *last, {ldscript::statementText(s.script, *st)}),
             ldscript::statementRemoved(s.script, *st)},
            moved)) {
      e.commit(s, std::move(moved), {codeOf(Rule::flashSectionAfterRange)},
               "moved " + f->section + " before .data, into the code range");
    }
  }
}

// PF101, PF103: the output section that holds the code is named .text.
void renameTextSection(Editor& e, const LinkDiagnosis& d) {
  for (const Rule rule : {Rule::noTextLine, Rule::longCodeSectionName}) {
    for (const LinkFinding* f : findingsOf(d, rule)) {
      renameSection(e, f->section, ".text", ruleInfo(rule).code.data(), false);
    }
  }
}

// PF202: the RAM data's output section is named .data, and what names it.
void renameDataSection(Editor& e, const LinkDiagnosis& d) {
  for (const LinkFinding* f : findingsOf(d, Rule::dataLineSectionName)) {
    renameSection(e, f->section, ".data", codeOf(Rule::dataLineSectionName), true);
  }
}

// PF211: a reservation after .bss is marked NOLOAD.
void markNoLoad(Editor& e, const LinkDiagnosis& d) {
  for (const LinkFinding* f : findingsOf(d, Rule::reservationLoaded)) {
    if (f->section.empty() || !markedNoLoad(e, f->section, codeOf(Rule::reservationLoaded), "")) {
      return;
    }
  }
}

// PF212: what a RAM section after .bss holds moves into .data, which the
// start-up code copies.
void moveIntoData(Editor& e, const LinkDiagnosis& d) {
  for (const LinkFinding* f : findingsOf(d, Rule::ramContentAfterRange)) {
    Sections s;
    if (f->section.empty() || !e.load(s)) {
      return;
    }
    const Statement* st = s.find(f->section);
    const Statement* data = s.find(".data");
    // Never .data into itself: a finding of a round before PF208 moved the
    // sections before .data can name .data.
    if (st == nullptr || data == nullptr || st == data || s.indexOf(*st) < s.indexOf(*data)) {
      continue;
    }
    moveInto(e, s, *st, *data, codeOf(Rule::ramContentAfterRange), true);
  }
}

// PF507: a section in RAM the device lacks moves into .data when the script
// loads it into the flash (AT> or AT()), into .bss when it does not.
void moveOutOfMissingRam(Editor& e, const LinkDiagnosis& d) {
  for (const LinkFinding* f : findingsOf(d, Rule::ramBankMissing)) {
    Sections s;
    if (!e.load(s)) {
      return;
    }
    const Statement* st = s.find(f->section);
    if (st == nullptr) {
      continue;
    }
    const bool initialised = !st->loadRegion.empty() || st->atFirst != st->atEnd;
    const Statement* into = s.find(initialised ? ".data" : ".bss");
    if (into != nullptr && into != st) {
      moveInto(e, s, *st, *into, codeOf(Rule::ramBankMissing), false);
    }
  }
}

namespace {

// What emptying the reservation `st` says.
std::string emptiedText(const Statement& st) {
  return "emptied the reservation " + st.name +
         " before .text (the device's loader keeps the image's own header)";
}

// The reservation `st` emptied where it stands.
ldscript::Replacement emptiedRoom(const Sections& s, const Statement& st) {
  const std::string indent = ldscript::indentOf(s.script, st);
  const std::string inner =
      st.body.empty() ? indent + "    " : ldscript::indentOf(s.script, st.body.front());
  // ". = ." keeps the section, empty, where it was: the linker drops an
  // empty section, and with it the location counter's place after it.
  return ldscript::tokensReplaced(s.script, st.open + 1, st.close,
                                  join({"\n", inner, ". = .;\n", indent}));
}

// The sections of `names` that stand before .text, in that order: the
// rooms among them (only reserving space) when `rooms`, the others when not.
std::vector<const Statement*> beforeText(const Sections& s, const std::vector<std::string>& names,
                                         bool rooms) {
  const Statement* text = s.find(".text");
  std::vector<const Statement*> found;
  for (const std::string& name : names) {
    const Statement* st = s.find(name);
    if (st != nullptr && s.indexOf(*st) <= s.indexOf(*text) && onlyReserves(*st) == rooms) {
      found.push_back(st);
    }
  }
  return found;
}

// Rooms for another header (MCUboot's, filled) among `names` before .text:
// the device's loader reads the image's own, so nothing goes into .text for
// them. Each is emptied where it stands, all over one parse.
void emptyRooms(Editor& e, const std::vector<std::string>& names) {
  Sections s;
  if (!e.load(s)) {
    return;
  }
  const Statement* text = s.find(".text");
  std::vector<ldscript::Replacement> changes;
  std::vector<std::string> whats;
  bool startMoves = false;
  for (const Statement* st : beforeText(s, names, true)) {
    // In a region of its own the room keeps its place, and the code start
    // with it; in the code's region the code moves down.
    const bool ownRegion = !st->region.empty() && !text->region.empty() &&
                           e.region(st->region) != e.region(text->region);
    startMoves = startMoves || !ownRegion;
    changes.push_back(emptiedRoom(s, *st));
    whats.push_back(emptiedText(*st));
  }
  std::string emptied;
  if (!changes.empty() && ldscript::applyReplacements(s.script, std::move(changes), emptied) &&
      e.commit(s, std::move(emptied), {codeOf(Rule::flashBeforeRange)}, std::move(whats)) &&
      startMoves) {
    e.flashStartMoves();
  }
}

}  // namespace

// PF106, PF104: flash sections before .text, and the one the code start
// lies in, move into it, at its start, in the order they have; their
// output sections go. One parse holds every change of the move: the
// sections dropped and their contents at .text's start.
void moveIntoText(Editor& e, const LinkDiagnosis& d) {
  // The rooms emptied and the sections moved, of each finding, in order:
  // what lies before the range, then the section the code start lies in.
  std::vector<std::string> names;
  for (const Rule rule : {Rule::flashBeforeRange, Rule::codeStartInOtherSection}) {
    for (const LinkFinding* f : findingsOf(d, rule)) {
      names.insert(names.end(), f->sections.begin(), f->sections.end());
    }
  }
  const std::vector<std::string> codes =
      codesPresent(d, {Rule::flashBeforeRange, Rule::codeStartInOtherSection});
  if (names.empty()) {
    return;
  }
  emptyRooms(e, names);
  Sections s;
  if (!e.load(s)) {
    return;
  }
  const Statement* text = s.find(".text");
  std::vector<ldscript::Replacement> changes;
  std::vector<std::string> lines;
  std::vector<std::string> moved;
  std::vector<std::string> whats;
  std::string region;
  for (const Statement* st : beforeText(s, names, false)) {
    const std::string& name = st->name;
    // Marked where something else names the section (its size, its
    // address), so that it can be said by what it held.
    const bool marked = anyNaming(s.script, name);
    if (marked) {
      lines.push_back(movedMarkers(name).first + " = .;");
    }
    for (const Statement& item : st->body) {
      lines.push_back(keptIfVectors(s.script, item, name));
    }
    if (marked) {
      lines.push_back(movedMarkers(name).second + " = .;");
    }
    if (moved.empty()) {
      region = st->region;  // the region merged into .text's, if any
    }
    moved.push_back(name);
    changes.push_back(ldscript::statementRemoved(s.script, *st));
    whats.push_back("dropped the output section " + name);
  }
  std::string list;
  for (const std::string& name : moved) {
    list += (list.empty() ? "" : ", ") + name;
  }
  if (!lines.empty()) {
    changes.push_back(ldscript::linesAtBodyStart(s.script, *text, lines));
    whats.push_back("moved what " + list + " held to the start of .text");
  }
  const std::string textRegion = text->region;
  std::string edited;
  if (moved.empty() || !ldscript::applyReplacements(s.script, std::move(changes), edited) ||
      !e.commit(s, std::move(edited), codes, std::move(whats))) {
    return;
  }
  mergeRegions(e, region, textRegion, moved.front(), codes);
  if (lines.empty()) {
    return;
  }
  dropWhatNames(e, moved);
  // What still measures them inside a section (a table's LONG(SIZEOF(...))).
  for (const std::string& name : moved) {
    sayByMarkers(e, name, {}, codes.front());
  }
}

namespace {

// The KEEPs that keep the header symbols' sections, each with the input
// section it is for, what they keep, and the codes they answer.
struct Keeps {
  std::vector<std::string> keeps;
  std::vector<std::string> inputs;
  std::string kept;
  std::vector<std::string> codes;
};

Keeps keepsNeeded(const LinkDiagnosis& d, const std::string& text) {
  Keeps k;
  for (const LinkFinding* f : findingsOf(d, Rule::symbolDiscarded)) {
    if (f->symbol >= kRequiredSymbolCount) {
      continue;
    }
    std::string_view line = d.symbols[f->symbol].discarded.text;
    const std::size_t start = line.find_first_not_of(' ');
    if (start == std::string_view::npos) {
      continue;
    }
    line = line.substr(start);
    const std::string section(line.substr(0, line.find(' ')));
    const std::string keep = "KEEP(*(" + section + "))";
    if (text.find(keep) == std::string::npos &&
        std::find(k.keeps.begin(), k.keeps.end(), keep) == k.keeps.end()) {
      k.keeps.push_back(keep);
      k.inputs.push_back(section);
      k.kept += (k.kept.empty() ? "" : ", ") + section;
    }
  }
  if (!k.keeps.empty()) {
    k.codes.emplace_back(codeOf(Rule::symbolDiscarded));
  }
  // Under LLD the map does not say what --gc-sections discarded: with
  // -ffunction-sections and -fdata-sections a symbol's section is named
  // after it.
  for (const LinkFinding* f : findingsOf(d, Rule::symbolUndefined)) {
    if (f->symbol >= kRequiredSymbolCount) {
      continue;
    }
    const std::string name(kRequiredSymbolNames[f->symbol]);
    // Its code or its data: each kept where its own pattern would take it.
    const std::string keep = join({"KEEP(*(.text.", name, "))"});
    if (text.find(keep) == std::string::npos) {
      k.keeps.push_back(keep);
      k.inputs.push_back(join({".text.", name}));
      k.keeps.push_back(join({"KEEP(*(.rodata.", name, "))"}));
      k.inputs.push_back(join({".rodata.", name}));
      k.kept += (k.kept.empty() ? "" : ", ") + std::string("the sections of ") + name;
      if (k.codes.empty() || k.codes.back() != codeOf(Rule::symbolUndefined)) {
        k.codes.emplace_back(codeOf(Rule::symbolUndefined));
      }
    }
  }
  return k;
}

}  // namespace

// PF303, PF304: a header symbol's section, discarded by --gc-sections, is
// kept.
void keepSymbols(Editor& e, const LinkDiagnosis& d) {
  Sections s;
  if (!e.load(s)) {
    return;
  }
  const Keeps k = keepsNeeded(d, ldscript::statementText(s.script, *s.block));
  if (k.keeps.empty()) {
    return;
  }
  // Each in its section, where its pattern is; the KEEPs of one place go
  // in as one change, and all the changes are made over this one parse.
  struct Place {
    std::size_t section;
    std::size_t at;
    std::string keep;
  };
  std::vector<Place> placed;
  std::string where;
  for (std::size_t i = 0; i < k.keeps.size(); ++i) {
    const std::size_t section = keepSection(s, k.inputs[i]);
    placed.push_back(
        {section, keepPlace(s.script, s.block->body[section], k.inputs[i]), k.keeps[i]});
    const std::string& name = s.block->body[section].name;
    if (where.find(name) == std::string::npos) {
      where += (where.empty() ? "" : ", ") + name;
    }
  }
  std::stable_sort(placed.begin(), placed.end(), [](const Place& a, const Place& b) {
    return a.section != b.section ? a.section > b.section : a.at > b.at;
  });
  std::vector<ldscript::Replacement> changes;
  for (std::size_t i = 0; i < placed.size();) {
    std::vector<std::string> lines;
    const Place first = placed[i];
    for (; i < placed.size() && placed[i].section == first.section && placed[i].at == first.at;
         ++i) {
      lines.insert(lines.begin(), placed[i].keep);
    }
    const Statement& code = s.block->body[first.section];
    changes.push_back(first.at < code.body.size()
                          ? ldscript::linesBefore(s.script, code.body[first.at], lines)
                          : ldscript::linesAtBodyEnd(s.script, code, lines));
  }
  std::string text;
  if (!ldscript::applyReplacements(s.script, std::move(changes), text)) {
    return;
  }
  e.commit(s, std::move(text), k.codes, "kept " + k.kept + " in " + where);
}

bool emptySection(Editor& e, const Sections& s, const Statement& st, const std::string& code) {
  std::string emptied;
  return ldscript::applyReplacements(s.script, {emptiedRoom(s, st)}, emptied) &&
         e.commit(s, std::move(emptied), {code}, emptiedText(st));
}

// .text's header aligned to `align` ("0x20000"), an ALIGN(...) already
// there replaced.
void alignTextTo(Editor& e, const std::string& align, const std::string& code) {
  Sections s;
  if (!e.load(s)) {
    return;
  }
  const Statement* text = s.find(".text");
  const std::size_t at = colonToken(s.script, *text) + 1;
  std::size_t alignFirst = 0;
  std::size_t alignEnd = 0;
  for (std::size_t i = at; i < text->open; ++i) {
    if (s.script.tokenText(i) == "ALIGN") {
      alignFirst = i;
      for (std::size_t k = i; k < text->open; ++k) {
        if (s.script.tokenText(k) == ")") {
          alignEnd = k + 1;
          break;
        }
      }
    }
  }
  const std::string written = "ALIGN(" + align + ")";
  const std::string newText =
      alignEnd != 0 ? ldscript::replaceTokens(s.script, alignFirst, alignEnd, written)
                    : ldscript::replaceTokens(s.script, at - 1, at,
                                              join({s.script.tokenText(at - 1), " ", written}));
  e.commit(s, newText, {code}, "aligned .text to " + align);
}

// PF401, PF402: .text aligned so that the file holds it at the offset
// pakforge reads; with -n.
void alignText(Editor& e, const LinkDiagnosis& d) {
  std::vector<std::string> codes;
  for (const Rule rule : rulesOf(alignText)) {
    codes.push_back(codeOf(rule));
  }
  if (!findingsOf(d, Rule::pageAlignedSegments).empty()) {
    e.needNoPageAlign(codes);
  }
  for (const LinkFinding* f : findingsOf(d, Rule::textNotAtOffset)) {
    e.needNoPageAlign(codes);
    // Reckoned from where the flash content starts now: when that moves,
    // the next link tells the alignment.
    if (f->align > 1 && !e.flashStartMoved()) {
      alignTextTo(e, hexText(f->align, 1), codeOf(Rule::textNotAtOffset));
    }
  }
}

std::span<const RuleEdit> sectionEdits() {
  static constexpr std::array<RuleEdit, 10> kRows = {{
      {renameTextSection, {Rule::noTextLine, Rule::longCodeSectionName}, EditStep::textName},
      {moveRamSections, {Rule::ramSectionsBeforeData}, EditStep::ramSectionsAfterData},
      {renameDataSection, {Rule::dataLineSectionName}, EditStep::dataName},
      {moveOutOfMissingRam, {Rule::ramBankMissing}, EditStep::outOfMissingRam},
      {moveFlashSections, {Rule::flashSectionAfterRange}, EditStep::flashSectionsIntoRange},
      {markNoLoad, {Rule::reservationLoaded}, EditStep::noLoad},
      {moveIntoData, {Rule::ramContentAfterRange}, EditStep::intoData},
      {moveIntoText, {Rule::flashBeforeRange, Rule::codeStartInOtherSection}, EditStep::intoText},
      {keepSymbols, {Rule::symbolDiscarded, Rule::symbolUndefined}, EditStep::keeps},
      {alignText, {Rule::textNotAtOffset, Rule::pageAlignedSegments}, EditStep::textAlignment},
  }};
  return kRows;
}

}  // namespace pakforge::fix::edit
