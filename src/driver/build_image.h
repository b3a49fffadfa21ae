// One build: from the map, configuration, ELF and resources files to the
// AELF image, in a fixed order of steps.
#pragma once

#include <string>

#include "linkdiag/link_diagnosis.h"
#include "mapfile/map_scan.h"

namespace pakforge {

// The build's outcome, which is also the process exit status.
enum class BuildResult : int {
  ok = 0,
  configNotOpen = -1,
  symbolScanFailed = -2,
  resourcesNotOpen = -3,
  elfNotOpen = -4,
  imageNotCreated = -5,
  romBudgetExceeded = -6,
  ramBudgetFailed = -10,
};

// Messages go to standard output, the usage report to standard error.
BuildResult buildImage(const std::string& mapPath, const std::string& configPath,
                       const std::string& elfPath, const std::string& resourcesPath,
                       const std::string& imagePath);

// What a build from this map and ELF file ends with, run through the same
// steps with a header template of zeros and no resources, writing and
// printing nothing: pakforge's own verdict on a link, for aelfdump --link.
struct BuildPreview {
  BuildResult result = BuildResult::ok;
  // The message the build ends with, without colours; empty on success.
  std::string message;
};
// It runs on the facts the diagnosis read, and its refusal is told from the
// diagnosis's findings.
BuildPreview previewBuild(const LinkDiagnosis& diagnosis);

}  // namespace pakforge
