#include "run_program.h"

#include "platform/platform.h"

#include <cstdio>
#include <random>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace pakforge::testing_support {

std::filesystem::path makeTemporaryFolder() {
  std::random_device seed;
  std::mt19937_64 random(seed());
  for (;;) {
    const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                         ("pakforge-test-" + std::to_string(random() % 1000000000));
    if (std::filesystem::create_directory(folder)) {
      return folder;
    }
  }
}

#ifdef _WIN32

namespace {

// Arguments are UTF-8, as pakforge takes them, and go as they are: not as
// the paths the program would open (relative ones stay relative).
std::wstring wide(const std::string& s) {
  return std::filesystem::path(std::u8string(s.begin(), s.end())).wstring();
}

HANDLE openForChild(const std::filesystem::path& path) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

int runProgram(const std::string& program, const std::vector<std::string>& args,
               const std::filesystem::path& folder, const std::filesystem::path& out,
               const std::filesystem::path& err) {
  std::vector<std::string> all = {program};
  all.insert(all.end(), args.begin(), args.end());
  std::wstring commandLine = wide(platform::commandLine(all));
  const HANDLE outFile = openForChild(out);
  const HANDLE errFile = out == err ? outFile : openForChild(err);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = INVALID_HANDLE_VALUE;
  startup.hStdOutput = outFile;
  startup.hStdError = errFile;
  PROCESS_INFORMATION process{};
  const std::wstring programPath = std::filesystem::absolute(wide(program)).wstring();
  // A process that could not be created (wine on a loaded machine, now and
  // then) is the machine's failure, not the program's: it is tried again a
  // few times, and said when it stays.
  BOOL started = FALSE;
  DWORD error = 0;
  for (int attempt = 0; attempt < 3 && !started; ++attempt) {
    started = CreateProcessW(programPath.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0,
                             nullptr, folder.c_str(), &startup, &process);
    error = started ? 0 : GetLastError();
  }
  CloseHandle(outFile);
  if (errFile != outFile) {
    CloseHandle(errFile);
  }
  if (!started) {
    std::fprintf(stderr, "runProgram: %s could not be started (error %lu)\n", program.c_str(),
                 static_cast<unsigned long>(error));
    return -1;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return static_cast<int>(code);
}

bool isPosix() {
  return false;
}

bool isRoot() {
  return false;
}

unsigned setUmask(unsigned) {
  return 0;
}

bool makeNamedPipe(const std::filesystem::path&) {
  return false;
}

#else

int runProgram(const std::string& program, const std::vector<std::string>& args,
               const std::filesystem::path& folder, const std::filesystem::path& out,
               const std::filesystem::path& err) {
  std::vector<char*> argv;
  std::vector<std::string> all = {program};
  all.insert(all.end(), args.begin(), args.end());
  for (std::string& arg : all) {
    argv.push_back(arg.data());
  }
  argv.push_back(nullptr);
  const pid_t child = fork();
  if (child < 0) {
    return -1;
  }
  if (child == 0) {
    const int in = open("/dev/null", O_RDONLY);
    const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int e = out == err ? o : open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || o < 0 || e < 0 || chdir(folder.c_str()) != 0 || dup2(in, 0) < 0 ||
        dup2(o, 1) < 0 || dup2(e, 2) < 0) {
      _exit(127);
    }
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
    return -1;
  }
  return WEXITSTATUS(status);
}

bool isPosix() {
  return true;
}

bool isRoot() {
  return geteuid() == 0;
}

unsigned setUmask(unsigned mask) {
  return ::umask(static_cast<mode_t>(mask));
}

bool makeNamedPipe(const std::filesystem::path& path) {
  return mkfifo(path.c_str(), 0600) == 0;
}

#endif

}  // namespace pakforge::testing_support
