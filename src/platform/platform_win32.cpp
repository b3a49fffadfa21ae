// The platform interface on Windows: UTF-16 paths and command line, binary
// standard streams, a console that must be asked for colours.
//
// windows.h first: the other system headers need what it defines.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <array>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <random>
#include <system_error>

#include "platform/platform.h"

namespace pakforge::platform {

namespace {

// A path the file functions take whatever its length: they refuse one whose
// full form reaches MAX_PATH (260) characters unless it is given whole,
// behind the \\?\ prefix. A shorter one is left as it was given.
std::wstring longForm(std::wstring path) {
  const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed <= MAX_PATH) {  // the length with its terminating zero, or 0
    return path;
  }
  std::wstring full(std::size_t{needed}, L'\0');
  const DWORD length = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed) {
    return path;
  }
  full.resize(length);
  if (full.rfind(L"\\\\?\\", 0) == 0 || full.rfind(L"\\\\.\\", 0) == 0) {
    return full;
  }
  if (full.rfind(L"\\\\", 0) == 0) {
    return L"\\\\?\\UNC\\" + full.substr(2);  // \\server\share\...
  }
  return L"\\\\?\\" + full;
}

// UTF-8 text as UTF-16, as it is.
std::wstring utf16(const std::string& text) {
  if (text.empty()) {
    return {};
  }
  const int length =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring result(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
  if (length > 0) {
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(),
                        length);
  }
  return result;
}

// The system's own paths are UTF-16, long ones in their long form.
std::wstring wide(const std::string& path) {
  return longForm(utf16(path));
}

std::string narrow(const wchar_t* text) {
  const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 1) {
    return {};
  }
  std::string result(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, result.data(), length, nullptr, nullptr);
  result.pop_back();  // the terminating zero
  return result;
}

HANDLE handleOf(FileHandle file) {
  return reinterpret_cast<HANDLE>(file);
}

// The path being written, for the console's Ctrl-C handler, which runs on a
// thread of its own.
std::array<wchar_t, 32768> interruptPath{};
std::atomic<bool> interruptArmed{false};

BOOL WINAPI onConsoleEvent(DWORD /*event*/) {
  if (interruptArmed.load()) {
    // The file was opened with FILE_SHARE_DELETE: it goes when the process
    // ends and its handle is closed.
    DeleteFileW(interruptPath.data());
  }
  return FALSE;  // and the process ends as it would have
}

}  // namespace

std::vector<std::string> arguments(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) {
    return {argv, argv + argc};
  }
  std::vector<std::string> result;
  result.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    result.push_back(narrow(wide[i]));
  }
  LocalFree(wide);
  return result;
}

