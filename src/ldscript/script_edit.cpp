#include "ldscript/script_edit.h"

#include <algorithm>

namespace pakforge::ldscript {
namespace {

bool onlySpaces(std::string_view text) {
  return text.find_first_not_of(" \t") == std::string_view::npos;
}

std::size_t lineStartOf(const std::string& text, std::size_t byte) {
  const std::size_t feed = byte == 0 ? std::string::npos : text.rfind('\n', byte - 1);
  return feed == std::string::npos ? 0 : feed + 1;
}

std::string withLines(const std::string& indent, const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    text += indent + line + "\n";
  }
  return text;
}

std::string spliced(const std::string& text, std::size_t begin, std::size_t end,
                    std::string_view with) {
  std::string out = text.substr(0, begin);
  out.append(with);
  out.append(text, end, std::string::npos);
  return out;
}

// The script's text with one change made.
std::string made(const Script& script, const Replacement& change) {
  return spliced(script.text, change.begin, change.end, change.text);
}

bool isNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '.' || c == '$';
}

}  // namespace

Span statementLines(const Script& script, const Statement& st) {
  const std::string& text = script.text;
  const std::size_t begin = script.byteOf(st.first);
  const std::size_t end = script.byteOf(st.end);
  const std::size_t lineStart = lineStartOf(text, begin);
  if (!onlySpaces(std::string_view(text).substr(lineStart, begin - lineStart))) {
    return {begin, end};
  }
  std::size_t at = text.find_first_not_of(" \t\r", end);
  if (at != std::string::npos && text.compare(at, 2, "/*") == 0) {
    const std::size_t close = text.find("*/", at + 2);
    const std::size_t feed = text.find('\n', at);
    if (close != std::string::npos && (feed == std::string::npos || close < feed)) {
      at = text.find_first_not_of(" \t\r", close + 2);
    }
  }
  if (at == std::string::npos) {
    return {lineStart, text.size()};
  }
  if (text[at] == '\n') {
    return {lineStart, at + 1};
  }
  return {begin, end};
}

std::string indentOf(const Script& script, const Statement& st) {
  const std::size_t begin = script.byteOf(st.first);
  const std::size_t lineStart = lineStartOf(script.text, begin);
  const std::string_view before =
      std::string_view(script.text).substr(lineStart, begin - lineStart);
  return onlySpaces(before) ? std::string(before) : std::string();
}

Replacement linesBefore(const Script& script, const Statement& st,
                        const std::vector<std::string>& lines) {
  const std::size_t begin = script.byteOf(st.first);
  const std::size_t lineStart = lineStartOf(script.text, begin);
  if (onlySpaces(std::string_view(script.text).substr(lineStart, begin - lineStart))) {
    return {lineStart, lineStart, withLines(indentOf(script, st), lines)};
  }
  std::string inline_;
  for (const std::string& line : lines) {
    inline_ += line + " ";
  }
  return {begin, begin, inline_};
}

Replacement linesAfter(const Script& script, const Statement& st,
                       const std::vector<std::string>& lines) {
  const Span span = statementLines(script, st);
  if (span.end > 0 && script.text[span.end - 1] == '\n') {
    return {span.end, span.end, withLines(indentOf(script, st), lines)};
  }
  std::string inline_;
  for (const std::string& line : lines) {
    inline_ += " " + line;
  }
  const std::size_t end = script.byteOf(st.end);
  return {end, end, inline_};
}

Replacement tokensReplaced(const Script& script, std::size_t first, std::size_t end,
                           std::string_view text) {
  return {script.byteOf(first), script.byteOf(end), std::string(text)};
}

bool applyReplacements(const Script& script, std::vector<Replacement> changes, std::string& out) {
  std::stable_sort(changes.begin(), changes.end(),
                   [](const Replacement& a, const Replacement& b) { return a.begin < b.begin; });
  out.clear();
  std::size_t at = 0;
  for (const Replacement& change : changes) {
    if (change.begin < at || change.end < change.begin || change.end > script.text.size()) {
      return false;
    }
    out.append(script.text, at, change.begin - at).append(change.text);
    at = change.end;
  }
  out.append(script.text, at, std::string::npos);
  return true;
}

std::string insertBefore(const Script& script, const Statement& st,
                         const std::vector<std::string>& lines) {
  return made(script, linesBefore(script, st, lines));
}

std::string insertAfter(const Script& script, const Statement& st,
                        const std::vector<std::string>& lines) {
  return made(script, linesAfter(script, st, lines));
}

