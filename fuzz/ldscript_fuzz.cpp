// The linker-script reader on any bytes: it ends in a script or an error
// with a place inside the input, never in a crash, and a script it reads
// prints back byte for byte, with every statement's tokens in order and
// inside the input.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ldscript/script.h"

namespace {

using pakforge::ldscript::Statement;

void checkStatements(const std::vector<Statement>& items, std::size_t tokens, std::size_t from,
                     std::size_t to) {
  std::size_t last = from;
  for (const Statement& st : items) {
    if (st.first < last || st.end < st.first || st.end > to || st.end > tokens) {
      std::abort();
    }
    if (!st.body.empty()) {
      checkStatements(st.body, tokens, st.open + 1, st.close);
    }
    last = st.end;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  pakforge::ldscript::Script script;
  pakforge::ldscript::ParseError error;
  if (!pakforge::ldscript::parseScript(text, script, error)) {
    // The place is inside the text, or just after its end.
    if (error.line == 0 || error.column == 0 || error.what.empty()) {
      std::abort();
    }
    return 0;
  }
  if (pakforge::ldscript::printScript(script) != text) {
    std::abort();
  }
  checkStatements(script.statements, script.tokens.size(), 0, script.tokens.size());
  return 0;
}