void setUpConsole() {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  for (const DWORD stream : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
    const HANDLE h = GetStdHandle(stream);
    DWORD mode = 0;
    // Only a console has a mode; a file or a pipe gets the bytes as they are.
    if (h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode) != 0) {
      SetConsoleMode(h, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
  }
}

std::filesystem::path nativePath(const std::string& path) {
  return wide(path);
}

std::uint64_t processId() {
  return GetCurrentProcessId();
}

namespace {

// A handle for looking at what `path` names, folders included; none when
// nothing is there.
HANDLE openForAttributes(const std::string& path) {
  return CreateFileW(wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

}  // namespace

FileKind fileKind(const std::string& path) {
  const HANDLE h = openForAttributes(path);
  if (h == INVALID_HANDLE_VALUE) {
    return FileKind::missing;
  }
  FileKind kind = FileKind::other;
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(h) == FILE_TYPE_DISK && GetFileInformationByHandle(h, &info) != 0) {
    kind = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FileKind::directory
                                                                   : FileKind::regular;
  }
  CloseHandle(h);
  return kind;
}

// The read-only attribute is what keeps a file from being written here; a
// rename over such a file fails anyway, but only after the work is done.
bool mayWrite(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) == 0;
}

bool fileId(const std::string& path, FileId& id) {
  const HANDLE h = openForAttributes(path);
  if (h == INVALID_HANDLE_VALUE) {
    return false;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  const bool known = GetFileInformationByHandle(h, &info) != 0;
  CloseHandle(h);
  if (known) {
    id = {info.dwVolumeSerialNumber,
          (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
  }
  return known;
}

// Links on Windows need rights most users lack; a link is replaced itself.
std::string resolveLinks(const std::string& path) {
  return path;
}

std::string shellQuoted(const std::string& path) {
  // A Windows path holds no double quote.
  return "\"" + path + "\"";
}

std::size_t lastSeparator(const std::string& path) {
  const std::size_t separator = path.find_last_of("/\\");
  // "C:img.alf" names a file in the current folder of drive C: the drive is
  // its folder part. Taken for a name, it would put a temporary file
  // ".C:img.alf..." here: on NTFS a stream of a file named ".C".
  const bool drive = path.size() >= 2 && path[1] == ':' &&
                     ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
  if (drive && separator == std::string::npos) {
    return 1;
  }
  return separator;
}

Created createNewFile(const std::string& path, FileHandle& file) {
  const HANDLE h =
      CreateFileW(wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? Created::exists
                                                                       : Created::failed;
  }
  file = reinterpret_cast<FileHandle>(h);
  return Created::ok;
}

bool writeFile(FileHandle file, const char* bytes, std::size_t size) {
  while (size > 0) {
    const DWORD piece = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    DWORD written = 0;
    if (WriteFile(handleOf(file), bytes, piece, &written, nullptr) == 0 || written == 0) {
      return false;
    }
    bytes += written;
    size -= written;
  }
  return true;
}

bool syncFile(FileHandle file) {
  return FlushFileBuffers(handleOf(file)) != 0;
}

bool closeFile(FileHandle file) {
  return CloseHandle(handleOf(file)) != 0;
}

// A new file takes its folder's access rules, as the old one did.
void copyOwnerAndPermissions(const std::string& /*like*/, FileHandle /*file*/) {}

// A virus scanner, a search indexer or another build reading the old image
// holds it open for a moment, and the rename fails while it does: try again
// for a while, as build tools do, before giving up.
bool replaceFile(const std::string& from, const std::string& to) {
  const std::wstring source = wide(from);
  const std::wstring target = wide(to);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  DWORD pause = 1;
  for (;;) {
    if (MoveFileExW(source.c_str(), target.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0) {
      return true;
    }
    const DWORD error = GetLastError();
    if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION &&
         error != ERROR_LOCK_VIOLATION) ||
        std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    Sleep(pause);
    pause = pause < 64 ? pause * 2 : 100;
  }
}

bool removeFile(const std::string& path) {
  return DeleteFileW(wide(path).c_str()) != 0;
}

void removeOnInterrupt(const std::string& path) {
  static const bool installed = SetConsoleCtrlHandler(onConsoleEvent, TRUE) != 0;
  const std::wstring w = wide(path);
  interruptArmed = false;
  if (!installed || w.size() >= interruptPath.size()) {
    return;
  }
  w.copy(interruptPath.data(), w.size());
  interruptPath[w.size()] = L'\0';
  interruptArmed = true;
}

void keepOnInterrupt() {
  interruptArmed = false;
}

std::string commandLine(const std::vector<std::string>& args) {
  std::string line;
  for (const std::string& arg : args) {
    line += line.empty() ? "" : " ";
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) {
      line += arg;
      continue;
    }
    // Quoted, the backslashes before a quote (or the closing one) doubled.
    line += '"';
    std::size_t backslashes = 0;
    for (const char c : arg) {
      if (c == '\\') {
        ++backslashes;
        continue;
      }
      line.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
      backslashes = 0;
      line += c;
    }
    line.append(2 * backslashes, '\\');
    line += '"';
  }
  return line;
}

namespace {

// The interrupt a fix holds, and the job of the command it ends; the
// console's handler runs on a thread of its own.
std::atomic<int> heldSignal{0};
std::atomic<HANDLE> runningJob{nullptr};
constexpr int kSigHup = 1;  // a closed console, as a closed terminal is

BOOL WINAPI onHeldConsoleEvent(DWORD event) {
  const int signal =
      event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT
          ? kSigHup
          : SIGINT;
  int none = 0;
  heldSignal.compare_exchange_strong(none, signal);
  if (const HANDLE job = runningJob.load(); job != nullptr) {
    TerminateJobObject(job, static_cast<UINT>(128 + signal));
  }
  return TRUE;  // noted: the caller cleans up and ends
}

RunResult notStarted(DWORD error) {
  RunResult result;
  result.notFound = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  result.error = "system error " + std::to_string(error);
  return result;
}

}  // namespace

void holdInterrupts() {
  heldSignal = 0;
  SetConsoleCtrlHandler(onHeldConsoleEvent, TRUE);
}

void releaseInterrupts() {
  SetConsoleCtrlHandler(onHeldConsoleEvent, FALSE);
}

int heldInterrupt() {
  return heldSignal.load();
}

std::string signalName(int signal) {
  switch (signal) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case kSigHup:
      return "SIGHUP";
    default:
      return "signal " + std::to_string(signal);
  }
}

bool makePrivateFolder(const std::string& prefix, std::string& folder) {
  std::error_code error;
  const std::filesystem::path base = std::filesystem::temp_directory_path(error);
  if (error) {
    return false;
  }
  // Under the user's own temporary folder, which others can't open; the
  // name drawn from the system's random source.
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[17];
    std::snprintf(suffix, sizeof suffix, "%08x%08x", random(), random());
    const std::filesystem::path candidate = base / (utf16(prefix) + utf16(suffix));
    if (CreateDirectoryW(candidate.c_str(), nullptr) != 0) {
      folder = narrow(candidate.c_str());
      return true;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) {
      return false;
    }
  }
  return false;
}

bool isReadOnly(const std::string& path) {
  return !mayWrite(path);
}

RunResult runCommand(const std::vector<std::string>& args, const std::string& output) {
  if (args.empty()) {
    return notStarted(ERROR_FILE_NOT_FOUND);
  }
  // A command line is no path: no long form.
  std::wstring line = utf16(commandLine(args));
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  const HANDLE out = CreateFileW(wide(output).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  const HANDLE in = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  // The job holds the command and all it starts: closing it ends them.
  const HANDLE job = CreateJobObjectW(nullptr, nullptr);
  if (out == INVALID_HANDLE_VALUE || in == INVALID_HANDLE_VALUE || job == nullptr) {
    const DWORD error = GetLastError();
    for (const HANDLE h : {out, in}) {
      if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
      }
    }
    if (job != nullptr) {
      CloseHandle(job);
    }
    return notStarted(error);
  }
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out;
  startup.hStdError = out;
  PROCESS_INFORMATION process{};
  // The program is looked up as the system does for a command line: its
  // folder, the current one, then PATH (".exe" added). It starts suspended,
  // so that it is in the job before it can start anything.
  const BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE,
                                      CREATE_SUSPENDED, nullptr, nullptr, &startup, &process);
  const DWORD startError = started ? 0 : GetLastError();
  CloseHandle(out);
  CloseHandle(in);
  if (!started) {
    CloseHandle(job);
    return notStarted(startError);
  }
  AssignProcessToJobObject(job, process.hProcess);
  runningJob = job;
  if (heldSignal.load() != 0) {
    TerminateJobObject(job, static_cast<UINT>(128 + heldSignal.load()));
  }
  ResumeThread(process.hThread);
  DWORD code = 0;
  const bool waited = WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0 &&
                      GetExitCodeProcess(process.hProcess, &code);
  runningJob = nullptr;
  CloseHandle(job);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  RunResult result;
  result.started = true;
  if (!waited) {
    result.error = "system error " + std::to_string(GetLastError());
  } else if (heldSignal.load() != 0) {
    result.signal = heldSignal.load();
  } else {
    result.status = static_cast<int>(code);
  }
  return result;
}

}  // namespace pakforge::platform
