#include <iostream>
#include <string>
#include <vector>

#include "driver/build_image.h"
#include "driver/command_line.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  pakforge::platform::setUpConsole();
  const std::vector<std::string> arguments = pakforge::platform::arguments(argc, argv);
  std::vector<const char*> pointers;
  pointers.reserve(arguments.size());
  for (const std::string& argument : arguments) {
    pointers.push_back(argument.c_str());
  }
  std::cout << "pakforge v1.0.2\n";
  const pakforge::CommandLine commandLine =
      pakforge::parseCommandLine(static_cast<int>(pointers.size()), pointers.data());
  if (!commandLine.missingValueFor.empty()) {
    // A build from a half-given command line would quietly use a default path.
    std::cout << "\033[31mOption '" << commandLine.missingValueFor << "' needs a value\033[0m\n";
    return 2;
  }
  const pakforge::BuildPaths& p = commandLine.paths;
  // Exit statuses are eight bits wide: -1 is 255 and -10 is 246 on every
  // system, so that a Windows batch file's `if errorlevel 1` sees a failure.
  return static_cast<int>(pakforge::buildImage(p.map, p.config, p.elf, p.resources, p.image)) &
         0xFF;
}
