#include "fix/script_fixes.h"

#include "fix/edits.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace pakforge::fix {

using namespace edit;

namespace {

// An edit and the rules whose findings it answers.
struct RuleEdit {
  void (*make)(Editor&, const LinkDiagnosis&);
  std::array<Rule, 6> rules;  // Rule::none after the last
};

// The edits in the order they are made. The names first: the rest need the
// SECTIONS block with .text, which the first makes. The sections move
// before the range's end is written, which only .text's alignment follows.
const std::array<RuleEdit, 15> kEdits = {{
    {renameTextSection, {Rule::noTextLine, Rule::longCodeSectionName}},
    {moveRamSections, {Rule::ramSectionsBeforeData}},
    {renameDataSection, {Rule::dataLineSectionName}},
    {moveOutOfMissingRam, {Rule::ramBankMissing}},
    {moveFlashSections, {Rule::flashSectionAfterRange}},
    {markNoLoad, {Rule::reservationLoaded}},
    {moveIntoData, {Rule::ramContentAfterRange}},
    {moveIntoText, {Rule::flashBeforeRange}},
    {rewriteDataPatterns, {Rule::dataLinePattern}},
    {moveRegionAssignment, {Rule::rangeEndNotFlash}},
    {clampRamBanks, {Rule::ramCheckFails, Rule::stackTopOutsideRam}},
    {moveCodeRegion, {Rule::codeStartNotAlignable}},
    {keepSymbols, {Rule::symbolDiscarded, Rule::symbolUndefined}},
    // The end lines, and the alignment the initial values keep.
    {endRange,
     {Rule::initialValuesBeforeRange, Rule::dataLineAssignment, Rule::noEndLine,
      Rule::lldAssignmentEnd, Rule::initialValuesMisaligned, Rule::loadedOutsideFlash}},
    {alignText, {Rule::textNotAtOffset, Rule::pageAlignedSegments}},
}};

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

bool hasEdit(Rule rule) {
  return rule != Rule::none && std::any_of(kEdits.begin(), kEdits.end(), [rule](const RuleEdit& e) {
           return std::find(e.rules.begin(), e.rules.end(), rule) != e.rules.end();
         });
}

RoundEdits applyFixes(const LinkDiagnosis& d, std::vector<ScriptFile>& files) {
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
    edit->make(e, d);
  }
  return out;
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