Replacement linesAtBodyStart(const Script& script, const Statement& st,
                             const std::vector<std::string>& lines) {
  if (!st.body.empty()) {
    return linesBefore(script, st.body.front(), lines);
  }
  const std::size_t afterBrace = script.tokens[st.open].end;
  const std::string indent = indentOf(script, st) + "  ";
  const std::size_t feed = script.text.find('\n', afterBrace);
  const std::size_t close = script.byteOf(st.close);
  if (feed != std::string::npos && feed < close) {
    return {feed + 1, feed + 1, withLines(indent, lines)};
  }
  std::string inline_;
  for (const std::string& line : lines) {
    inline_ += " " + line;
  }
  return {afterBrace, afterBrace, inline_};
}

Replacement linesAtBodyEnd(const Script& script, const Statement& st,
                           const std::vector<std::string>& lines) {
  return st.body.empty() ? linesAtBodyStart(script, st, lines)
                         : linesAfter(script, st.body.back(), lines);
}

Replacement statementRemoved(const Script& script, const Statement& st) {
  const Span span = statementLines(script, st);
  return {span.begin, span.end, ""};
}

std::string insertAtBodyStart(const Script& script, const Statement& st,
                              const std::vector<std::string>& lines) {
  return made(script, linesAtBodyStart(script, st, lines));
}

std::string insertAtBodyEnd(const Script& script, const Statement& st,
                            const std::vector<std::string>& lines) {
  return made(script, linesAtBodyEnd(script, st, lines));
}

std::string removeStatement(const Script& script, const Statement& st) {
  return made(script, statementRemoved(script, st));
}

std::string moveAfter(const Script& script, const Statement& st, const Statement& anchor) {
  // The insertion after the anchor leaves the earlier bytes of `st` where
  // they are.
  std::string text = insertAfter(script, anchor, {statementText(script, st)});
  const Span span = statementLines(script, st);
  return text.erase(span.begin, span.end - span.begin);
}

std::string replaceTokens(const Script& script, std::size_t first, std::size_t end,
                          std::string_view text) {
  return made(script, tokensReplaced(script, first, end, text));
}

std::vector<std::string> bodyLines(const Script& script, const Statement& st) {
  std::vector<std::string> lines;
  if (st.body.empty()) {
    return lines;
  }
  const std::size_t begin = script.byteOf(st.body.front().first);
  const std::size_t end = script.byteOf(st.body.back().end);
  const std::string_view body = std::string_view(script.text).substr(begin, end - begin);
  for (std::size_t from = 0; from <= body.size();) {
    std::size_t feed = body.find('\n', from);
    if (feed == std::string_view::npos) {
      feed = body.size();
    }
    std::string_view line = body.substr(from, feed - from);
    const std::size_t text = line.find_first_not_of(" \t");
    if (text != std::string_view::npos) {
      line = line.substr(text);
      while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r')) {
        line.remove_suffix(1);
      }
      lines.emplace_back(line);
    }
    from = feed + 1;
  }
  return lines;
}

std::string atSymbol(const Script& script, const Statement& section) {
  std::string inside;
  for (std::size_t i = section.atFirst + 1; i < section.atEnd; ++i) {
    if (script.tokens[i].kind == TokenKind::word) {
      inside.append(script.tokenText(i)).append(" ");
    }
  }
  const bool plain = !inside.empty() && inside.find(' ') == inside.size() - 1 &&
                     inside.find_first_of("()+-*/") == std::string::npos;
  return plain ? inside.substr(0, inside.size() - 1) : std::string();
}

std::string statementText(const Script& script, const Statement& st) {
  const std::size_t begin = script.byteOf(st.first);
  return script.text.substr(begin, script.byteOf(st.end) - begin);
}

bool tokensName(const Script& script, std::size_t first, std::size_t end, std::string_view word) {
  for (std::size_t i = first; i < end; ++i) {
    if (script.tokens[i].kind != TokenKind::word) {
      continue;
    }
    const std::string_view t = script.tokenText(i);
    for (std::size_t at = t.find(word); at != std::string_view::npos; at = t.find(word, at + 1)) {
      const bool startOk = at == 0 || !isNameChar(t[at - 1]);
      const bool endOk = at + word.size() == t.size() || !isNameChar(t[at + word.size()]);
      if (startOk && endOk) {
        return true;
      }
    }
  }
  return false;
}

bool namesWord(const Script& script, std::string_view word) {
  return tokensName(script, 0, script.tokens.size(), word);
}

// The statement's own tokens, read where the script's parse left them.
bool statementNames(const Script& script, const Statement& st, std::string_view word) {
  return tokensName(script, st.first, st.end, word);
}

}  // namespace pakforge::ldscript
