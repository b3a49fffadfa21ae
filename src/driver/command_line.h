// Turning the arguments into the five paths of one build.
#pragma once

#include <string>

namespace pakforge {

struct BuildPaths {
  std::string map = "./../output.map";
  std::string config = "./../output_CFG.bin";
  std::string elf = "./../output.elf";
  std::string resources = "./../output_RES.bin";
  std::string image = "./../prog.alf";
};

struct CommandLine {
  BuildPaths paths;
  // The option given last without a value, or empty.
  std::string missingValueFor;
};

// Only the exact two-character options -o -f -m -c -r count, each taking the
// next argument whatever it looks like; the last one given wins; every other
// argument is skipped on its own.
CommandLine parseCommandLine(int argc, const char* const* argv);

}  // namespace pakforge
