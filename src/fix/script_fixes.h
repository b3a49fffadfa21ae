// The fixes of the link diagnosis as edits over the parsed linker script:
// one edit per rule that has one, made only where the script shows what
// the edit needs (the section it moves, the line it replaces). The text of
// each fix in the rule table describes the same edit.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "ldscript/script.h"
#include "linkdiag/link_diagnosis.h"

namespace pakforge::fix {

// One file of the script: the linker script or a file it INCLUDEs.
struct ScriptFile {
  std::string path;      // where it is, as the team's command finds it
  std::string included;  // as an INCLUDE names it; empty for the script itself
  std::string original;  // its text as it was
  std::string text;      // its text with the fixes so far
};

// What one round changed.
struct RoundEdits {
  // One entry per change: the codes it answers and what it did.
  struct Change {
    std::vector<std::string> codes;
    std::string what;
    // Whether the fix of any of its codes moves the layout.
    bool movesLayout = false;
  };
  std::vector<Change> changes;
  // The link command needs -n (no page alignment of segments), for the
  // rules of these codes.
  bool noPageAlign = false;
  std::vector<std::string> noPageAlignCodes;
  // A file that can't be read any more after an edit: a fault of the edit,
  // said, not written.
  std::string error;
};

// What the SECTIONS blocks of one file of a script say that a diagnosis
// can't read from the map and the ELF file, added to `says`: a script's
// files (the one linked, then those it INCLUDEs) are added in turn.
void addScriptSays(const ldscript::Script& script, ScriptSays& says);

// Whether an edit of applyFixes answers the findings of `rule`.
bool hasEdit(Rule rule);

// Which of its edits each rule takes: its first (0), or a later one once
// the first changed nothing for its findings. A rule not named takes its
// first.
using EditChoices = std::map<Rule, int>;

// Applies the fixes of the diagnosis's findings to `files`, each rule's
// by its edit in `choices`.
RoundEdits applyFixes(const LinkDiagnosis& diagnosis, std::vector<ScriptFile>& files,
                      const EditChoices& choices = {});

// For findings that came back unchanged: each of their rules that has an
// edit after its choice takes that one. The rules so moved on, in the order
// found; none when no finding has another edit.
std::vector<Rule> takeNextEdits(const LinkDiagnosis& diagnosis, EditChoices& choices);

// For a link the linker refused: the edits its message asks for, where it
// names a case --fix knows (LLD's "memory region not defined: NAME" for a
// statement that names NAME before MEMORY). No changes when it names none.
RoundEdits fixLinkError(const std::string& linkOutput, std::vector<ScriptFile>& files);

}  // namespace pakforge::fix
