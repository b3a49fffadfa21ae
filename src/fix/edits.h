// What the edits of aelfdump --fix share: the file of the script that holds
// its SECTIONS block, parsed; an editor that keeps an edit only when the
// script still reads after it; a few words; and each topic's edits, in the
// files named beside them. Inside the fix only: its users see
// script_fixes.h.
#pragma once

#include <algorithm>
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
  void needNoPageAlign(const std::vector<std::string>& codes) {
    out_.noPageAlign = true;
    for (const std::string& code : codes) {
      if (std::find(out_.noPageAlignCodes.begin(), out_.noPageAlignCodes.end(), code) ==
          out_.noPageAlignCodes.end()) {
        out_.noPageAlignCodes.push_back(code);
      }
    }
  }
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

// The order the edits are made in, by what they do. The names first: the
// rest need the SECTIONS block with .text, which the first makes. The
// sections move before the range's end is written, which only .text's
// alignment follows.
enum class EditStep {
  textName,
  ramSectionsAfterData,
  dataName,
  outOfMissingRam,
  flashSectionsIntoRange,
  noLoad,
  intoData,
  intoText,
  dataPatterns,
  regionAssignment,
  ramBanks,
  codeRegion,
  keeps,
  rangeEnd,
  textAlignment,
};

// An edit, the rules whose findings it answers (in the order their codes
// are said; Rule::none after the last), its step, and `choice`: 0 for the
// rules' first edit, 1 for the one made when the first changed nothing for
// them.
using EditFn = void (*)(Editor&, const LinkDiagnosis&);
struct RuleEdit {
  EditFn make;
  std::array<Rule, 6> rules;
  EditStep step;
  int choice = 0;
};

// Each topic's edits, as rows beside the edits they name; script_fixes.cpp
// gathers them in the order of their steps.
std::span<const RuleEdit> sectionEdits();   // section_edits.cpp
std::span<const RuleEdit> rangeEndEdits();  // range_end_edits.cpp
std::span<const RuleEdit> memoryEdits();    // memory_edits.cpp

// The rules an edit answers, as its row gives them.
std::span<const Rule> rulesOf(EditFn make);
void endRange(Editor& e, const LinkDiagnosis& d);               // range_end_edits.cpp
void regionsAfterMemory(Editor& e, const std::string& region);  // memory_edits.cpp

// Shared between topics.
void alignTextTo(Editor& e, const std::string& align,
                 const std::string& code);  // section_edits.cpp
// A reservation before .text emptied in place (". = ."), for `code`.
bool emptySection(Editor& e, const Sections& s, const Statement& st,
                  const std::string& code);  // section_edits.cpp
void mergeRegions(Editor& e, const std::string& fromRegion, const std::string& textRegion,
                  const std::string& section,
                  const std::vector<std::string>& codes);  // memory_edits.cpp

}  // namespace pakforge::fix::edit
