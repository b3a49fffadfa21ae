#include "fix/script_fixes.h"

#include <algorithm>
#include <array>
#include <initializer_list>
#include <set>

#include "format/image_header.h"
#include "ldscript/script.h"
#include "ldscript/script_edit.h"

namespace pakforge::fix {
namespace {

using ldscript::Script;
using ldscript::Statement;
using ldscript::StatementKind;

// The file whose SECTIONS block holds .text, parsed, and that block.
struct Sections {
  std::size_t file = 0;
  Script script;
  const Statement* block = nullptr;
  const Statement* find(std::string_view name) const {
    for (const Statement& st : block->body) {
      if (st.kind == StatementKind::outputSection && st.name == name) {
        return &st;
      }
    }
    return nullptr;
  }
  // The place of a statement of the block, by its first token.
  std::size_t indexOf(const Statement& st) const {
    return static_cast<std::size_t>(&st - block->body.data());
  }
};

class Editor {
 public:
  Editor(std::vector<ScriptFile>& files, RoundEdits& out) : files_(files), out_(out) {}

  // Parses the files again; false (with the error said) when the SECTIONS
  // block with .text is nowhere, or a file can't be read.
  bool load(Sections& s);
  // The first file with a SECTIONS block, whatever it holds.
  bool loadAny(Sections& s);
  // Puts `text` in place of the file's, after checking it reads; records
  // the change with `codes`.
  bool commit(const Sections& s, std::string text, std::vector<std::string> codes,
              std::string what);
  bool anyNames(std::string_view word) const;
  // The file whose top level holds the block `name` (MEMORY), parsed.
  bool loadBlock(std::string_view name, Sections& s);
  // The memory region a region name stands for, through REGION_ALIAS.
  std::string region(const std::string& name);

