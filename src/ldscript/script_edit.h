// Edits of a parsed linker script that keep its layout: statements moved,
// removed or added as whole lines, with the indentation of their
// neighbours, and tokens replaced in place. Each returns the new text, or
// the change (a Replacement) to make with others of the same parse.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "ldscript/script.h"

namespace pakforge::ldscript {

// The bytes a statement takes: from the start of its line, when only spaces
// stand before it there, to the end of its line (the line feed included),
// when only spaces or a comment stand after it; otherwise its own bytes.
struct Span {
  std::size_t begin = 0;
  std::size_t end = 0;
};
Span statementLines(const Script& script, const Statement& st);

// The indentation of the line the statement starts on.
std::string indentOf(const Script& script, const Statement& st);

// One change of a script's text: bytes [begin, end) replaced by `text`.
// Changes found over one parse are made together, so an edit of several
// changes parses the script once, to check what it made.
struct Replacement {
  std::size_t begin = 0;
  std::size_t end = 0;
  std::string text;
};
Replacement linesBefore(const Script& script, const Statement& st,
                        const std::vector<std::string>& lines);
Replacement linesAfter(const Script& script, const Statement& st,
                       const std::vector<std::string>& lines);
Replacement tokensReplaced(const Script& script, std::size_t first, std::size_t end,
                           std::string_view text);
Replacement linesAtBodyStart(const Script& script, const Statement& st,
                             const std::vector<std::string>& lines);
Replacement linesAtBodyEnd(const Script& script, const Statement& st,
                           const std::vector<std::string>& lines);
Replacement statementRemoved(const Script& script, const Statement& st);
// The script's text with every change made; false when two overlap.
// Insertions at one byte are made in the order given.
bool applyReplacements(const Script& script, std::vector<Replacement> changes, std::string& out);

// `lines` as lines of their own before or after `st`, indented as it is.
std::string insertBefore(const Script& script, const Statement& st,
                         const std::vector<std::string>& lines);
std::string insertAfter(const Script& script, const Statement& st,
                        const std::vector<std::string>& lines);
// `lines` first in the body of the section or block `st`, indented as its
// first statement is (two spaces more than `st` when it has none).
std::string insertAtBodyStart(const Script& script, const Statement& st,
                              const std::vector<std::string>& lines);
// `lines` last in the body of `st`.
std::string insertAtBodyEnd(const Script& script, const Statement& st,
                            const std::vector<std::string>& lines);
// The script without `st`.
std::string removeStatement(const Script& script, const Statement& st);
// `st` moved after `anchor`, a later statement, indented as the anchor is.
std::string moveAfter(const Script& script, const Statement& st, const Statement& anchor);
// Tokens [first, end) replaced by `text`.
std::string replaceTokens(const Script& script, std::size_t first, std::size_t end,
                          std::string_view text);
// The text of the body of `st` as lines, without their indentation.
std::vector<std::string> bodyLines(const Script& script, const Statement& st);
// The text of a statement.
std::string statementText(const Script& script, const Statement& st);
// An output section's AT(SYMBOL): the symbol its load address is, as the
// start-up code copies from it; empty when it has no AT(), or an
// expression in it.
std::string atSymbol(const Script& script, const Statement& section);

// Whether any word of the script is `word`, or holds it as a name inside
// an expression ("ADDR(.data)", "_etext+4").
bool namesWord(const Script& script, std::string_view word);
// The same for one statement.
bool statementNames(const Script& script, const Statement& st, std::string_view word);
// The same for tokens [first, end) of the script.
bool tokensName(const Script& script, std::size_t first, std::size_t end, std::string_view word);

}  // namespace pakforge::ldscript
