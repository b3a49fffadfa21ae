#include <iostream>

#include "driver/build_image.h"
#include "driver/command_line.h"

int main(int argc, char** argv) {
  std::cout << "pakforge v1.0.2\n";
  const pakforge::CommandLine commandLine = pakforge::parseCommandLine(argc, argv);
  if (!commandLine.missingValueFor.empty()) {
    // A build from a half-given command line would quietly use a default path.
    std::cout << "\033[31mOption '" << commandLine.missingValueFor << "' needs a value\033[0m\n";
    return 2;
  }
  const pakforge::BuildPaths& p = commandLine.paths;
  // The host keeps the low 8 bits: -1 becomes 255, -10 becomes 246.
  return static_cast<int>(pakforge::buildImage(p.map, p.config, p.elf, p.resources, p.image));
}