 private:
  std::vector<ScriptFile>& files_;
  RoundEdits& out_;
};

bool Editor::load(Sections& s) {
  for (std::size_t i = 0; i < files_.size(); ++i) {
    Script script;
    ldscript::ParseError error;
    if (!ldscript::parseScript(files_[i].text, script, error)) {
      out_.error = files_[i].path + ":" + ldscript::errorText(error);
      return false;
    }
    const Statement* block = script.sections();
    if (block == nullptr) {
      continue;
    }
    const bool hasText =
        std::any_of(block->body.begin(), block->body.end(), [](const Statement& st) {
          return st.kind == StatementKind::outputSection && st.name == ".text";
        });
    if (hasText) {
      s.file = i;
      s.script = std::move(script);
      s.block = s.script.sections();
      return true;
    }
  }
  return false;
}

bool Editor::loadAny(Sections& s) {
  for (std::size_t i = 0; i < files_.size(); ++i) {
    Script script;
    ldscript::ParseError error;
    if (ldscript::parseScript(files_[i].text, script, error) && script.sections() != nullptr) {
      s.file = i;
      s.script = std::move(script);
      s.block = s.script.sections();
      return true;
    }
  }
  return false;
}

bool Editor::loadBlock(std::string_view name, Sections& s) {
  for (std::size_t i = 0; i < files_.size(); ++i) {
    Script script;
    ldscript::ParseError error;
    if (!ldscript::parseScript(files_[i].text, script, error)) {
      continue;
    }
    for (const Statement& st : script.statements) {
      if (st.kind == StatementKind::block && st.name == name) {
        s.file = i;
        s.script = std::move(script);
        for (const Statement& again : s.script.statements) {
          if (again.kind == StatementKind::block && again.name == name) {
            s.block = &again;
          }
        }
        return true;
      }
    }
  }
  return false;
}

std::string Editor::region(const std::string& name) {
  // REGION_ALIAS("ALIAS", REGION), anywhere at the top of any file.
  for (const ScriptFile& f : files_) {
    Script script;
    ldscript::ParseError error;
    if (!ldscript::parseScript(f.text, script, error)) {
      continue;
    }
    for (const Statement& st : script.statements) {
      if (st.name != "REGION_ALIAS" && !st.name.starts_with("REGION_ALIAS(")) {
        continue;
      }
      std::string text = ldscript::statementText(script, st);
      text.erase(std::remove_if(text.begin(), text.end(),
                                [](char c) { return c == ' ' || c == '\t' || c == '"'; }),
                 text.end());
      const std::size_t open = text.find('(');
      const std::size_t comma = text.find(',');
      const std::size_t close = text.find(')');
      if (open != std::string::npos && comma != std::string::npos && close != std::string::npos &&
          text.substr(open + 1, comma - open - 1) == name) {
        return region(text.substr(comma + 1, close - comma - 1));
      }
    }
  }
  return name;
}

bool Editor::commit(const Sections& s, std::string text, std::vector<std::string> codes,
                    std::string what) {
  if (text == files_[s.file].text) {
    return false;
  }
  Script check;
  ldscript::ParseError error;
  if (!ldscript::parseScript(text, check, error)) {
    out_.error = "the edit for " + what + " made a script that does not read (" +
                 ldscript::errorText(error) + ")";
    return false;
  }
  files_[s.file].text = std::move(text);
  out_.changes.push_back({std::move(codes), std::move(what)});
  return true;
}

bool Editor::anyNames(std::string_view word) const {
  for (const ScriptFile& f : files_) {
    Script script;
    ldscript::ParseError error;
    if (ldscript::parseScript(f.text, script, error) && ldscript::namesWord(script, word)) {
      return true;
    }
  }
  return false;
}

std::vector<std::string> codesPresent(const LinkDiagnosis& d, std::initializer_list<Rule> rules) {
  std::vector<std::string> codes;
  for (const Rule rule : rules) {
    if (!findingsOf(d, rule).empty()) {
      codes.emplace_back(ruleInfo(rule).code);
    }
  }
  return codes;
}

std::string join(std::initializer_list<std::string_view> parts) {
  std::string text;
  for (const std::string_view part : parts) {
    text.append(part);
  }
  return text;
}

// The decimal number `text` starts with, up to 2^31.
bool decimal(std::string_view text, std::uint32_t& value) {
  value = 0;
  std::size_t i = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && value < 0x80000000U / 10; ++i) {
    value = value * 10 + static_cast<std::uint32_t>(text[i] - '0');
  }
  return i > 0;
}

bool inRamWindow(std::uint64_t address) {
  return address >= 0x20000000 && address < 0x40000000;
}

// The index of the first token of the header that holds its ':'.
std::size_t colonToken(const Script& script, const Statement& st) {
  for (std::size_t i = st.first; i < st.open; ++i) {
    if (script.tokens[i].kind == ldscript::TokenKind::word &&
        script.tokenText(i).find(':') != std::string_view::npos) {
      return i;
    }
  }
  return st.first;
}

// A pattern line of a vector table is kept: nothing in the firmware refers
// to it, and --gc-sections would drop it once it is inside .text.
std::string keptIfVectors(const Script& script, const Statement& st, std::string_view section) {
  std::string text = ldscript::statementText(script, st);
  const auto vectors = [](std::string_view t) {
    return t.find("vector") != std::string_view::npos || t.find("isr") != std::string_view::npos;
  };
  const bool pattern = st.kind == StatementKind::command && !st.name.empty() &&
                       (st.name.front() == '*' || st.name.find('(') != std::string::npos);
  if (pattern && (vectors(section) || vectors(text)) && !text.starts_with("KEEP")) {
    return "KEEP(" + text + ")";
  }
  return text;
}

// PF208: RAM sections between the flash sections and .data go after .bss.
void moveRamSections(Editor& e, const LinkDiagnosis& d) {
  if (findingsOf(d, Rule::ramSectionsBeforeData).empty()) {
    return;
  }
  std::vector<std::string> names;
  for (const MapSection& section : d.outline.sections) {
    if (section.phase == MapPhase::inRange && section.haveAddress && inRamWindow(section.address) &&
        section.name != d.outline.dataLineSection && section.name != ".data") {
      names.push_back(section.name);
    }
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
    e.commit(s, ldscript::moveAfter(s.script, *st, *after), {"PF208"},
             "moved " + name + " after " + after->name);
  }
}

// An output section renamed `to`, and every word of the script that names
// it, when no section has that name yet.
void renameSection(Editor& e, const std::string& from, const std::string& to, const char* code,
                   bool needsText) {
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
    renameSection(e, f->section, ".data", "PF202", true);
  }
}

// PF211: a reservation after .bss is marked NOLOAD.
void markNoLoad(Editor& e, const LinkDiagnosis& d) {
  for (const LinkFinding* f : findingsOf(d, Rule::reservationLoaded)) {
    Sections s;
    if (f->section.empty() || !e.load(s)) {
      return;
    }
    const Statement* st = s.find(f->section);
    if (st == nullptr || !st->type.empty()) {
      continue;
    }
    e.commit(s,
             ldscript::replaceTokens(s.script, st->first, st->first + 1,
                                     std::string(s.script.tokenText(st->first)) + " (NOLOAD)"),
             {"PF211"}, "marked " + f->section + " (NOLOAD)");
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
    if (st == nullptr || data == nullptr || s.indexOf(*st) < s.indexOf(*data) ||
        data->body.empty()) {
      continue;
    }
    std::vector<std::string> lines;
    for (const Statement& item : st->body) {
      lines.push_back(ldscript::statementText(s.script, item));
    }
    // Into .data, before its last statement (the end symbol), then the
    // section goes.
    Script moved;
    ldscript::ParseError error;
    if (!ldscript::parseScript(ldscript::insertBefore(s.script, data->body.back(), lines), moved,
                               error)) {
      return;
    }
    for (const Statement& candidate : moved.sections()->body) {
      if (candidate.kind == StatementKind::outputSection && candidate.name == f->section) {
        e.commit(s, ldscript::removeStatement(moved, candidate), {"PF212"},
                 "moved what " + f->section + " holds into .data");
        break;
      }
    }
  }
}

