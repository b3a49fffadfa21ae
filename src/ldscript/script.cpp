#include "ldscript/script.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace pakforge::ldscript {
namespace {

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}
bool isPunct(char c) {
  return c == '{' || c == '}' || c == '(' || c == ')' || c == ';' || c == ',';
}

// 'TEXT', for a message. (Built by appending: GCC 12 warns wrongly of
// overlapping copies in "'" + std::string(...) at -O3.)
std::string quoted(std::string_view text) {
  std::string q = "'";
  q.append(text).append("'");
  return q;
}

class Parser {
 public:
  Parser(Script& script, ParseError& error) : s_(script), error_(error) {}

  bool tokenize();
  bool parseTop();
  bool fail(std::size_t token, std::string what);

 private:
  Script& s_;
  ParseError& error_;
  std::size_t at_ = 0;  // the next token

  bool isTrivia(std::size_t i) const {
    return s_.tokens[i].kind == TokenKind::space || s_.tokens[i].kind == TokenKind::comment;
  }
  // The next token that is no space or comment, from `i`; the token count
  // when there is none.
  std::size_t next(std::size_t i) const {
    while (i < s_.tokens.size() && isTrivia(i)) {
      ++i;
    }
    return i;
  }
  bool is(std::size_t i, std::string_view text) const {
    return i < s_.tokens.size() && s_.tokenText(i) == text;
  }
  bool isWord(std::size_t i) const {
    return i < s_.tokens.size() &&
           (s_.tokens[i].kind == TokenKind::word || s_.tokens[i].kind == TokenKind::string);
  }
  // After the '(' at `open`, the token after its ')'.
  bool skipGroup(std::size_t open, std::size_t& after);
  // After the '{' at `open`, the '}' that closes it.
  bool matchBrace(std::size_t open, std::size_t& close);

  bool parseItems(std::vector<Statement>& items, bool inBraces, bool sectionsLevel);
  bool parseStatement(Statement& st, bool sectionsLevel);
  bool parseOutputSection(Statement& st);
  bool parseSectionHeader(Statement& st);
  bool parseSectionTrailer(Statement& st);
  bool parseSimple(Statement& st);
};

bool Parser::fail(std::size_t token, std::string what) {
  const std::size_t byte = s_.byteOf(token);
  error_.line = 1 + static_cast<std::size_t>(std::count(
                        s_.text.begin(), s_.text.begin() + static_cast<long>(byte), '\n'));
  const std::size_t lineStart = byte == 0 ? std::string::npos : s_.text.rfind('\n', byte - 1);
  error_.column = lineStart == std::string::npos ? byte + 1 : byte - lineStart;
  error_.what = std::move(what);
  return false;
}

bool Parser::tokenize() {
  const std::string& t = s_.text;
  std::size_t i = 0;
  while (i < t.size()) {
    Token token;
    token.begin = i;
    const char c = t[i];
    if (isSpace(c)) {
      token.kind = TokenKind::space;
      while (i < t.size() && isSpace(t[i])) {
        ++i;
      }
    } else if (c == '/' && i + 1 < t.size() && t[i + 1] == '*') {
      token.kind = TokenKind::comment;
      const std::size_t close = t.find("*/", i + 2);
      if (close == std::string::npos) {
        s_.tokens.push_back({TokenKind::comment, i, t.size()});
        return fail(s_.tokens.size() - 1, "a comment that is never closed (no */)");
      }
      i = close + 2;
    } else if (c == '"') {
      token.kind = TokenKind::string;
      const std::size_t close = t.find('"', i + 1);
      if (close == std::string::npos) {
        s_.tokens.push_back({TokenKind::string, i, t.size()});
        return fail(s_.tokens.size() - 1, "a string that is never closed (no \")");
      }
      i = close + 1;
    } else if (isPunct(c)) {
      token.kind = TokenKind::punct;
      ++i;
    } else {
      token.kind = TokenKind::word;
      while (i < t.size() && !isSpace(t[i]) && !isPunct(t[i]) && t[i] != '"' &&
             !(t[i] == '/' && i + 1 < t.size() && t[i + 1] == '*')) {
        ++i;
      }
    }
    token.end = i;
    s_.tokens.push_back(token);
  }
  // A preprocessor's lines (#include, #if) mean a source still to be
  // preprocessed; line markers (# 1 "file") one already preprocessed whose
  // source is elsewhere. Neither is a script to edit.
  // One pass over the text: whether anything but blanks stands before a
  // token on its line is carried along, not looked for back from each
  // token (that would be quadratic in a line's length).
  std::size_t scanned = 0;
  bool textOnLine = false;
  for (std::size_t k = 0; k < s_.tokens.size(); ++k) {
    const Token& token = s_.tokens[k];
    for (; scanned < token.begin; ++scanned) {
      textOnLine =
          t[scanned] == '\n' ? false : textOnLine || (t[scanned] != ' ' && t[scanned] != '\t');
    }
    if (token.kind == TokenKind::word && t[token.begin] == '#' && !textOnLine) {
      return fail(k,
                  "a preprocessor line: this is a source for the C preprocessor (a .ld.S or "
                  ".ld.in file); edit the script it makes, or run --fix on that and carry the "
                  "changes back");
    }
  }
  return true;
}

