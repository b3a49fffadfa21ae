#include "fix/script_fixes.h"

#include "fix/edits.h"

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

}  // namespace pakforge::fix