// A number of a MEMORY line: 0x..., decimal, with K or M.
bool memoryNumber(std::string_view text, std::uint64_t& value) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
    text.remove_prefix(1);
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  std::uint64_t scale = 1;
  if (!text.empty() && (text.back() == 'K' || text.back() == 'k')) {
    scale = 1024;
    text.remove_suffix(1);
  } else if (!text.empty() && (text.back() == 'M' || text.back() == 'm')) {
    scale = std::uint64_t{1024} * 1024;
    text.remove_suffix(1);
  }
  const bool hex = text.starts_with("0x") || text.starts_with("0X");
  if (hex) {
    text.remove_prefix(2);
  }
  if (text.empty() || text.size() > 10) {
    return false;
  }
  value = 0;
  for (const char c : text) {
    const int digit = c >= '0' && c <= '9'          ? c - '0'
                      : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                    : -1;
    if (digit < 0) {
      return false;
    }
    value = value * (hex ? 16 : 10) + static_cast<std::uint64_t>(digit);
  }
  value *= scale;
  return true;
}

// One region of a MEMORY block: where its ORIGIN and LENGTH values stand in
// the file's text, and what they are.
struct MemoryLine {
  std::size_t originAt = 0, originEnd = 0, lengthAt = 0, lengthEnd = 0;
  std::uint64_t origin = 0, length = 0;
};

bool findMemoryLine(const Script& script, const Statement& memory, const std::string& name,
                    MemoryLine& line) {
  const std::string& text = script.text;
  const std::size_t begin = script.byteOf(memory.open + 1);
  const std::size_t end = script.byteOf(memory.close);
  for (std::size_t from = begin; from < end;) {
    std::size_t feed = text.find('\n', from);
    feed = feed == std::string::npos || feed > end ? end : feed;
    const std::string_view l = std::string_view(text).substr(from, feed - from);
    const std::size_t first = l.find_first_not_of(" \t");
    if (first != std::string_view::npos && l.substr(first, name.size()) == name &&
        (first + name.size() == l.size() || l[first + name.size()] == ' ' ||
         l[first + name.size()] == '(' || l[first + name.size()] == ':')) {
      // "ORIGIN = X, LENGTH = Y" (or org/o, len/l).
      const std::size_t colon = l.find(':', first);
      const std::size_t comma = l.find(',', colon);
      const std::size_t equals1 = l.find('=', colon);
      const std::size_t equals2 = comma == std::string_view::npos ? comma : l.find('=', comma);
      if (colon == std::string_view::npos || comma == std::string_view::npos ||
          equals1 == std::string_view::npos || equals2 == std::string_view::npos) {
        return false;
      }
      std::size_t lengthEnd = l.find_first_of(",/", equals2);
      lengthEnd = lengthEnd == std::string_view::npos ? l.size() : lengthEnd;
      line = {from + equals1 + 1, from + comma, from + equals2 + 1, from + lengthEnd, 0, 0};
      return memoryNumber(l.substr(equals1 + 1, comma - equals1 - 1), line.origin) &&
             memoryNumber(l.substr(equals2 + 1, lengthEnd - equals2 - 1), line.length);
    }
    from = feed + 1;
  }
  return false;
}

// `value` in hex, with at least `digits` digits, in the case `like` uses.
std::string hex(std::uint64_t value, std::size_t digits = 1, std::string_view like = {}) {
  const bool lower = like.find_first_of("abcdef") != std::string_view::npos;
  const char* const kDigits = lower ? "0123456789abcdef" : "0123456789ABCDEF";
  std::string text;
  do {
    text.insert(text.begin(), kDigits[value % 16]);
    value /= 16;
  } while (value != 0 || text.size() < digits);
  return "0x" + text;
}

