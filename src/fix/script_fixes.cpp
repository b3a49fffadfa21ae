#include "fix/script_fixes.h"

#include "fix/edits.h"
#include "ldscript/script_edit.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace pakforge::fix {

using namespace edit;

namespace {

// An edit and the rules whose findings it answers; `choice` 0 for their
// first edit, 1 for the one made when the first changed nothing for them.
struct RuleEdit {
  void (*make)(Editor&, const LinkDiagnosis&);
  std::array<Rule, 6> rules;  // Rule::none after the last
  int choice = 0;
};

// The edits in the order they are made. The names first: the rest need the
// SECTIONS block with .text, which the first makes. The sections move
// before the range's end is written, which only .text's alignment follows.
const std::array<RuleEdit, 16> kEdits = {{
    {renameTextSection, {Rule::noTextLine, Rule::longCodeSectionName}},
    {moveRamSections, {Rule::ramSectionsBeforeData}},
    {renameDataSection, {Rule::dataLineSectionName}},
    {moveOutOfMissingRam, {Rule::ramBankMissing}},
    {moveFlashSections, {Rule::flashSectionAfterRange}},
    {markNoLoad, {Rule::reservationLoaded}},
    {moveIntoData, {Rule::ramContentAfterRange}},
    {moveIntoText, {Rule::flashBeforeRange, Rule::codeStartInOtherSection}},
    {rewriteDataPatterns, {Rule::dataLinePattern}},
    {moveRegionAssignment, {Rule::rangeEndNotFlash}},
    {clampRamBanks, {Rule::ramCheckFails, Rule::stackTopOutsideRam}},
    {moveCodeRegion, {Rule::codeStartNotAlignable}},
    {keepSymbols, {Rule::symbolDiscarded, Rule::symbolUndefined}},
    // The end lines, and the alignment the initial values keep.
    {endRange,
     {Rule::initialValuesBeforeRange, Rule::dataLineAssignment, Rule::noEndLine,
      Rule::lldAssignmentEnd, Rule::initialValuesMisaligned, Rule::loadedOutsideFlash}},
    {endRangeFromLoadImage,
     {Rule::initialValuesBeforeRange, Rule::dataLineAssignment, Rule::noEndLine,
      Rule::lldAssignmentEnd, Rule::initialValuesMisaligned, Rule::loadedOutsideFlash},
     1},
    {alignText, {Rule::textNotAtOffset, Rule::pageAlignedSegments}},
}};

bool answers(const RuleEdit& edit, Rule rule) {
  return std::find(edit.rules.begin(), edit.rules.end(), rule) != edit.rules.end();
}

int choiceOf(const EditChoices& choices, Rule rule) {
  const auto it = choices.find(rule);
  return it == choices.end() ? 0 : it->second;
}

// Whether a row is made this round: a first edit unless a rule of it with
// findings has moved on to a later one; a later edit when one has.
bool madeNow(const RuleEdit& edit, const LinkDiagnosis& d, const EditChoices& choices) {
  bool movedOn = false;
  for (const Rule rule : edit.rules) {
    if (rule == Rule::none || findingsOf(d, rule).empty()) {
      continue;
    }
    const int choice = choiceOf(choices, rule);
    if (choice == edit.choice && edit.choice > 0) {
      return true;
    }
    movedOn = movedOn || choice > 0;
  }
  return edit.choice == 0 && !movedOn;
}

}  // namespace

std::span<const Rule> edit::rulesOf(void (*make)(Editor&, const LinkDiagnosis&)) {
  for (const RuleEdit& row : kEdits) {
    if (row.make == make) {
      const auto end = std::find(row.rules.begin(), row.rules.end(), Rule::none);
      return {row.rules.begin(), end};
    }
  }
  return {};
}

ScriptSays scriptSays(const std::string& text) {
  ScriptSays says;
  ldscript::Script script;
  ldscript::ParseError error;
  if (!ldscript::parseScript(text, script, error)) {
    return says;
  }
  for (const ldscript::Statement& block : script.statements) {
    if (block.kind != ldscript::StatementKind::block || block.name != "SECTIONS") {
      continue;
    }
    for (const ldscript::Statement& st : block.body) {
      if (st.kind != ldscript::StatementKind::outputSection) {
        continue;
      }
      if (std::string symbol = ldscript::atSymbol(script, st); !symbol.empty()) {
        says.atSymbols.emplace_back(st.name, std::move(symbol));
      }
      says.loadRegionOnly.emplace_back(st.name, st.lmaFirst != st.lmaEnd && st.atFirst == st.atEnd);
    }
  }
  return says;
}

bool hasEdit(Rule rule) {
  return rule != Rule::none && std::any_of(kEdits.begin(), kEdits.end(),
                                           [rule](const RuleEdit& e) { return answers(e, rule); });
}

RoundEdits applyFixes(const LinkDiagnosis& d, std::vector<ScriptFile>& files,
                      const EditChoices& choices) {
  RoundEdits out;
  Editor e(files, out);
  kEdits.front().make(e, d);
  Sections s;
  if (!e.load(s)) {
    if (out.error.empty()) {
      out.error = "no file of the script has a SECTIONS block with a .text output section";
    }
    return out;
  }
  for (auto edit = kEdits.begin() + 1; edit != kEdits.end(); ++edit) {
    if (madeNow(*edit, d, choices)) {
      edit->make(e, d);
    }
  }
  return out;
}

std::vector<Rule> takeNextEdits(const LinkDiagnosis& d, EditChoices& choices) {
  std::vector<Rule> moved;
  for (const LinkFinding& f : d.findings) {
    const int next = choiceOf(choices, f.rule) + 1;
    const bool hasNext = std::any_of(kEdits.begin(), kEdits.end(), [&f, next](const RuleEdit& e) {
      return e.choice == next && answers(e, f.rule);
    });
    if (hasNext && std::find(moved.begin(), moved.end(), f.rule) == moved.end()) {
      moved.push_back(f.rule);
    }
  }
  for (const Rule rule : moved) {
    ++choices[rule];
  }
  return moved;
}

RoundEdits fixLinkError(const std::string& linkOutput, std::vector<ScriptFile>& files) {
  RoundEdits out;
  Editor e(files, out);
  constexpr std::string_view kUndefinedRegion = "memory region not defined: ";
  for (std::size_t at = linkOutput.find(kUndefinedRegion); at != std::string::npos;
       at = linkOutput.find(kUndefinedRegion, at + 1)) {
    const std::size_t from = at + kUndefinedRegion.size();
    const std::size_t to = linkOutput.find_first_of(" \t\r\n", from);
    regionsAfterMemory(e, linkOutput.substr(from, to - from));
  }
  return out;
}

}  // namespace pakforge::fix