bool Parser::skipGroup(std::size_t open, std::size_t& after) {
  int depth = 0;
  for (std::size_t i = open; i < s_.tokens.size(); ++i) {
    if (is(i, "(")) {
      ++depth;
    } else if (is(i, ")")) {
      if (--depth == 0) {
        after = i + 1;
        return true;
      }
    } else if (is(i, "{") || is(i, "}") || is(i, ";")) {
      ParseError opened;
      Parser(s_, opened).fail(open, "");
      return fail(i, quoted(s_.tokenText(i)) + " before the ')' of the '(' at " +
                         std::to_string(opened.line) + ":" + std::to_string(opened.column));
    }
  }
  return fail(open, "parentheses that are never closed");
}

bool Parser::matchBrace(std::size_t open, std::size_t& close) {
  int depth = 0;
  for (std::size_t i = open; i < s_.tokens.size(); ++i) {
    if (is(i, "{")) {
      ++depth;
    } else if (is(i, "}") && --depth == 0) {
      close = i;
      return true;
    }
  }
  return fail(open, "a brace that is never closed");
}

bool Parser::parseTop() {
  return parseItems(s_.statements, false, false);
}

bool Parser::parseItems(std::vector<Statement>& items, bool inBraces, bool sectionsLevel) {
  for (;;) {
    at_ = next(at_);
    if (at_ >= s_.tokens.size()) {
      return !inBraces || fail(s_.tokens.size(), "the script ends before a '}'");
    }
    if (is(at_, "}")) {
      if (inBraces) {
        return true;
      }
      return fail(at_, "a '}' that closes nothing");
    }
    if (is(at_, ";") || is(at_, ",")) {
      ++at_;  // an empty statement
      continue;
    }
    Statement st;
    if (!parseStatement(st, sectionsLevel)) {
      return false;
    }
    items.push_back(std::move(st));
  }
}