// A MEMORY value written again as the one it replaces was: the spaces
// around it, its hex digits' count and case, or in K.
std::string likeBefore(std::string_view before, std::uint64_t value) {
  const std::size_t start = before.find_first_not_of(" \t");
  const std::string_view old = start == std::string_view::npos ? before : before.substr(start);
  const std::size_t end = old.find_first_of(" \t\r");
  const std::string_view number = old.substr(0, end);
  const bool hexWritten = number.starts_with("0x") || number.starts_with("0X");
  const bool kilo =
      !hexWritten && !number.empty() && (number.back() == 'k' || number.back() == 'K');
  std::string text(before.substr(0, start == std::string_view::npos ? 0 : start));
  if (value == 0) {
    text.push_back('0');
  } else if (kilo && value % 1024 == 0) {
    text.append(std::to_string(value / 1024)).push_back(number.back());
  } else {
    text.append(hex(value, hexWritten ? number.size() - 2 : 1, number));
  }
  return text.append(end == std::string_view::npos ? std::string_view() : old.substr(end));
}

// A section moved into .text from a region of its own just before .text's:
// .text's region starts where that one did, so that it holds both.
void mergeRegions(Editor& e, const std::string& fromRegion, const std::string& textRegion,
                  const std::string& section) {
  const std::string from = e.region(fromRegion);
  const std::string into = e.region(textRegion);
  Sections m;
  if (from.empty() || into.empty() || from == into || !e.loadBlock("MEMORY", m)) {
    return;
  }
  MemoryLine a;
  MemoryLine b;
  if (!findMemoryLine(m.script, *m.block, from, a) ||
      !findMemoryLine(m.script, *m.block, into, b) || a.origin + a.length != b.origin) {
    return;
  }
  std::string text = m.script.text;
  const std::string_view written = m.script.text;
  const std::string length =
      likeBefore(written.substr(b.lengthAt, b.lengthEnd - b.lengthAt), a.length + b.length);
  const std::string origin =
      likeBefore(written.substr(b.originAt, b.originEnd - b.originAt), a.origin);
  text.replace(b.lengthAt, b.lengthEnd - b.lengthAt, length);
  text.replace(b.originAt, b.originEnd - b.originAt, origin);
  e.commit(m, text, {"PF106"},
           "let the region " + into + " start at " + hex(a.origin) + ", where " + from +
               " does, so that .text holds what " + section + " held");
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

// Once sections are dropped, the statements that name them go, and so does
// .text's address when it names them or what those statements defined:
// .text now starts where the first of them did.
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
    if (!e.commit(s, ldscript::removeStatement(s.script, *naming), {"PF106"},
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
  Script header;
  ldscript::ParseError error;
  const std::size_t begin = s.script.byteOf(text->first + 1);
  ldscript::parseScript(s.script.text.substr(begin, s.script.byteOf(colon) - begin), header, error);
  const bool namesGone = std::any_of(gone.begin(), gone.end(), [&header](const std::string& n) {
    return ldscript::namesWord(header, n);
  });
  if (namesGone) {
    e.commit(s, ldscript::replaceTokens(s.script, text->first + 1, colon, " "), {"PF106"},
             "dropped the address of .text, which named what was dropped");
  }
}

// PF106: flash sections before .text move into it, at its start, in the
// order they have; their output sections go.
void moveIntoText(Editor& e, const LinkDiagnosis& d) {
  if (findingsOf(d, Rule::flashBeforeRange).empty()) {
    return;
  }
  std::vector<std::string> names;
  for (const FlashSpan& span : d.outside) {
    if (span.start < d.rangeStart && !span.section.empty() && span.section != ".text" &&
        std::find(names.begin(), names.end(), span.section) == names.end()) {
      names.push_back(span.section);
    }
  }
  std::vector<std::string> lines;
  std::vector<std::string> moved;
  for (const std::string& name : names) {
    Sections s;
    if (!e.load(s)) {
      return;
    }
    const Statement* st = s.find(name);
    const Statement* text = s.find(".text");
    if (st == nullptr || s.indexOf(*st) > s.indexOf(*text)) {
      continue;
    }
    for (const Statement& item : st->body) {
      lines.push_back(keptIfVectors(s.script, item, name));
    }
    const std::string region = st->region;
    const std::string textRegion = text->region;
    if (e.commit(s, ldscript::removeStatement(s.script, *st), {"PF106"},
                 "dropped the output section " + name)) {
      moved.push_back(name);
      if (moved.size() == 1) {
        mergeRegions(e, region, textRegion, name);
      }
    }
  }
  Sections s;
  if (lines.empty() || !e.load(s)) {
    return;
  }
  std::string list;
  for (const std::string& name : moved) {
    list += (list.empty() ? "" : ", ") + name;
  }
  e.commit(s, ldscript::insertAtBodyStart(s.script, *s.find(".text"), lines), {"PF106"},
           "moved what " + list + " held to the start of .text");
  dropWhatNames(e, moved);
}

// PF303, PF304: a header symbol's section, discarded by --gc-sections, is
// kept.
void keepSymbols(Editor& e, const LinkDiagnosis& d) {
  Sections s;
  if (!e.load(s)) {
    return;
  }
  const std::string text = ldscript::statementText(s.script, *s.find(".text"));
  std::vector<std::string> keeps;
  std::string kept;
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
        std::find(keeps.begin(), keeps.end(), keep) == keeps.end()) {
      keeps.push_back(keep);
      kept += (kept.empty() ? "" : ", ") + section;
    }
  }
  std::vector<std::string> codes;
  if (!keeps.empty()) {
    codes.emplace_back("PF303");
  }
  // Under LLD the map does not say what --gc-sections discarded: with
  // -ffunction-sections and -fdata-sections a symbol's section is named
  // after it.
  for (const LinkFinding* f : findingsOf(d, Rule::symbolUndefined)) {
    if (f->symbol >= kRequiredSymbolCount) {
      continue;
    }
    const std::string name(kRequiredSymbolNames[f->symbol]);
    const std::string keep = join({"KEEP(*(.text.", name, " .rodata.", name, "))"});
    if (text.find(keep) == std::string::npos) {
      keeps.push_back(keep);
      kept += (kept.empty() ? "" : ", ") + std::string("the sections of ") + name;
      if (codes.empty() || codes.back() != "PF304") {
        codes.emplace_back("PF304");
      }
    }
  }
  if (!keeps.empty()) {
    e.commit(s, ldscript::insertAtBodyStart(s.script, *s.find(".text"), keeps), codes,
             "kept " + kept + " in .text");
  }
}

