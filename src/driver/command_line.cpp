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
      result.missingValueFor = arg;
      break;
    }
    *target = argv[++i];
  }
  return result;
}

}  // namespace pakforge
