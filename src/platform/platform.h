// What differs between the systems pakforge runs on, behind one small
// interface: the rest of the code never asks which system it is on. Paths are
// UTF-8 byte strings everywhere; only this file turns them into what the
// system wants.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace pakforge::platform {

// The program's arguments as UTF-8, whatever the system's code page: on
// Windows they are taken from the wide command line.
std::vector<std::string> arguments(int argc, char** argv);

// Standard output and error pass their bytes on unchanged ("\n" stays one
// byte on Windows too), and a console shows the colour sequences.
void setUpConsole();

// A UTF-8 path as the standard library's file streams and std::filesystem
// take it on this system.
std::filesystem::path nativePath(const std::string& path);

// `path` written as this system's shell reads it back, for a command line a
// user pastes: on POSIX systems as it is where nothing in it is special,
// otherwise in single quotes; on Windows in double quotes, which cmd.exe
// and PowerShell both take.
std::string shellQuoted(const std::string& path);

// A file this process opened for writing.
using FileHandle = std::intptr_t;
inline constexpr FileHandle kNoFile = -1;

// `unreachable`: a path the system can't follow to its end, such as a loop
// of symbolic links.
enum class FileKind { missing, regular, directory, other, unreachable };

// What `path` names, after following symbolic links.
FileKind fileKind(const std::string& path);

// Whether this process may write the existing file at `path`: a read-only
// file may not be replaced either (root may, as it may write it).
bool mayWrite(const std::string& path);

// What tells one file from another, whatever path reaches it: the device and
// inode on POSIX systems, the volume and file index on Windows.
struct FileId {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  bool operator==(const FileId&) const = default;
};
// False when `path` (links followed) names no file that can be looked at.
bool fileId(const std::string& path, FileId& id);

// The file a chain of symbolic links at `path` ends in (which may not exist
// yet); `path` itself when it is no link.
std::string resolveLinks(const std::string& path);

// Where the folder part of `path` ends: its last separator, or on Windows
// the colon of a drive-relative path ("C:name"); npos when it has none.
std::size_t lastSeparator(const std::string& path);

enum class Created { ok, exists, failed };

// Creates `path`, which must not exist, for writing, with the permissions
// any new file gets there (0666 less the umask on POSIX systems).
Created createNewFile(const std::string& path, FileHandle& file);
// False unless all `size` bytes were written.
bool writeFile(FileHandle file, const char* bytes, std::size_t size);
// Sends what was written to the disk itself, not just to the system's cache.
bool syncFile(FileHandle file);
bool closeFile(FileHandle file);
// Gives `file` the permission bits of the existing file `like`, and its owner
// and group where this process may.
void copyOwnerAndPermissions(const std::string& like, FileHandle file);
// Puts the file `from` in the place of `to` in one step, replacing what was
// there: a reader sees either the old file or the new one.
bool replaceFile(const std::string& from, const std::string& to);
bool removeFile(const std::string& path);

std::uint64_t processId();

// The command line a program started with `args` reads them back from: on
// Windows by the C runtime's rules (quotes, and the backslashes before
// them), on POSIX systems as the shell reads it.
std::string commandLine(const std::vector<std::string>& args);

// How a command run by runCommand ended.
struct RunResult {
  bool started = false;   // false: it could not be started (see notFound)
  bool notFound = false;  // no such program, where the system looks for it
  int status = -1;        // its exit status, when it exited
  int signal = 0;         // the signal that ended it, when one did
  std::string error;      // why it could not be started, or run at all
};

// Runs a program (args[0], looked up on PATH as the system does) with
// `args`, no standard input, and its standard output and error both written
// to the file `output`, in a process group (on Windows a job object) of its
// own, which an interrupt held by holdInterrupts() ends whole.
RunResult runCommand(const std::vector<std::string>& args, const std::string& output);

// From holdInterrupts() to releaseInterrupts(), Ctrl-C, a request to
// terminate and a closed terminal (SIGINT, SIGTERM, SIGHUP; on Windows
// Ctrl-C, Ctrl-Break and a closed console) don't end the process: they end
// the command runCommand is running, process group and all, and are noted,
// so that the caller can clean up and end with 128 + heldInterrupt().
void holdInterrupts();
void releaseInterrupts();
// The signal noted since holdInterrupts(), 0 when none.
int heldInterrupt();
// "SIGTERM" for SIGTERM, "signal N" for one without a name here.
std::string signalName(int signal);

// Makes a new folder under the system's temporary folder, named `prefix`
// and characters no one can guess, that only this user may open (0700 on
// POSIX systems). False when it can't.
bool makePrivateFolder(const std::string& prefix, std::string& folder);

// Whether the file's own mode forbids writing it, whoever this process runs
// as (root too): no write permission bit on POSIX systems, the read-only
// attribute on Windows; or it may not be written at all.
bool isReadOnly(const std::string& path);

// Until keepOnInterrupt(), Ctrl-C, a request to terminate or any other signal
// that would end the process (a file size limit reached, an alarm, a closed
// pipe) removes the file at `path` before the process ends as it would have.
void removeOnInterrupt(const std::string& path);
void keepOnInterrupt();

}  // namespace pakforge::platform
