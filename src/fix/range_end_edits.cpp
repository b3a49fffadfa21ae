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
        !scriptNumber(value, address) || !inRamWindow(address)) {
      continue;
    }
    // The header first, then the assignment before it: its bytes stay.
    const std::string_view header = s.script.tokenText(data->first);
    const bool joined = header.ends_with(":");
    std::string text = ldscript::replaceTokens(
        s.script, data->first, data->first + 1,
        join({header.substr(0, header.size() - (joined ? 1 : 0)), " ", value, joined ? " :" : ""}));
    Script next;
    ldscript::ParseError error;
    if (!ldscript::parseScript(std::move(text), next, error)) {
      return false;
    }
    return e.commit(s, ldscript::removeStatement(next, next.sections()->body[i]), codes,
                    join({"placed .data at ", value, " itself, in place of '", line, "'"}));
  }
  return true;
}

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
  if (!placeDataAtRamAddress(e, codes)) {
    return;
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
// ahead: the table's words stay what they were. False when it can't.
bool rewriteDataStatement(Editor& e, Sections& s, const Statement& statement) {
  static constexpr std::array<std::array<std::string_view, 2>, 3> kNames = {{
      {"LOADADDR", "_data_load_start"},
      {"ADDR", "_data_run_start"},
      {"SIZEOF", "_data_run_size"},
  }};
  std::string text = ldscript::statementText(s.script, statement);
  const std::string before = text;
  std::vector<std::string> definitions;
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
  if (text == before || text.find(".data") != std::string::npos) {
    return false;
  }
  Script next;
  ldscript::ParseError error;
  const std::size_t index = s.indexOf(*s.find(".data"));
  if (!ldscript::parseScript(
          ldscript::replaceTokens(s.script, statement.first, statement.end, text), next, error)) {
    return false;
  }
  return e.commit(s, ldscript::insertAfter(next, next.sections()->body[index], definitions),
                  {"PF203"}, join({"wrote '", before, "' as '", text, "', set after .data"}));
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
      if (data == nullptr || !rewriteDataStatement(e, s, *pattern)) {
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
      e.commit(s, ldscript::moveAfter(s.script, st, *data), {"PF209"},
               join({"moved '", ldscript::statementText(s.script, st), "' after .data"}));
      return;
    }
  }
}

}  // namespace pakforge::fix::edit
