#include "driver/command_line.h"

#include <string_view>

namespace pakforge {

CommandLine parseCommandLine(int argc, const char* const* argv) {
  CommandLine result;
  BuildPaths& p = result.paths;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    std::string* target = arg == "-o"   ? &p.image
                          : arg == "-f" ? &p.elf
                          : arg == "-m" ? &p.map
                          : arg == "-c" ? &p.config
                          : arg == "-r" ? &p.resources
                                        : nullptr;
    if (target == nullptr) {
      continue;
    }
    if (i + 1 == argc) {
      // A fresh string, not an assignment from the view: GCC 12 at -O3 warns
      // falsely (-Wrestrict) about the copy that assignment inlines.
      result.missingValueFor = std::string(arg);
      break;
    }
    *target = argv[++i];
  }
  return result;
}

}  // namespace pakforge
