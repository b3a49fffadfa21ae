#include "fix/script_fixes.h"

#include "fix/edits.h"
#include "ldscript/script_edit.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace pakforge::fix {

using namespace edit;

namespace {

// Every topic's edits, in the order of their steps.
const std::vector<RuleEdit>& allEdits() {
  static const std::vector<RuleEdit> edits = [] {
    std::vector<RuleEdit> all;
    for (const std::span<const RuleEdit> topic : {sectionEdits(), rangeEndEdits(), memoryEdits()}) {
      all.insert(all.end(), topic.begin(), topic.end());
    }
    std::stable_sort(all.begin(), all.end(),
                     [](const RuleEdit& a, const RuleEdit& b) { return a.step < b.step; });
    return all;
  }();
  return edits;
}

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

std::span<const Rule> edit::rulesOf(EditFn make) {
  for (const RuleEdit& row : allEdits()) {
    if (row.make == make) {
      const auto end = std::find(row.rules.begin(), row.rules.end(), Rule::none);
      return {row.rules.begin(), end};
    }
  }
  return {};
}

void addScriptSays(const ldscript::Script& script, ScriptSays& says) {
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
}

bool hasEdit(Rule rule) {
  const std::vector<RuleEdit>& edits = allEdits();
  return rule != Rule::none && std::any_of(edits.begin(), edits.end(),
                                           [rule](const RuleEdit& e) { return answers(e, rule); });
}

RoundEdits applyFixes(const LinkDiagnosis& d, std::vector<ScriptFile>& files,
                      const EditChoices& choices) {
  RoundEdits out;
  Editor e(files, out);
  const std::vector<RuleEdit>& edits = allEdits();
  edits.front().make(e, d);
  Sections s;
  if (!e.load(s)) {
    if (out.error.empty()) {
      out.error = "no file of the script has a SECTIONS block with a .text output section";
    }
    return out;
  }
  for (auto edit = edits.begin() + 1; edit != edits.end(); ++edit) {
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
    const bool hasNext = std::any_of(
        allEdits().begin(), allEdits().end(),
        [&f, next](const RuleEdit& e) { return e.choice == next && answers(e, f.rule); });
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