bool Parser::parseStatement(Statement& st, bool sectionsLevel) {
  st.first = at_;
  if (!isWord(at_)) {
    return fail(at_, "a statement can't start with '" + std::string(s_.tokenText(at_)) + "'");
  }
  st.name = std::string(s_.tokenText(at_));
  const std::size_t after = next(at_ + 1);
  if (st.name == "INCLUDE") {
    if (!isWord(after)) {
      return fail(after, "INCLUDE without a file name");
    }
    st.kind = StatementKind::include;
    std::string file(s_.tokenText(after));
    if (file.size() >= 2 && file.front() == '"') {
      file = file.substr(1, file.size() - 2);
    }
    s_.includes.push_back(file);
    at_ = after + 1;
    if (is(next(at_), ";")) {
      at_ = next(at_) + 1;
    }
    st.end = at_;
    return true;
  }
  if (!sectionsLevel && (st.name == "MEMORY" || st.name == "PHDRS" || st.name == "VERSION" ||
                         st.name == "SECTIONS")) {
    if (!is(after, "{")) {
      return fail(after, st.name + " without its '{'");
    }
    st.kind = StatementKind::block;
    st.open = after;
    if (st.name == "SECTIONS") {
      at_ = after + 1;
      if (!parseItems(st.body, true, true)) {
        return false;
      }
      st.close = at_;
    } else if (!matchBrace(after, st.close)) {
      return false;
    }
    at_ = st.close + 1;
    st.end = at_;
    return true;
  }
  if (st.name == "OVERLAY" || st.name == "SECTIONS" || st.name == "MEMORY") {
    return fail(at_, st.name + " here is a construct this reader does not edit");
  }
  // A command that takes parentheses is a command whether or not a ';'
  // follows: GNU ld reads "ASSERT(...)" without one before the next output
  // section, which must not become that section's header.
  const bool command = st.name == "ASSERT" || st.name == "PROVIDE" || st.name == "PROVIDE_HIDDEN" ||
                       st.name == "HIDDEN" || st.name == "ENTRY";
  if (sectionsLevel && !(command && is(after, "("))) {
    // An output section, an assignment or a command: the first of '{' and
    // ';' at the top of the parentheses tells, and a section's header holds
    // a ':'.
    bool colon = false;
    for (std::size_t i = at_; i < s_.tokens.size(); ++i) {
      if (is(i, "(")) {
        if (!skipGroup(i, i)) {
          return false;
        }
        --i;
        continue;
      }
      if (s_.tokens[i].kind == TokenKind::word && s_.tokenText(i).find(':') != std::string::npos) {
        colon = true;
      }
      if (is(i, "{")) {
        if (!colon) {
          return fail(at_, "a '{' after '" + st.name + "' without the ':' of an output section");
        }
        return parseOutputSection(st);
      }
      if (is(i, ";") || is(i, "}")) {
        break;
      }
    }
  }
  return parseSimple(st);
}

bool Parser::parseOutputSection(Statement& st) {
  st.kind = StatementKind::outputSection;
  // The name may carry the colon ("text:").
  if (!st.name.empty() && st.name.back() == ':') {
    st.name.pop_back();
  }
  if (!parseSectionHeader(st)) {
    return false;
  }
  at_ = st.open + 1;
  if (!parseItems(st.body, true, false)) {
    return false;
  }
  st.close = at_;
  at_ = st.close + 1;
  st.end = at_;
  return parseSectionTrailer(st);
}

// What stands between the name and '{': its type in parentheses before the
// colon, its AT(...) after it. Sets `st.open`.
bool Parser::parseSectionHeader(Statement& st) {
  std::size_t i = next(at_ + 1);
  bool pastColon = s_.tokenText(at_).back() == ':';
  while (!is(i, "{")) {
    const std::string_view word = s_.tokenText(i);
    if (!pastColon && is(i, "(")) {
      std::size_t after = 0;
      if (!skipGroup(i, after)) {
        return false;
      }
      for (std::size_t k = i + 1; k + 1 < after; ++k) {
        if (!isTrivia(k)) {
          st.type += std::string(s_.tokenText(k));
        }
      }
      i = next(after);
      continue;
    }
    if (word.find(':') != std::string_view::npos) {
      pastColon = true;
    }
    if (pastColon && word == "AT" && is(next(i + 1), "(")) {
      std::size_t after = 0;
      if (!skipGroup(next(i + 1), after)) {
        return false;
      }
      st.atFirst = i;
      st.atEnd = after;
      i = next(after);
      continue;
    }
    if (is(i, "(")) {
      std::size_t after = 0;
      if (!skipGroup(i, after)) {
        return false;
      }
      i = next(after);
      continue;
    }
    i = next(i + 1);
  }
  st.open = i;
  return true;
}

