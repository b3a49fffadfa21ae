// A GNU ld linker script, read into statements that keep every byte of the
// text: comments, spaces and the team's layout. Printing the tokens back
// gives the file byte for byte, and an edit replaces the bytes of a few
// statements and leaves the rest as it was. What the reader does not know
// it refuses, with the line and column, rather than guessing.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace pakforge::ldscript {

enum class TokenKind { space, comment, string, punct, word };

struct Token {
  TokenKind kind = TokenKind::space;
  std::size_t begin = 0;
  std::size_t end = 0;
};

// A command or assignment ends with ';' or its parentheses; an output
// section has a header ("NAME [ADDRESS] [(TYPE)] : [AT(LMA)] [ALIGN(N)]"),
// a body in braces and a trailer ("> REGION AT> REGION :PHDR =FILL").
enum class StatementKind {
  assignment,  // ". = ALIGN(4);", "_etext = .;"
  command,     // "ENTRY(x)", "PROVIDE(a = b);", "KEEP(*(.isr_vector))", "*(.text*)"
  include,     // "INCLUDE file.ld"
  block,       // MEMORY, PHDRS, VERSION (kept as they are), SECTIONS (read)
  outputSection,
};

struct Statement {
  StatementKind kind = StatementKind::command;
  // Tokens [first, end) of the statement, without the trivia before it.
  std::size_t first = 0;
  std::size_t end = 0;
  // The first word: the section's or the command's name, the assigned name.
  std::string name;
  // For a block and an output section: the braces, and what stands between
  // them (SECTIONS' and output sections' statements).
  std::size_t open = 0;
  std::size_t close = 0;
  std::vector<Statement> body;
  // For an output section: its header's AT(...) tokens [atFirst, atEnd)
  // (atFirst == atEnd when it has none), its type in parentheses (NOLOAD),
  // its region and load region from the trailer, and where the load region
  // is written [lmaFirst, lmaEnd).
  std::size_t atFirst = 0;
  std::size_t atEnd = 0;
  std::string type;
  std::string region;
  std::string loadRegion;
  std::size_t lmaFirst = 0;
  std::size_t lmaEnd = 0;
};

struct Script {
  std::string text;
  std::vector<Token> tokens;
  std::vector<Statement> statements;
  // The files INCLUDEd, as written, in order.
  std::vector<std::string> includes;

  std::string_view tokenText(std::size_t i) const {
    return std::string_view(text).substr(tokens[i].begin, tokens[i].end - tokens[i].begin);
  }
  // The bytes of tokens [first, end).
  std::size_t byteOf(std::size_t token) const {
    return token < tokens.size() ? tokens[token].begin : text.size();
  }
  // The SECTIONS block that holds the .text output section, or the first
  // one when none does (a script may have several: nRF5 SDK scripts INSERT
  // blocks of their own AFTER .text and .data); null when there is none.
  const Statement* sections() const;
};

struct ParseError {
  std::size_t line = 0;  // from 1
  std::size_t column = 0;
  std::string what;
};

// Reads `text`; false with the error's place and what it is.
bool parseScript(std::string text, Script& script, ParseError& error);

// The script's text from its tokens: the input, byte for byte.
std::string printScript(const Script& script);

// "LINE:COLUMN: WHAT".
std::string errorText(const ParseError& error);

}  // namespace pakforge::ldscript
