// What the edits of aelfdump --fix share: the file of the script that holds
// its SECTIONS block, parsed; an editor that keeps an edit only when the
// script still reads after it; a few words; and each topic's edits, in the
// files named beside them. Inside the fix only: its users see
// script_fixes.h.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fix/script_fixes.h"
#include "ldscript/script.h"
#include "linkdiag/link_diagnosis.h"

namespace pakforge::fix::edit {

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
  bool commit(const Sections& s, std::string text, const std::vector<std::string>& codes,
              std::string what);
  // The same for changes made together over one parse, one `whats` each.
  bool commit(const Sections& s, std::string text, const std::vector<std::string>& codes,
              std::vector<std::string> whats);
  bool anyNames(std::string_view word);
  // The file whose top level holds the block `name` (MEMORY), parsed.
  bool loadBlock(std::string_view name, Sections& s);
  // The memory region a region name stands for, through REGION_ALIAS.
  std::string region(const std::string& name);
  // The link command needs -n (no page alignment of segments).
  void needNoPageAlign() { out_.noPageAlign = true; }
  // An edit of this round moves where the flash content starts, which
  // the alignment a finding asks for was reckoned from.
  void flashStartMoves() { flashStartMoved_ = true; }
  bool flashStartMoved() const { return flashStartMoved_; }

 private:
  // File `i` parsed, once per text it has: a commit's check is the parse
  // the next edit reads. Null, with `error` set, when it does not read.
  const Script* parsed(std::size_t i, ldscript::ParseError* error = nullptr);

  struct Parsed {
    bool reads = false;
    Script script;  // its text is what was parsed, whether it reads or not
    ldscript::ParseError error;
  };
  std::vector<ScriptFile>& files_;
  RoundEdits& out_;
  std::vector<std::optional<Parsed>> parsed_;
  bool flashStartMoved_ = false;
};

// A rule's code, as a change records it.
inline std::string codeOf(Rule rule) {
  return std::string(ruleInfo(rule).code);
}
// The codes of `rules` the diagnosis has findings of, in that order.
std::vector<std::string> codesPresent(const LinkDiagnosis& d, std::initializer_list<Rule> rules);
std::string join(std::initializer_list<std::string_view> parts);
// The index of the first token of the header that holds its ':'.
std::size_t colonToken(const Script& script, const Statement& st);

// The rules an edit answers, as the table of edits in script_fixes.cpp
// gives them, in the order their codes are said.
void endRange(Editor& e, const LinkDiagnosis& d);               // range_end_edits.cpp
void endRangeFromLoadImage(Editor& e, const LinkDiagnosis& d);  // range_end_edits.cpp
std::span<const Rule> rulesOf(void (*make)(Editor&, const LinkDiagnosis&));

// The edits, by topic; script_fixes.cpp holds them in the order
// applyFixes makes them, each with the rules whose findings it answers.
void renameTextSection(Editor& e, const LinkDiagnosis& d);      // section_edits.cpp
void moveRamSections(Editor& e, const LinkDiagnosis& d);        // section_edits.cpp
void moveFlashSections(Editor& e, const LinkDiagnosis& d);      // section_edits.cpp
void renameDataSection(Editor& e, const LinkDiagnosis& d);      // section_edits.cpp
void markNoLoad(Editor& e, const LinkDiagnosis& d);             // section_edits.cpp
void moveIntoData(Editor& e, const LinkDiagnosis& d);           // section_edits.cpp
void moveOutOfMissingRam(Editor& e, const LinkDiagnosis& d);    // section_edits.cpp
void moveIntoText(Editor& e, const LinkDiagnosis& d);           // section_edits.cpp
void rewriteDataPatterns(Editor& e, const LinkDiagnosis& d);    // range_end_edits.cpp
void moveRegionAssignment(Editor& e, const LinkDiagnosis& d);   // range_end_edits.cpp
void clampRamBanks(Editor& e, const LinkDiagnosis& d);          // memory_edits.cpp
void moveCodeRegion(Editor& e, const LinkDiagnosis& d);         // memory_edits.cpp
void keepSymbols(Editor& e, const LinkDiagnosis& d);            // section_edits.cpp
void alignText(Editor& e, const LinkDiagnosis& d);              // section_edits.cpp
void regionsAfterMemory(Editor& e, const std::string& region);  // memory_edits.cpp

// Shared between topics.
void alignTextTo(Editor& e, const std::string& align,
                 const std::string& code);  // section_edits.cpp
// A reservation before .text emptied in place (". = ."), for `code`.
bool emptySection(Editor& e, const Sections& s, const Statement& st,
                  const std::string& code);  // section_edits.cpp
void mergeRegions(Editor& e, const std::string& fromRegion, const std::string& textRegion,
                  const std::string& section);  // memory_edits.cpp

}  // namespace pakforge::fix::edit
