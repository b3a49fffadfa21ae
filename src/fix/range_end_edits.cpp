// Edits of where the code range ends: the end lines before .data, and the
// lines before .data that end the range too early.
#include "fix/edits.h"

#include <cctype>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "ldscript/script_edit.h"

namespace pakforge::fix::edit {
// The end of the code range past the initial values of .data: lines before
// .data that move the location counter past them without naming .data,
// .data loaded there with AT(), and its size after it.
// A number of a script: 0x... or decimal.
bool scriptNumber(std::string_view text, std::uint64_t& value) {
  const bool hex = text.starts_with("0x") || text.starts_with("0X");
  text.remove_prefix(hex ? 2 : 0);
  if (text.empty() || text.size() > 10) {
    return false;
  }
  value = 0;
  for (const char c : text) {
    const int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                      : hex && std::isxdigit(static_cast<unsigned char>(c))
                          ? std::tolower(static_cast<unsigned char>(c)) - 'a' + 10
                          : -1;
    if (digit < 0) {
      return false;
    }
    value = value * (hex ? 16 : 10) + static_cast<std::uint64_t>(digit);
  }
  return true;
}

// A script without MEMORY moves the location counter to the RAM right
// before .data (". = 0x20000000;"). The end lines go between the flash and
// .data, where the location counter must still be in the flash, so the RAM
// address becomes .data's own ("\.data 0x20000000 :"), and .data and what
// follows it still run in RAM. False when the script can't be read.
bool placeDataAtRamAddress(Editor& e, const std::vector<std::string>& codes) {
  Sections s;
  if (!e.load(s)) {
    return false;
  }
  const Statement* data = s.find(".data");
  const std::size_t colon = colonToken(s.script, *data);
  for (std::size_t t = data->first + 1; t < colon; ++t) {
    const ldscript::TokenKind kind = s.script.tokens[t].kind;
    if (kind != ldscript::TokenKind::space && kind != ldscript::TokenKind::comment) {
      return true;  // .data has an address or a type of its own
    }
  }
  for (std::size_t i = s.indexOf(*data); i-- > 0;) {
    const Statement& st = s.block->body[i];
    if (st.kind == StatementKind::outputSection) {
      break;
    }
    const std::string line = ldscript::statementText(s.script, st);
    std::string value = line.substr(line.find('=') + 1);
    value.erase(std::remove_if(value.begin(), value.end(),
                               [](unsigned char c) { return std::isspace(c) || c == ';'; }),
                value.end());
    std::uint64_t address = 0;
    if (st.kind != StatementKind::assignment || !(st.name == "." || st.name.starts_with(".=")) ||
        !scriptNumber(value, address) || !inSramWindow(address)) {
      continue;
    }
    // The header first, then the assignment before it: its bytes stay.
    const std::string_view header = s.script.tokenText(data->first);
    const bool joined = header.ends_with(":");
    std::string text;
    if (!ldscript::applyReplacements(
            s.script,
            {ldscript::statementRemoved(s.script, st),
             ldscript::tokensReplaced(s.script, data->first, data->first + 1,
                                      join({header.substr(0, header.size() - (joined ? 1 : 0)), " ",
                                            value, joined ? " :" : ""}))},
            text)) {
      return false;
    }
    return e.commit(s, std::move(text), codes,
                    join({"placed .data at ", value, " itself, in place of '", line, "'"}));
  }
  return true;
}

// PF205: in a map from LLD the line that ends the range is an assignment,
// which shows the location counter where it stands. The location counter
// moves there itself and the symbol takes it ("_flash_end = X;" becomes
// ". = X; _flash_end = .;"): the script's own names stay, and nothing else
// moves. False when no assignment before .data is the map's end line.
bool moveCounterToEnd(Editor& e, const LinkDiagnosis& d) {
  Sections s;
  if (!e.load(s) || s.find(".data") == nullptr) {
    return false;
  }
  for (std::size_t i = s.indexOf(*s.find(".data")); i-- > 0;) {
    const Statement& st = s.block->body[i];
    if (st.kind == StatementKind::outputSection) {
      return false;
    }
    const std::string line = ldscript::statementText(s.script, st);
    const std::size_t equals = line.find('=');
    if (st.kind != StatementKind::assignment || st.name.starts_with(".") ||
        equals == std::string::npos ||
        line.substr(0, equals).find_first_not_of(" \t", st.name.size()) != std::string::npos ||
        d.outline.rangeEnd.text.find(st.name) == std::string::npos) {
      continue;
    }
    std::string value = line.substr(equals + 1);
    value = value.substr(0, value.rfind(';'));
    value.erase(0, value.find_first_not_of(" \t"));
    value.erase(value.find_last_not_of(" \t") + 1);
    return e.commit(
        s,
        ldscript::replaceTokens(
            s.script, st.first, st.end,
            join({". = ", value, ";\n", ldscript::indentOf(s.script, st), st.name, " = .;"})),
        {codeOf(Rule::lldAssignmentEnd)},
        join({"wrote '", line, "' as '. = ", value, "; ", st.name, " = .;'"}));
  }
  return false;
}

// The names the end lines use, none of which the script has yet; null when
// the lines of one of the choices are there already (what is left is then
// not theirs to fix).
const EndNames* endNames(Editor& e, const Sections& s) {
  for (const EndNames& names : kEndNameChoices) {
    if (ldscript::statementText(s.script, *s.block)
            .find(join({". = ", names[0], " + ", names[1], ";"})) != std::string::npos) {
      return nullptr;
    }
  }
  for (const EndNames& names : kEndNameChoices) {
    if (!e.anyNames(names[0]) && !e.anyNames(names[1]) && !e.anyNames(names[2])) {
      return &names;
    }
  }
  return &kEndNameChoices.back();
}

// Where this link's map places output section `name`; null when it gives
// no address for it. The map tells where each section lies, whatever region
// names (or aliases) the script gives them.
const MapSection* mapped(const LinkDiagnosis& d, const std::string& name) {
  for (const MapSection& section : d.outline.sections) {
    if (section.name == name && section.haveAddress) {
      return &section;
    }
  }
  return nullptr;
}

bool runsInRam(const LinkDiagnosis& d, const std::string& name) {
  const MapSection* section = mapped(d, name);
  return section != nullptr && inSramWindow(section->address);
}

// Assignments before .data that name it end the range where they stand,
// also when RAM sections stand between them and .data (FreeRTOS's
// .privileged_data): after .data they say the same. False when the script
// can't be read.
bool moveNamingAfterData(Editor& e, const LinkDiagnosis& d, Sections& s) {
  for (;;) {
    if (!e.load(s)) {
      return false;
    }
    const Statement* data = s.find(".data");
    const Statement* naming = nullptr;
    for (std::size_t i = s.indexOf(*data); i-- > 0;) {
      const Statement& st = s.block->body[i];
      if (st.kind == StatementKind::outputSection && !runsInRam(d, st.name)) {
        break;
      }
      if (st.kind == StatementKind::outputSection) {
        continue;
      }
      if (ldscript::statementNames(s.script, st, ".data")) {
        naming = &st;
      }
    }
    if (naming == nullptr) {
      return true;
    }
    const std::string line = ldscript::statementText(s.script, *naming);
    if (!e.commit(s, ldscript::moveAfter(s.script, *naming, *data),
                  {codeOf(Rule::dataLineAssignment)}, "moved '" + line + "' after .data")) {
      return false;
    }
  }
}

// Whether an assignment sets the location counter anew (". =
// ORIGIN(RAM);") rather than moving it on from where it stands.
bool setsCounterAnew(const Script& script, const Statement& st) {
  if (st.kind != StatementKind::assignment || st.name != ".") {
    return false;
  }
  const std::string text = ldscript::statementText(script, st);
  const std::string value = text.substr(std::min(text.size(), text.find('=') + 1));
  // ". = ALIGN(4)" and ". = . + 0x100" move on from where it stands.
  std::size_t word = 0;
  for (std::size_t i = 0; i <= value.size(); ++i) {
    const bool inWord = i < value.size() && (std::isalnum(static_cast<unsigned char>(value[i])) ||
                                             value[i] == '_' || value[i] == '.');
    if (!inWord) {
      if (value.substr(word, i - word) == "." ||
          (value.substr(word, i - word) == "ALIGN" && value.find(',', i) == std::string::npos)) {
        return false;
      }
      word = i + 1;
    }
  }
  return true;
}

// Where the end lines go: before .data, or before an assignment that sets
// the location counter anew just before it (out of the flash), from which
// GNU ld would otherwise take .data's address once they move it back.
const Statement& endLinesPlace(const Sections& s) {
  const Statement* data = s.find(".data");
  for (std::size_t i = s.indexOf(*data); i-- > 0;) {
    const Statement& st = s.block->body[i];
    if (st.kind == StatementKind::outputSection) {
      break;
    }
    if (setsCounterAnew(s.script, st)) {
      return st;
    }
  }
  return *data;
}

// Where the flash content ends before the end lines: `from` is the
// location counter, when the output section before them lies in the
// flash, and the end of the last one that does otherwise, or always with
// `fromLoadImage`; `lastFlash` names that section.
struct FlashEnd {
  std::string from = ".";
  std::string lastFlash;
};
FlashEnd flashEnd(const Sections& s, const LinkDiagnosis& d, bool fromLoadImage = false) {
  FlashEnd out;
  bool before = true;
  for (std::size_t i = s.indexOf(endLinesPlace(s)); i-- > 0;) {
    const Statement& st = s.block->body[i];
    const MapSection* section = st.kind != StatementKind::outputSection || st.name == "/DISCARD/"
                                    ? nullptr
                                    : mapped(d, st.name);
    if (section == nullptr) {
      continue;
    }
    if (inFlashWindow(section->address)) {
      out.lastFlash = st.name;
      if (!before || fromLoadImage) {
        out.from = "LOADADDR(" + st.name + ") + SIZEOF(" + st.name + ")";
      }
      break;
    }
    before = false;
  }
  return out;
}

// An alignment of the location counter between the last flash section and
// .data leaves a gap in the flash that the file, linked with -n, does not
// hold: it goes inside the section, at its end. False when the script can't
// be read.
bool moveAlignmentsInside(Editor& e, Sections& s, const std::string& lastFlash,
                          const std::vector<std::string>& codes) {
  for (bool moved = true; moved;) {
    moved = false;
    const Statement* section = s.find(lastFlash);
    const Statement* data = s.find(".data");
    for (std::size_t i = s.indexOf(*section) + 1; i < s.indexOf(*data); ++i) {
      const Statement& st = s.block->body[i];
      const std::string line = ldscript::statementText(s.script, st);
      if (st.kind != StatementKind::assignment || !(st.name == "." || st.name.starts_with(".=")) ||
          line.find("ALIGN") == std::string::npos) {
        continue;
      }
      std::string text;
      if (!ldscript::applyReplacements(s.script,
                                       {ldscript::linesAtBodyEnd(s.script, *section, {line}),
                                        ldscript::statementRemoved(s.script, st)},
                                       text)) {
        return false;
      }
      moved = e.commit(s, std::move(text), codes,
                       join({"moved '", line, "' to the end of ", lastFlash}));
      if (!moved || !e.load(s)) {
        return false;
      }
      break;
    }
  }
  return true;
}

// The alignment the initial values keep goes at the end of the last flash
// section, so that whatever is set after it (the start-up code's own symbol
// for the initial values) is aligned too, and the file holds no gap the
// flash does not. False when the script can't be read after it.
bool alignFlashEnd(Editor& e, Sections& s, const LinkDiagnosis& d, const std::string& lastFlash,
                   const std::vector<std::string>& codes) {
  // The alignment the findings of the range's end keep (PF401's is .text's).
  std::uint32_t align = 1;
  const std::span<const Rule> endRules = rulesOf(endRange);
  for (const LinkFinding& f : d.findings) {
    if (std::find(endRules.begin(), endRules.end(), f.rule) != endRules.end()) {
      align = std::max(align, f.align);
    }
  }
  const Statement* section = lastFlash.empty() ? nullptr : s.find(lastFlash);
  const std::string pad = ". = ALIGN(" + std::to_string(align) + ");";
  if (align <= 1 || section == nullptr ||
      (!section->body.empty() && ldscript::statementText(s.script, section->body.back()) == pad)) {
    return true;
  }
  e.commit(s, ldscript::insertAtBodyEnd(s.script, *section, {pad}), codes,
           "aligned the end of " + lastFlash + " to " + std::to_string(align));
  return e.load(s);
}

// `st` loaded at `at` and in no load region: its AT> dropped, and its
// AT(...) (or a new one after its name) made AT(at), unless `keepAt`.
void loadAt(const Sections& s, const Statement& st, const std::string& at, bool keepAt,
            std::vector<ldscript::Replacement>& changes) {
  if (st.lmaFirst != st.lmaEnd) {
    std::size_t lmaBegin = st.lmaFirst;
    while (lmaBegin > st.close + 1 &&
           s.script.tokens[lmaBegin - 1].kind == ldscript::TokenKind::space) {
      --lmaBegin;
    }
    changes.push_back(ldscript::tokensReplaced(s.script, lmaBegin, st.lmaEnd, ""));
  }
  if (keepAt) {
    return;
  }
  if (st.atFirst != st.atEnd) {
    changes.push_back(ldscript::tokensReplaced(s.script, st.atFirst, st.atEnd, "AT(" + at + ")"));
  } else {
    const std::size_t colon = colonToken(s.script, st);
    changes.push_back(ldscript::tokensReplaced(
        s.script, colon, colon + 1, std::string(s.script.tokenText(colon)) + " AT(" + at + ")"));
  }
}

// The end lines before .data, .data loaded with AT(start) and no load
// region, the sections the flash loads right after it at their offsets
// from it, and the size after the last.
void writeEndLines(Editor& e, const Sections& s, const LinkDiagnosis& d, const EndNames& names,
                   const FlashEnd& end, const std::vector<std::string>& codes) {
  const Statement* data = s.find(".data");
  std::string start = ldscript::atSymbol(s.script, *data);
  const bool own = !start.empty();
  start = own ? start : std::string(names[0]);
  const std::string size(names[1]);
  std::vector<std::string> lines;
  // The team's symbol is set again where RAM sections moved the location
  // counter away from the flash.
  if (!own || end.from != ".") {
    lines.push_back(start + " = " + end.from + ";");
  }
  lines.push_back(". = " + start + " + " + size + ";");
  lines.push_back(std::string(names[2]) + " = .;");
  // Only what the script places with AT> after .data, as the map showed.
  std::vector<std::string> copied;
  const Statement* last = data;
  for (const std::string& name : d.copiedAfterData) {
    const Statement* st = s.find(name);
    if (st == nullptr) {
      continue;  // the linker's own (.igot.plt), not the script's
    }
    if (st->lmaFirst == st->lmaEnd || st->atFirst != st->atEnd ||
        s.indexOf(*st) < s.indexOf(*data)) {
      break;
    }
    copied.push_back(name);
    last = st;
  }
  // The changes, over this one parse: the end lines before .data (first:
  // its header's change may start at the same byte), its load region
  // dropped for AT(), the same for what follows it, and the size after the
  // last.
  std::vector<ldscript::Replacement> changes = {
      ldscript::linesBefore(s.script, endLinesPlace(s), lines)};
  loadAt(s, *data, start, own, changes);
  for (const std::string& name : copied) {
    loadAt(s, *s.find(name), copiedLoad(start, name), false, changes);
  }
  changes.push_back(
      ldscript::linesAfter(s.script, *last, {size + " = " + dataImageSize(copied) + ";"}));
  std::string text;
  if (!ldscript::applyReplacements(s.script, std::move(changes), text)) {
    return;
  }
  e.commit(s, text, codes, "ended the code range after the initial values of .data");
}

// The end lines, the range's end said by the location counter where it
// stands in the flash, or with `fromLoadImage` by the last flash section's
// load image wherever it stands.
void endRangeFrom(Editor& e, const LinkDiagnosis& d, bool fromLoadImage) {
  std::vector<std::string> codes;
  for (const Rule rule : rulesOf(endRange)) {
    if (!findingsOf(d, rule).empty()) {
      codes.push_back(codeOf(rule));
    }
  }
  if (codes.empty()) {
    return;
  }
  if (codes == std::vector<std::string>{codeOf(Rule::lldAssignmentEnd)} && moveCounterToEnd(e, d)) {
    return;
  }
  Sections s;
  if (!e.load(s) || s.find(".data") == nullptr) {
    return;
  }
  // Misaligned initial values in a range that ends after them already want
  // the alignment alone.
  const EndNames* names = endNames(e, s);
  if (codes == std::vector<std::string>{codeOf(Rule::initialValuesMisaligned)} ||
      names == nullptr) {
    alignFlashEnd(e, s, d, flashEnd(s, d).lastFlash, codes);
    return;
  }
  if (!moveNamingAfterData(e, d, s) || !placeDataAtRamAddress(e, codes) || !e.load(s)) {
    return;
  }
  const FlashEnd end = flashEnd(s, d, fromLoadImage);
  if ((end.from == "." && !end.lastFlash.empty() &&
       !moveAlignmentsInside(e, s, end.lastFlash, codes)) ||
      !alignFlashEnd(e, s, d, end.lastFlash, codes)) {
    return;
  }
  writeEndLines(e, s, d, *names, end, codes);
}

void endRange(Editor& e, const LinkDiagnosis& d) {
  endRangeFrom(e, d, false);
}

// The next edit for the end lines, when the location counter where they
// stood was not where the flash content ends (a layout the map does not
// show): the last flash section's load image, which is.
void endRangeFromLoadImage(Editor& e, const LinkDiagnosis& d) {
  endRangeFrom(e, d, true);
}

// PF203: a pattern of a flash section before .data that holds ".data"
// matches the same sections written .dat[a], and no longer ends the range.
bool isDataStatement(std::string_view text) {
  for (const std::string_view keyword : {"LONG", "QUAD", "SQUAD", "SHORT", "BYTE"}) {
    if (text.starts_with(keyword) &&
        text.substr(keyword.size()).find_first_not_of(" \t") != std::string_view::npos &&
        text[text.find_first_not_of(" \t", keyword.size())] == '(') {
      return true;
    }
  }
  return false;
}

// A data statement before .data that names it in an expression
// ("LONG(LOADADDR(.data))", a copy table the start-up code reads) is no
// input pattern: its map line holds ".data", and ".dat[a]" would be an
// undefined section. Each ADDR, LOADADDR or SIZEOF of .data in it becomes a
// symbol set to the same after .data, which the data statement reads
// ahead: the table's words stay what they were. `text` is the statement so
// said, and `definitions` gains the symbols it needs that neither the
// script nor an earlier statement sets; false when it can't be said.
bool dataStatementSaid(Editor& e, const Sections& s, const Statement& statement,
                       std::vector<std::string>& definitions, std::string& text) {
  static constexpr std::array<std::array<std::string_view, 2>, 3> kNames = {{
      {"LOADADDR", "_data_load_start"},
      {"ADDR", "_data_run_start"},
      {"SIZEOF", "_data_run_size"},
  }};
  text = ldscript::statementText(s.script, statement);
  const std::string before = text;
  for (const auto& [function, name] : kNames) {
    for (std::size_t at = text.find(function); at != std::string::npos;
         at = text.find(function, at + 1)) {
      const std::size_t open = text.find_first_not_of(" \t", at + function.size());
      const std::size_t close = open == std::string::npos ? open : text.find(')', open);
      const bool word = at == 0 || !(std::isalnum(static_cast<unsigned char>(text[at - 1])) ||
                                     text[at - 1] == '_');
      if (!word || close == std::string::npos || text[open] != '(') {
        continue;
      }
      std::string inside = text.substr(open + 1, close - open - 1);
      inside.erase(std::remove_if(inside.begin(), inside.end(),
                                  [](unsigned char c) { return std::isspace(c) != 0; }),
                   inside.end());
      if (inside != ".data") {
        continue;
      }
      const std::string definition = join({name, " = ", function, "(.data);"});
      const bool set = s.script.text.find(definition) != std::string::npos;
      if (!set &&
          std::find(definitions.begin(), definitions.end(), definition) == definitions.end()) {
        if (e.anyNames(name)) {
          return false;  // the script has a name of that spelling already
        }
        definitions.push_back(definition);
      }
      text.replace(at, close + 1 - at, name);
    }
  }
  return text != before && text.find(".data") == std::string::npos;
}

// Every data statement before .data that names it, from `first` on, said
// as dataStatementSaid says them, over one parse, up to one that can't
// be; false when not even the first can.
bool rewriteDataStatements(Editor& e, const Sections& s, const Statement& first) {
  const Statement* data = s.find(".data");
  std::vector<std::string> definitions, whats;
  std::vector<ldscript::Replacement> changes;
  bool reached = false;
  for (std::size_t i = 0; i < s.indexOf(*data); ++i) {
    for (const Statement& item : s.block->body[i].body) {
      reached = reached || &item == &first;
      const std::string was = ldscript::statementText(s.script, item);
      if (!reached || item.kind != StatementKind::command || !isDataStatement(was) ||
          was.find(".data") == std::string::npos) {
        continue;
      }
      std::string said;
      if (!dataStatementSaid(e, s, item, definitions, said)) {
        i = s.indexOf(*data);
        break;
      }
      changes.push_back(ldscript::tokensReplaced(s.script, item.first, item.end, said));
      whats.push_back(join({"wrote '", was, "' as '", said, "', set after .data"}));
    }
  }
  // The last statement's symbols nearest .data, as when each was written
  // after .data in its turn.
  std::reverse(definitions.begin(), definitions.end());
  changes.push_back(ldscript::linesAfter(s.script, *data, definitions));
  std::string edited;
  return !whats.empty() && ldscript::applyReplacements(s.script, std::move(changes), edited) &&
         e.commit(s, std::move(edited), {codeOf(Rule::dataLinePattern)}, std::move(whats));
}

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
    if (isDataStatement(text)) {
      if (data == nullptr || !rewriteDataStatements(e, s, *pattern)) {
        return;
      }
      continue;
    }
    const std::string before = text;
    for (std::size_t at = text.find(".data"); at != std::string::npos;
         at = text.find(".data", at + 7)) {
      text.replace(at, 5, ".dat[a]");
    }
    if (!e.commit(s, ldscript::replaceTokens(s.script, pattern->first, pattern->end, text),
                  {codeOf(Rule::dataLinePattern)},
                  join({"wrote '", before, "' as '", text, "'"}))) {
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
  const std::string name(assignedName(d.outline.rangeEnd.text));
  if (name.empty()) {
    return;
  }
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
      e.commit(s, ldscript::moveAfter(s.script, st, *data), {codeOf(Rule::rangeEndNotFlash)},
               join({"moved '", ldscript::statementText(s.script, st), "' after .data"}));
      return;
    }
  }
}

std::span<const RuleEdit> rangeEndEdits() {
  // The end lines, and the alignment the initial values keep: from the
  // location counter first, from the last flash section's load image when
  // that changed nothing.
  static constexpr std::array<Rule, 6> kEndRules = {
      Rule::initialValuesBeforeRange, Rule::dataLineAssignment,      Rule::noEndLine,
      Rule::lldAssignmentEnd,         Rule::initialValuesMisaligned, Rule::loadedOutsideFlash};
  static constexpr std::array<RuleEdit, 4> kRows = {{
      {rewriteDataPatterns, {Rule::dataLinePattern}, EditStep::dataPatterns},
      {moveRegionAssignment, {Rule::rangeEndNotFlash}, EditStep::regionAssignment},
      {endRange, kEndRules, EditStep::rangeEnd},
      {endRangeFromLoadImage, kEndRules, EditStep::rangeEnd, 1},
  }};
  return kRows;
}

}  // namespace pakforge::fix::edit
