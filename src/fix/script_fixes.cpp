#include "fix/script_fixes.h"

#include "fix/edits.h"

#include <string_view>

namespace pakforge::fix {

using namespace edit;

RoundEdits applyFixes(const LinkDiagnosis& d, std::vector<ScriptFile>& files) {
  RoundEdits out;
  Editor e(files, out);
  renameTextSection(e, d);
  Sections s;
  if (!e.load(s)) {
    if (out.error.empty()) {
      out.error = "no file of the script has a SECTIONS block with a .text output section";
    }
    return out;
  }
  moveRamSections(e, d);
  renameDataSection(e, d);
  markNoLoad(e, d);
  moveIntoData(e, d);
  moveIntoText(e, d);
  rewriteDataPatterns(e, d);
  moveRegionAssignment(e, d);
  clampRamBanks(e, d);
  moveCodeRegion(e, d, out);
  keepSymbols(e, d);
  endRange(e, d);
  alignText(e, d, out);
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
