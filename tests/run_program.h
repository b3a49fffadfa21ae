// Running a program for the end-to-end tests, the same way on POSIX systems
// and on Windows: in a given folder, with its standard output and error
// sent to files (both to one file when they are the same path) and no
// standard input.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace pakforge::testing_support {

// The program's exit status (0-255 on POSIX systems; Windows' exit code),
// or -1 when it could not be run or did not exit normally.
int runProgram(const std::string& program, const std::vector<std::string>& args,
               const std::filesystem::path& folder, const std::filesystem::path& out,
               const std::filesystem::path& err);

// A folder of its own under the system's temporary folder.
std::filesystem::path makeTemporaryFolder();

// Whether this system has POSIX devices, named pipes, modes and umask.
bool isPosix();

// Whether the tests run as root (never on Windows).
bool isRoot();

// Sets the process's umask and returns the one before (0 where there is none).
unsigned setUmask(unsigned mask);

// Makes a named pipe; false where the system has none.
bool makeNamedPipe(const std::filesystem::path& path);

}  // namespace pakforge::testing_support