// The trailer: > REGION, AT > REGION, :PHDR, = FILL, a comma.
bool Parser::parseSectionTrailer(Statement& st) {
  for (;;) {
    const std::size_t k = next(at_);
    if (!isWord(k) && !is(k, ",")) {
      break;
    }
    const std::string_view word = s_.tokenText(k);
    std::size_t last = k;
    if (word == ">" || word == "AT>" || word == "=") {
      last = next(k + 1);
      if (!isWord(last)) {
        return fail(last, quoted(word) + " without what it names");
      }
    } else if (word == "AT") {
      const std::size_t arrow = next(k + 1);
      if (is(arrow, ">")) {
        last = next(arrow + 1);
      } else if (isWord(arrow) && s_.tokenText(arrow).starts_with(">")) {
        last = arrow;
      } else {
        break;
      }
    } else if (!(word.starts_with(">") || word.starts_with("AT>") || word.starts_with(":") ||
                 word.starts_with("=") || word == ",")) {
      break;
    }
    std::string named(s_.tokenText(last));
    if (word == "AT" || word.starts_with("AT>")) {
      named = named.starts_with("AT>") ? named.substr(3) : named;
      named = named.starts_with(">") ? named.substr(1) : named;
      st.loadRegion = named;
      st.lmaFirst = k;
      st.lmaEnd = last + 1;
    } else if (word.starts_with(">")) {
      st.region = word == ">" ? named : std::string(word.substr(1));
    }
    at_ = last + 1;
    st.end = at_;
  }
  return true;
}

bool Parser::parseSimple(Statement& st) {
  // An assignment runs to its ';'. A command is a word and its parentheses
  // with an optional ';'; an input file name a word alone.
  bool assignment = false;
  std::size_t i = at_;
  for (; i < s_.tokens.size(); ++i) {
    if (isTrivia(i)) {
      continue;
    }
    if (is(i, "(")) {
      std::size_t after = 0;
      if (!skipGroup(i, after)) {
        return false;
      }
      if (!assignment) {
        const std::size_t k = next(after);
        i = is(k, ";") ? k + 1 : after;
        break;
      }
      i = after - 1;
      continue;
    }
    if (is(i, ";")) {
      ++i;
      break;
    }
    if (is(i, "{") || is(i, "}")) {
      if (assignment) {
        return fail(i, "an assignment without its ';'");
      }
      break;
    }
    if (s_.tokens[i].kind == TokenKind::word && s_.tokenText(i).find('=') != std::string::npos) {
      assignment = true;
    }
    if (!assignment && i > at_ && isWord(i)) {
      // A word alone (a file name, a keyword): the next word starts anew.
      const std::size_t k = i;
      if (s_.tokenText(k).find('=') == std::string::npos) {
        i = k;
        break;
      }
    }
  }
  if (i >= s_.tokens.size() && assignment && !is(s_.tokens.size() - 1, ";")) {
    return fail(at_, "an assignment without its ';'");
  }
  st.kind = assignment ? StatementKind::assignment : StatementKind::command;
  // The end is past the last token that is no trivia.
  std::size_t end = i;
  while (end > at_ && isTrivia(end - 1)) {
    --end;
  }
  st.end = end;
  at_ = end;
  return true;
}

}  // namespace

const Statement* Script::sections() const {
  const Statement* first = nullptr;
  for (const Statement& st : statements) {
    if (st.kind != StatementKind::block || st.name != "SECTIONS") {
      continue;
    }
    first = first == nullptr ? &st : first;
    for (const Statement& item : st.body) {
      if (item.kind == StatementKind::outputSection && item.name == ".text") {
        return &st;
      }
    }
  }
  return first;
}

bool parseScript(std::string text, Script& script, ParseError& error) {
  script = Script();
  script.text = std::move(text);
  Parser parser(script, error);
  return parser.tokenize() && parser.parseTop();
}

std::string printScript(const Script& script) {
  std::string text;
  text.reserve(script.text.size());
  for (std::size_t i = 0; i < script.tokens.size(); ++i) {
    text.append(script.tokenText(i));
  }
  return text;
}

std::string errorText(const ParseError& error) {
  return std::to_string(error.line) + ":" + std::to_string(error.column) + ": " + error.what;
}

}  // namespace pakforge::ldscript