// The end of the code range past the initial values of .data: lines before
// .data that move the location counter past them without naming .data,
// .data loaded there with AT(), and its size after it.
void endRange(Editor& e, const LinkDiagnosis& d) {
  const std::vector<std::string> codes = codesPresent(
      d, {Rule::initialValuesBeforeRange, Rule::dataLineAssignment, Rule::noEndLine,
          Rule::lldAssignmentEnd, Rule::initialValuesMisaligned, Rule::loadedOutsideFlash});
  if (codes.empty()) {
    return;
  }
  std::uint32_t align = 1;
  for (const LinkFinding& f : d.findings) {
    for (const std::string& line : f.lines) {
      std::uint32_t n = 0;
      if (line.starts_with(". = ALIGN(") && decimal(line.substr(10), n)) {
        align = std::max(align, n);
      }
    }
  }
  // The names the lines use, none of which the script has yet.
  const std::array<std::array<std::string_view, 3>, 3> choices = {{
      {"_data_image_start", "_data_image_size", "_flash_end"},
      {"__data_image_start", "__data_image_size", "__flash_end"},
      {"_data_image_start_", "_data_image_size_", "_flash_end_"},
  }};
  Sections s;
  if (!e.load(s) || s.find(".data") == nullptr) {
    return;
  }
  for (const auto& names : choices) {
    if (ldscript::statementText(s.script, *s.block)
            .find(". = " + std::string(names[0]) + " + " + std::string(names[1]) + ";") !=
        std::string::npos) {
      return;  // the lines are there: what is left is not theirs to fix
    }
  }
  const auto* chosen = &choices[0];
  for (const auto& names : choices) {
    chosen = &names;
    if (!e.anyNames(names[0]) && !e.anyNames(names[1]) && !e.anyNames(names[2])) {
      break;
    }
  }
  const std::string size((*chosen)[1]);
  const std::string end((*chosen)[2]);
  // Assignments before .data that name it end the range where they stand:
  // after .data they say the same.
  for (;;) {
    if (!e.load(s)) {
      return;
    }
    const Statement* data = s.find(".data");
    const Statement* naming = nullptr;
    for (std::size_t i = s.indexOf(*data); i-- > 0;) {
      const Statement& st = s.block->body[i];
      if (st.kind == StatementKind::outputSection) {
        break;
      }
      if (ldscript::statementNames(s.script, st, ".data")) {
        naming = &st;
      }
    }
    if (naming == nullptr) {
      break;
    }
    const std::string line = ldscript::statementText(s.script, *naming);
    if (!e.commit(s, ldscript::moveAfter(s.script, *naming, *data), {"PF201"},
                  "moved '" + line + "' after .data")) {
      return;
    }
  }
  if (!e.load(s)) {
    return;
  }
  // Where the flash content ends: the location counter, when the output
  // section before .data lies in the flash; the end of the last one that
  // does otherwise. The map of this link tells where each lies, whatever
  // region names (or aliases) the script gives them.
  const auto inFlashWindow = [&d](const std::string& name, bool& known) {
    for (const MapSection& section : d.outline.sections) {
      if (section.name == name && section.haveAddress) {
        known = true;
        return section.address >= 0x08000000 && section.address < 0x10000000;
      }
    }
    known = false;
    return false;
  };
  const Statement* data = s.find(".data");
  std::string from = ".";
  std::string lastFlash;
  bool before = true;
  for (std::size_t i = s.indexOf(*data); i-- > 0;) {
    const Statement& st = s.block->body[i];
    bool known = false;
    if (st.kind != StatementKind::outputSection || st.name == "/DISCARD/") {
      continue;
    }
    const bool flash = inFlashWindow(st.name, known);
    if (!known) {
      continue;
    }
    if (flash) {
      lastFlash = st.name;
      if (!before) {
        from = "LOADADDR(" + st.name + ") + SIZEOF(" + st.name + ")";
      }
      break;
    }
    before = false;
  }
  // An alignment of the location counter between the last flash section and
  // .data leaves a gap in the flash that the file, linked with -n, does not
  // hold: it goes inside the section, at its end.
  for (bool moved = true; moved && from == "." && !lastFlash.empty();) {
    moved = false;
    const Statement* section = s.find(lastFlash);
    const Statement* dataNow = s.find(".data");
    for (std::size_t i = s.indexOf(*section) + 1; i < s.indexOf(*dataNow); ++i) {
      const Statement& st = s.block->body[i];
      const std::string line = ldscript::statementText(s.script, st);
      if (st.kind != StatementKind::assignment || !(st.name == "." || st.name.starts_with(".=")) ||
          line.find("ALIGN") == std::string::npos) {
        continue;
      }
      Script inside;
      ldscript::ParseError error;
      if (!ldscript::parseScript(ldscript::insertAtBodyEnd(s.script, *section, {line}), inside,
                                 error)) {
        return;
      }
      const std::size_t index = i;
      moved = e.commit(s, ldscript::removeStatement(inside, inside.sections()->body[index]), codes,
                       join({"moved '", line, "' to the end of ", lastFlash}));
      if (!moved || !e.load(s)) {
        return;
      }
      break;
    }
  }
  data = s.find(".data");
  // The alignment the initial values keep goes at the end of the last flash
  // section, so that whatever is set after it (the start-up code's own
  // symbol for the initial values) is aligned too, and the file holds no gap
  // the flash does not.
  if (align > 1 && !lastFlash.empty()) {
    const std::string pad = ". = ALIGN(" + std::to_string(align) + ");";
    const Statement* section = s.find(lastFlash);
    if (section != nullptr &&
        (section->body.empty() || ldscript::statementText(s.script, section->body.back()) != pad)) {
      e.commit(s, ldscript::insertAtBodyEnd(s.script, *section, {pad}), codes,
               "aligned the end of " + lastFlash + " to " + std::to_string(align));
      if (!e.load(s)) {
        return;
      }
      data = s.find(".data");
    }
  }
  // The load address: .data's own AT(SYMBOL), which the start-up code copies
  // from, where it has one; a symbol of the fix's otherwise.
  std::string start((*chosen)[0]);
  bool own = false;
  if (data->atFirst != data->atEnd) {
    std::string inside;
    for (std::size_t i = data->atFirst + 1; i < data->atEnd; ++i) {
      if (s.script.tokens[i].kind == ldscript::TokenKind::word) {
        inside.append(s.script.tokenText(i)).append(" ");
      }
    }
    const bool plain = !inside.empty() && inside.find(' ') == inside.size() - 1 &&
                       inside.find_first_of("()+-*/") == std::string::npos;
    if (plain) {
      start = inside.substr(0, inside.size() - 1);
      own = true;
    }
  }
  std::vector<std::string> lines;
  // The team's symbol is set again where RAM sections moved the location
  // counter away from the flash.
  if (!own || from != ".") {
    lines.push_back(start + " = " + from + ";");
  }
  lines.push_back(". = " + start + " + " + size + ";");
  lines.push_back(end + " = .;");
  std::string text = ldscript::insertAfter(s.script, *data, {size + " = SIZEOF(.data);"});
  Script next;
  ldscript::ParseError error;
  if (!ldscript::parseScript(text, next, error)) {
    return;
  }
  // .data loaded at the start, with no load region after it.
  const Statement& d2 = next.sections()->body[s.indexOf(*data)];
  if (d2.lmaFirst != d2.lmaEnd) {
    std::size_t lmaBegin = d2.lmaFirst;
    while (lmaBegin > d2.close + 1 &&
           next.tokens[lmaBegin - 1].kind == ldscript::TokenKind::space) {
      --lmaBegin;
    }
    text = ldscript::replaceTokens(next, lmaBegin, d2.lmaEnd, "");
    if (!ldscript::parseScript(text, next, error)) {
      return;
    }
  }
  const Statement& d3 = next.sections()->body[s.indexOf(*data)];
  if (!own) {
    if (d3.atFirst != d3.atEnd) {
      text = ldscript::replaceTokens(next, d3.atFirst, d3.atEnd, "AT(" + start + ")");
    } else {
      const std::size_t colon = colonToken(next, d3);
      text = ldscript::replaceTokens(next, colon, colon + 1,
                                     std::string(next.tokenText(colon)) + " AT(" + start + ")");
    }
    if (!ldscript::parseScript(text, next, error)) {
      return;
    }
  }
  text = ldscript::insertBefore(next, next.sections()->body[s.indexOf(*data)], lines);
  e.commit(s, text, codes, "ended the code range after the initial values of .data");
}

