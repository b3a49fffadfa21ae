// aelfdump --fix: from a linker script and its link command to a script
// pakforge builds a correct image from, checked by the team's own linker.
#pragma once

#include <string>
#include <vector>

#include "fix/link_command.h"

namespace pakforge::aelfdump {

// The exit statuses of --fix beyond those of all modes (1: a file can't be
// opened, 2: wrong arguments).
inline constexpr int kScriptNotEditable = 10;  // it can't be read as a script
inline constexpr int kLinkFailsFirst = 11;     // the command fails before any fix
inline constexpr int kNotFixed = 12;           // findings left that no edit answers
inline constexpr int kNotWritten = 13;         // --write could not replace a file

struct FixOptions {
  bool write = false;                                    // put the fixed files in place
  fix::ProgramKind program = fix::ProgramKind::unknown;  // as --driver or --linker say
};

// Links with copies of the script and the files it INCLUDEs, in a private
// folder, fixes them round after round (at most four links), prints the
// diff, what each change answers and the verdict; with `write`, puts the
// fixed files in place of the team's once the last link passed every check
// and each file still holds what was read. Ctrl-C, SIGTERM and SIGHUP end
// the link and remove the folder: the status is then 128 + the signal.
int fixScript(const std::string& script, const std::vector<std::string>& command,
              const FixOptions& options);

}  // namespace pakforge::aelfdump
