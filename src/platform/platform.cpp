#include "platform/platform.h"

#include <array>
#include <atomic>
#include <chrono>

#ifdef _WIN32
// windows.h first: the other system headers need what it defines.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#endif

namespace pakforge::platform {

std::uint64_t uniqueNumber() {
  static std::atomic<std::uint64_t> calls{0};
  const auto now = static_cast<std::uint64_t>(
      std::chrono::high_resolution_clock::now().time_since_epoch().count());
#ifdef _WIN32
  const std::uint64_t process = GetCurrentProcessId();
#else
  const auto process = static_cast<std::uint64_t>(getpid());
#endif
  std::uint64_t x = now ^ (process << 32) ^ (++calls * 0x9E3779B97F4A7C15ull);
  // Mix the bits so that close inputs give unlike numbers.
  x ^= x >> 31;
  x *= 0xBF58476D1CE4E5B9ull;
  x ^= x >> 27;
  return x;
}

#ifdef _WIN32

namespace {

// The system's own paths are UTF-16.
std::wstring wide(const std::string& path) {
  if (path.empty()) {
    return {};
  }
  const int length =
      MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
  std::wstring result(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
  if (length > 0) {
    MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), result.data(),
                        length);
  }
  return result;
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

FileKind fileKind(const std::string& path) {
  const HANDLE h =
      CreateFileW(wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
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

// Links on Windows need rights most users lack; a link is replaced itself.
std::string resolveLinks(const std::string& path) {
  return path;
}

std::size_t lastSeparator(const std::string& path) {
  return path.find_last_of("/\\");
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

void copyPermissions(const std::string& /*like*/, FileHandle /*file*/) {}

bool replaceFile(const std::string& from, const std::string& to) {
  return MoveFileExW(wide(from).c_str(), wide(to).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
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

#else

namespace {

// The path being written, for the signal handler: no allocation there.
std::array<char, 4096> interruptPath{};
volatile std::sig_atomic_t interruptArmed = 0;

constexpr std::array<int, 4> kInterrupts = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
std::array<struct sigaction, kInterrupts.size()> previousActions{};
bool handlersInstalled = false;

extern "C" void onInterrupt(int signal) {
  if (interruptArmed != 0) {
    unlink(interruptPath.data());
  }
  // End the way the signal would have ended the process.
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

}  // namespace

std::vector<std::string> arguments(int argc, char** argv) {
  return {argv, argv + argc};
}

void setUpConsole() {}

std::filesystem::path nativePath(const std::string& path) {
  return path;
}

FileKind fileKind(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    return FileKind::missing;
  }
  return S_ISREG(st.st_mode) ? FileKind::regular
         : S_ISDIR(st.st_mode) ? FileKind::directory
                               : FileKind::other;
}

std::string resolveLinks(const std::string& path) {
  std::string current = path;
  // As many links as the system itself would follow.
  for (int hop = 0; hop < 40; ++hop) {
    struct stat st {};
    if (lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
      break;
    }
    std::array<char, 4096> target{};
    const ssize_t length = readlink(current.c_str(), target.data(), target.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) {
      break;
    }
    const std::string link(target.data(), static_cast<std::size_t>(length));
    const std::size_t separator = lastSeparator(current);
    if (link.front() == '/' || separator == std::string::npos) {
      current = link;
    } else {
      current.resize(separator + 1);
      current += link;
    }
  }
  return current;
}

std::size_t lastSeparator(const std::string& path) {
  return path.rfind('/');
}

Created createNewFile(const std::string& path, FileHandle& file) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    return errno == EEXIST ? Created::exists : Created::failed;
  }
  file = fd;
  return Created::ok;
}

bool writeFile(FileHandle file, const char* bytes, std::size_t size) {
  while (size > 0) {
    const std::size_t piece = size > 0x40000000 ? 0x40000000 : size;
    const ssize_t written = write(static_cast<int>(file), bytes, piece);
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      return false;
    }
    bytes += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

bool syncFile(FileHandle file) {
  int result = 0;
  do {
    result = fsync(static_cast<int>(file));
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

bool closeFile(FileHandle file) {
  return close(static_cast<int>(file)) == 0;
}

void copyPermissions(const std::string& like, FileHandle file) {
  struct stat st {};
  if (stat(like.c_str(), &st) == 0) {
    fchmod(static_cast<int>(file), st.st_mode & 07777);
  }
}

bool replaceFile(const std::string& from, const std::string& to) {
  return rename(from.c_str(), to.c_str()) == 0;
}

bool removeFile(const std::string& path) {
  return unlink(path.c_str()) == 0;
}

void removeOnInterrupt(const std::string& path) {
  interruptArmed = 0;
  if (path.size() >= interruptPath.size()) {
    return;
  }
  std::memcpy(interruptPath.data(), path.c_str(), path.size() + 1);
  if (!handlersInstalled) {
    for (std::size_t i = 0; i < kInterrupts.size(); ++i) {
      sigaction(kInterrupts[i], nullptr, &previousActions[i]);
      // A signal the caller chose to ignore (nohup) stays ignored.
      if (previousActions[i].sa_handler == SIG_IGN) {
        continue;
      }
      struct sigaction action {};
      action.sa_handler = onInterrupt;
      sigemptyset(&action.sa_mask);
      sigaction(kInterrupts[i], &action, nullptr);
    }
    handlersInstalled = true;
  }
  interruptArmed = 1;
}

void keepOnInterrupt() {
  interruptArmed = 0;
  if (handlersInstalled) {
    for (std::size_t i = 0; i < kInterrupts.size(); ++i) {
      sigaction(kInterrupts[i], &previousActions[i], nullptr);
    }
    handlersInstalled = false;
  }
}

#endif

}  // namespace pakforge::platform