// PF401: .text aligned so that the file holds it at the offset pakforge
// reads; with -n.
// .text's header aligned to `align` ("0x20000"), an ALIGN(...) already
// there replaced.
void alignTextTo(Editor& e, const std::string& align, const char* code) {
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

void alignText(Editor& e, const LinkDiagnosis& d, RoundEdits& out) {
  if (!findingsOf(d, Rule::pageAlignedSegments).empty()) {
    out.noPageAlign = true;
  }
  for (const LinkFinding* f : findingsOf(d, Rule::textNotAtOffset)) {
    out.noPageAlign = true;
    const std::size_t open = f->lines.empty() ? std::string::npos : f->lines.front().find("ALIGN(");
    if (open != std::string::npos && f->lines.front().ends_with(")")) {
      alignTextTo(e, f->lines.front().substr(open + 6, f->lines.front().size() - open - 7),
                  "PF401");
    }
  }
}

// PF503: the device's RAM ends at RAM_LIMIT; a MEMORY region of the SRAM
// window that runs past it (a bank of a larger part) is cut to it, so that
// no end of a bank the device lacks stands in the map.
void clampRamBanks(Editor& e, const LinkDiagnosis& d) {
  if (findingsOf(d, Rule::ramCheckFails).empty()) {
    return;
  }
  Sections m;
  if (!e.loadBlock("MEMORY", m)) {
    return;
  }
  // The region names: the first word of each line of the block.
  std::vector<std::string> names;
  const std::string& text = m.script.text;
  const std::size_t begin = m.script.byteOf(m.block->open + 1);
  const std::size_t end = m.script.byteOf(m.block->close);
  for (std::size_t from = begin; from < end;) {
    std::size_t feed = text.find('\n', from);
    feed = feed == std::string::npos || feed > end ? end : feed;
    const std::string_view line = std::string_view(text).substr(from, feed - from);
    const std::size_t first = line.find_first_not_of(" \t");
    if (first != std::string_view::npos && line.find(':') != std::string_view::npos) {
      const std::string_view rest = line.substr(first);
      names.emplace_back(rest.substr(0, rest.find_first_of(" \t(:")));
    }
    from = feed + 1;
  }
  std::string edited = text;
  std::string cut;
  // From the last line up, so that earlier offsets stay where they are.
  for (std::size_t i = names.size(); i-- > 0;) {
    MemoryLine line;
    if (!findMemoryLine(m.script, *m.block, names[i], line) || !inRamWindow(line.origin) ||
        line.origin + line.length <= RAM_LIMIT) {
      continue;
    }
    const std::uint64_t origin = std::min<std::uint64_t>(line.origin, RAM_LIMIT);
    const std::string_view written = text;
    edited.replace(line.lengthAt, line.lengthEnd - line.lengthAt,
                   likeBefore(written.substr(line.lengthAt, line.lengthEnd - line.lengthAt),
                              RAM_LIMIT - origin));
    edited.replace(
        line.originAt, line.originEnd - line.originAt,
        likeBefore(written.substr(line.originAt, line.originEnd - line.originAt), origin));
    cut.insert(0, join({names[i], cut.empty() ? "" : ", "}));
  }
  if (!cut.empty()) {
    e.commit(m, edited, {"PF503"},
             join({"cut ", cut, " to the device's RAM, up to ", hex(RAM_LIMIT, 8)}));
  }
}

// PF405: the code starts where the application's flash does, 0x08020000:
// the region that holds .text is moved there and ends where that flash
// does (a script written for the bare part starts at 0x08000000).
void moveCodeRegion(Editor& e, const LinkDiagnosis& d, RoundEdits& out) {
  constexpr std::uint64_t kApplicationFlash = 0x08020000;
  if (findingsOf(d, Rule::codeStartNotAlignable).empty()) {
    return;
  }
  Sections s;
  Sections m;
  if (!e.load(s) || !e.loadBlock("MEMORY", m)) {
    return;
  }
  const std::string region = e.region(s.find(".text")->region);
  MemoryLine line;
  if (region.empty() || !findMemoryLine(m.script, *m.block, region, line) ||
      line.origin == kApplicationFlash || line.origin + line.length < ROM_LIMIT) {
    return;
  }
  const std::string_view written = m.script.text;
  std::string text = m.script.text;
  text.replace(line.lengthAt, line.lengthEnd - line.lengthAt,
               likeBefore(written.substr(line.lengthAt, line.lengthEnd - line.lengthAt),
                          ROM_LIMIT - kApplicationFlash));
  text.replace(
      line.originAt, line.originEnd - line.originAt,
      likeBefore(written.substr(line.originAt, line.originEnd - line.originAt), kApplicationFlash));
  if (e.commit(m, text, {"PF405"},
               join({"moved the region ", region, " to the application's flash, ",
                     hex(kApplicationFlash, 8), "-", hex(ROM_LIMIT, 8)}))) {
    // There the file holds the code at offset 0x20000 once .text is aligned
    // to it, with -n.
    alignTextTo(e, "0x20000", "PF405");
    out.noPageAlign = true;
  }
}

// PF203: a pattern of a flash section before .data that holds ".data"
// matches the same sections written .dat[a], and no longer ends the range.
void rewriteDataPatterns(Editor& e, const LinkDiagnosis& d) {
  if (findingsOf(d, Rule::dataLinePattern).empty()) {
    return;
  }
  for (;;) {
    Sections s;
    if (!e.load(s)) {
      return;
    }
    const Statement* data = s.find(".data");
    const std::size_t last = data == nullptr ? s.block->body.size() : s.indexOf(*data);
    const Statement* pattern = nullptr;
    for (std::size_t i = 0; i < last && pattern == nullptr; ++i) {
      const Statement& section = s.block->body[i];
      if (section.kind != StatementKind::outputSection) {
        continue;
      }
      for (const Statement& item : section.body) {
        if (item.kind == StatementKind::command &&
            ldscript::statementText(s.script, item).find(".data") != std::string::npos) {
          pattern = &item;
          break;
        }
      }
    }
    if (pattern == nullptr) {
      return;
    }
    std::string text = ldscript::statementText(s.script, *pattern);
    const std::string before = text;
    for (std::size_t at = text.find(".data"); at != std::string::npos;
         at = text.find(".data", at + 7)) {
      text.replace(at, 5, ".dat[a]");
    }
    if (!e.commit(s, ldscript::replaceTokens(s.script, pattern->first, pattern->end, text),
                  {"PF203"}, join({"wrote '", before, "' as '", text, "'"}))) {
      return;
    }
  }
}

// PF209: an assignment of another region's address that ends the code
// range goes after .data.
void moveRegionAssignment(Editor& e, const LinkDiagnosis& d) {
  if (findingsOf(d, Rule::rangeEndNotFlash).empty() || !d.outline.rangeEndIsAssignment) {
    return;
  }
  // The name it assigns, as the map line shows it ("NAME = EXPRESSION").
  const std::string_view line = d.outline.rangeEnd.text;
  const std::size_t equals = line.find(" = ");
  if (equals == std::string_view::npos) {
    return;
  }
  const std::string_view left = line.substr(0, equals);
  const std::string name(left.substr(left.find_last_of(" (") + 1));
  Sections s;
  if (!e.load(s) || s.find(".data") == nullptr) {
    return;
  }
  const Statement* data = s.find(".data");
  for (std::size_t i = s.indexOf(*data); i-- > 0;) {
    const Statement& st = s.block->body[i];
    if (st.kind == StatementKind::outputSection) {
      break;
    }
    if (st.kind == StatementKind::assignment && st.name.substr(0, st.name.find('=')) == name) {
      e.commit(s, ldscript::moveAfter(s.script, st, *data), {"PF209"},
               join({"moved '", ldscript::statementText(s.script, st), "' after .data"}));
      return;
    }
  }
}

}  // namespace

RoundEdits applyFixes(const LinkDiagnosis& d, std::vector<ScriptFile>& files) {
  RoundEdits out;
  Editor e(files, out);
  renameTextSection(e, d);
  Sections s;
  if (!e.load(s)) {
    if (out.error.empty()) {
      out.error = "no file of the script has a SECTIONS block with a .text output section";
    }
    return out;
  }
  moveRamSections(e, d);
  renameDataSection(e, d);
  markNoLoad(e, d);
  moveIntoData(e, d);
  moveIntoText(e, d);
  rewriteDataPatterns(e, d);
  moveRegionAssignment(e, d);
  clampRamBanks(e, d);
  moveCodeRegion(e, d, out);
  keepSymbols(e, d);
  endRange(e, d);
  alignText(e, d, out);
  return out;
}

}  // namespace pakforge::fix
