// The platform interface on Linux and other POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <utility>

#include "platform/platform.h"

namespace pakforge::platform {
namespace {

// The path being written, for the signal handler: no allocation there.
std::array<char, 4096> interruptPath{};
volatile std::sig_atomic_t interruptArmed = 0;

// Every signal whose default action ends the process and that a build may
// meet while it writes: Ctrl-C, a request to terminate, a closed terminal,
// a file size limit (SIGXFSZ: a full "disk" under ulimit -f), a CPU time
// limit, an alarm, the user signals, a pipe closed by its reader.
constexpr std::array<int, 10> kInterrupts = {SIGINT,  SIGTERM, SIGHUP,  SIGQUIT, SIGXFSZ,
                                             SIGXCPU, SIGALRM, SIGUSR1, SIGUSR2, SIGPIPE};
std::array<struct sigaction, kInterrupts.size()> previousActions{};
bool handlersInstalled = false;

extern "C" void onInterrupt(int signal) {
  if (interruptArmed != 0) {
    unlink(interruptPath.data());
  }
  // End the way the signal would have ended the process: it is blocked while
  // this handler runs and arrives again, with its default action, on return.
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

std::uint64_t processId() {
  return static_cast<std::uint64_t>(getpid());
}

FileKind fileKind(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    return errno == ELOOP ? FileKind::unreachable : FileKind::missing;
  }
  return S_ISREG(st.st_mode)   ? FileKind::regular
         : S_ISDIR(st.st_mode) ? FileKind::directory
                               : FileKind::other;
}

bool mayWrite(const std::string& path) {
  // The effective user's rights, as an open for writing would test them.
  return faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

bool fileId(const std::string& path, FileId& id) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    return false;
  }
  id = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
  return true;
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

std::string shellQuoted(const std::string& path) {
  constexpr std::string_view kPlain =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789@%_+=:,./-";
  if (!path.empty() && path.find_first_not_of(kPlain) == std::string::npos) {
    return path;
  }
  std::string quoted = "'";
  for (const char c : path) {
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return quoted + "'";
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

void copyOwnerAndPermissions(const std::string& like, FileHandle file) {
  struct stat st {};
  if (stat(like.c_str(), &st) != 0) {
    return;
  }
  // Root replacing an image in a shared folder leaves it to its owner and
  // group; anyone else may not give a file away, and the new file stays
  // theirs. The owner first: changing it may clear the set-ID bits.
  const int fd = static_cast<int>(file);
  if (fchown(fd, st.st_uid, st.st_gid) != 0) {
    // Not fatal: a user in the file's group may still set it.
    [[maybe_unused]] const int ignored = fchown(fd, static_cast<uid_t>(-1), st.st_gid);
  }
  fchmod(fd, st.st_mode & 07777);
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
      // Only signals that would end the process: one the caller chose to
      // ignore (nohup, trap '' XFSZ) stays ignored, so a write past a file
      // size limit fails as a full disk; one a host program handles (a test
      // harness's alarm) stays its own.
      if ((previousActions[i].sa_flags & SA_SIGINFO) != 0 ||
          previousActions[i].sa_handler != SIG_DFL) {
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

std::string commandLine(const std::vector<std::string>& args) {
  std::string line;
  for (const std::string& arg : args) {
    if (!line.empty()) {
      line += ' ';
    }
    line += shellQuoted(arg);
  }
  return line;
}

namespace {

// The interrupts a fix holds, and the command group they end.
constexpr std::array<int, 3> kHeld = {SIGINT, SIGTERM, SIGHUP};
std::array<struct sigaction, kHeld.size()> heldPrevious{};
std::array<bool, kHeld.size()> heldInstalled{};
volatile std::sig_atomic_t heldSignal = 0;
volatile std::sig_atomic_t runningGroup = 0;

extern "C" void onHeldInterrupt(int signal) {
  const bool again = heldSignal != 0;
  if (!again) {
    heldSignal = signal;
  }
  // The command ends as this process would have; asked again, a command
  // that does not end is killed.
  const pid_t group = runningGroup;
  if (group > 0) {
    kill(-group, again ? SIGKILL : signal);
  }
}

// What the child tells through the pipe when its exec fails: its errno.
RunResult notStarted(int error) {
  RunResult result;
  result.notFound = error == ENOENT;
  result.error = std::strerror(error);
  return result;
}

}  // namespace

void holdInterrupts() {
  heldSignal = 0;
  for (std::size_t i = 0; i < kHeld.size(); ++i) {
    sigaction(kHeld[i], nullptr, &heldPrevious[i]);
    // One the caller ignores (nohup) stays ignored.
    heldInstalled[i] =
        (heldPrevious[i].sa_flags & SA_SIGINFO) != 0 || heldPrevious[i].sa_handler != SIG_IGN;
    if (heldInstalled[i]) {
      struct sigaction action {};
      action.sa_handler = onHeldInterrupt;
      sigemptyset(&action.sa_mask);
      sigaction(kHeld[i], &action, nullptr);
    }
  }
}

void releaseInterrupts() {
  for (std::size_t i = 0; i < kHeld.size(); ++i) {
    if (heldInstalled[i]) {
      sigaction(kHeld[i], &heldPrevious[i], nullptr);
      heldInstalled[i] = false;
    }
  }
}

int heldInterrupt() {
  return heldSignal;
}

std::string signalName(int signal) {
  static constexpr std::array<std::pair<int, const char*>, 16> kNames = {{
      {SIGINT, "SIGINT"},
      {SIGTERM, "SIGTERM"},
      {SIGHUP, "SIGHUP"},
      {SIGKILL, "SIGKILL"},
      {SIGSEGV, "SIGSEGV"},
      {SIGABRT, "SIGABRT"},
      {SIGBUS, "SIGBUS"},
      {SIGFPE, "SIGFPE"},
      {SIGILL, "SIGILL"},
      {SIGPIPE, "SIGPIPE"},
      {SIGQUIT, "SIGQUIT"},
      {SIGALRM, "SIGALRM"},
      {SIGXCPU, "SIGXCPU"},
      {SIGXFSZ, "SIGXFSZ"},
      {SIGUSR1, "SIGUSR1"},
      {SIGUSR2, "SIGUSR2"},
  }};
  for (const auto& [number, name] : kNames) {
    if (number == signal) {
      return name;
    }
  }
  return "signal " + std::to_string(signal);
}

bool makePrivateFolder(const std::string& prefix, std::string& folder) {
  std::error_code error;
  const std::filesystem::path base = std::filesystem::temp_directory_path(error);
  if (error) {
    return false;
  }
  std::string name = (base / (prefix + "XXXXXX")).string();
  // mkdtemp makes it 0700, under a name no one can guess before.
  if (mkdtemp(name.data()) == nullptr) {
    return false;
  }
  folder = name;
  return true;
}

bool isReadOnly(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) != 0 || (st.st_mode & 0222) == 0 || !mayWrite(path);
}

RunResult runCommand(const std::vector<std::string>& args, const std::string& output) {
  if (args.empty()) {
    return notStarted(ENOENT);
  }
  // Everything the child needs is made before the fork.
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (const std::string& arg : args) {
    argv.push_back(const_cast<char*>(arg.c_str()));
  }
  argv.push_back(nullptr);
  const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
  std::array<int, 2> told{-1, -1};  // the exec's errno, when it fails
  if (out < 0 || in < 0 || pipe2(told.data(), O_CLOEXEC) != 0) {
    const int error = errno;
    for (const int fd : {out, in, told[0], told[1]}) {
      if (fd >= 0) {
        close(fd);
      }
    }
    return notStarted(error);
  }
  const pid_t child = fork();
  if (child == 0) {
    setpgid(0, 0);
    if (dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0) {
      _exit(127);
    }
    execvp(argv[0], argv.data());
    const int error = errno;
    [[maybe_unused]] const ssize_t said = write(told[1], &error, sizeof error);
    _exit(127);
  }
  close(out);
  close(in);
  close(told[1]);
  if (child < 0) {
    close(told[0]);
    return notStarted(errno);
  }
  // Both sides set the group, so that it exists before either relies on it.
  setpgid(child, child);
  runningGroup = child;
  if (heldSignal != 0) {
    kill(-child, heldSignal);  // held before the group was known
  }
  int execError = 0;
  ssize_t got = 0;
  do {
    got = read(told[0], &execError, sizeof execError);
  } while (got < 0 && errno == EINTR);
  close(told[0]);
  int status = 0;
  pid_t waited = 0;
  do {
    waited = waitpid(child, &status, 0);
  } while (waited < 0 && errno == EINTR);
  runningGroup = 0;
  if (heldSignal != 0) {
    kill(-child, SIGKILL);  // what the command started and left running
  }
  if (got == static_cast<ssize_t>(sizeof execError)) {
    return notStarted(execError);
  }
  RunResult result;
  result.started = true;
  if (waited < 0) {
    result.error = std::strerror(errno);
  } else if (WIFEXITED(status)) {
    result.status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
  }
  return result;
}

}  // namespace pakforge::platform
