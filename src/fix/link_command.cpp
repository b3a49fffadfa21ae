#include "fix/link_command.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string_view>

#include "platform/platform.h"

namespace pakforge::fix {
namespace {

std::string folderOf(const std::string& path) {
  const std::size_t separator = platform::lastSeparator(path);
  return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

// What the linker options of a command name, and what to put in their
// place when the command is run for the fix.
struct Rewrite {
  const std::string* scriptCopy = nullptr;
  const std::string* elf = nullptr;
  const std::vector<std::string>* fixedScripts = nullptr;
};

// Which option a linker argument is, when it takes a value.
enum class Takes { nothing, script, output, map, libraryPath };

// What the program is by its name's words ("arm-none-eabi-gcc-12" holds
// gcc, "ld.lld" is a linker), not by the letters in it: "build.sh" names
// neither.
ProgramKind kindByName(std::string_view program) {
  const std::size_t slash = program.find_last_of("/\\");
  std::string_view name = slash == std::string_view::npos ? program : program.substr(slash + 1);
  if (name.ends_with(".exe")) {
    name.remove_suffix(4);
  }
  static constexpr std::array<std::string_view, 6> kDrivers = {"gcc", "g++",   "cc",
                                                               "c++", "clang", "clang++"};
  static constexpr std::array<std::string_view, 9> kLinkers = {
      "ld", "ld.bfd", "ld.gold", "ld.lld", "lld", "gold", "mold", "ld.mold", "ld64.lld"};
  ProgramKind kind = ProgramKind::unknown;
  for (std::size_t at = 0; at <= name.size();) {
    const std::size_t dash = std::min(name.find('-', at), name.size());
    const std::string_view word = name.substr(at, dash - at);
    if (std::find(kDrivers.begin(), kDrivers.end(), word) != kDrivers.end()) {
      return ProgramKind::driver;
    }
    if (std::find(kLinkers.begin(), kLinkers.end(), word) != kLinkers.end()) {
      kind = ProgramKind::linker;
    }
    at = dash + 1;
  }
  return kind;
}

// What the program is by what it is given: options only a compiler driver
// takes, or only a linker. Unknown when it is given both or neither.
ProgramKind kindByArguments(const std::vector<std::string>& args) {
  static constexpr std::array<std::string_view, 11> kDriverOnly = {
      "-Wl,",   "-Xlinker", "-mcpu=",   "-march=",   "-mthumb",  "-mfloat-abi=",
      "-mfpu=", "-specs=",  "--specs=", "--target=", "-fuse-ld="};
  static constexpr std::array<std::string_view, 6> kLinkerOnly = {
      "-Map", "--Map", "--gc-sections", "--start-group", "--print-memory-usage", "-EL"};
  bool driver = false;
  bool linker = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    const auto starts = [arg](std::string_view prefix) { return arg.starts_with(prefix); };
    driver = driver || std::any_of(kDriverOnly.begin(), kDriverOnly.end(), starts);
    linker = linker || std::any_of(kLinkerOnly.begin(), kLinkerOnly.end(), starts);
  }
  return driver == linker ? ProgramKind::unknown
         : driver         ? ProgramKind::driver
                          : ProgramKind::linker;
}

// -Ttext=, -Tdata=, -Tbss= and -Ttext-segment= set addresses; they name no
// script.
bool isAddressOption(std::string_view arg) {
  for (const std::string_view prefix : {"-Ttext", "-Tdata", "-Tbss", "-Tldata"}) {
    if (arg.starts_with(prefix)) {
      return true;
    }
  }
  return false;
}

class Walk {
 public:
  Walk(LinkCommand& info, const Rewrite* rewrite) : info_(info), rewrite_(rewrite) {}

  // One argument the linker sees; empty when it is to be dropped.
  std::optional<std::string> linkerArg(const std::string& arg);
  // One argument the driver sees.
  std::vector<std::string> driverArg(const std::string& arg, std::size_t at);
  bool pending() const { return takes_ != Takes::nothing; }
  std::size_t index = 0;

 private:
  LinkCommand& info_;
  const Rewrite* rewrite_;
  Takes takes_ = Takes::nothing;

  std::optional<std::string> value(Takes what, const std::string& value, const std::string& lead);
};

std::optional<std::string> Walk::value(Takes what, const std::string& v, const std::string& lead) {
  switch (what) {
    case Takes::script:
      info_.scripts.push_back(v);
      if (rewrite_ != nullptr &&
          std::find(rewrite_->fixedScripts->begin(), rewrite_->fixedScripts->end(), v) !=
              rewrite_->fixedScripts->end()) {
        return lead + *rewrite_->scriptCopy;
      }
      return lead + v;
    case Takes::output:
      info_.elf = v;
      return rewrite_ != nullptr ? lead + *rewrite_->elf : lead + v;
    case Takes::map:
      info_.map = v;
      if (rewrite_ != nullptr) {
        return std::nullopt;  // the fix's own map is added at the end
      }
      return lead + v;
    case Takes::libraryPath:
      info_.libraryPaths.push_back(v);
      return lead + v;
    case Takes::nothing:
      break;
  }
  return lead + v;
}

std::optional<std::string> Walk::linkerArg(const std::string& arg) {
  if (takes_ != Takes::nothing) {
    const Takes what = takes_;
    takes_ = Takes::nothing;
    // The option itself was dropped with the map; so is its value.
    if (what == Takes::map && rewrite_ != nullptr) {
      info_.map = arg;
      return std::nullopt;
    }
    return value(what, arg, "");
  }
  const std::string_view a = arg;
  if (a == "-T" || a == "--script" || a == "-dT" || a == "--default-script") {
    takes_ = Takes::script;
    return arg;
  }
  if (a == "-o" || a == "--output") {
    takes_ = Takes::output;
    return arg;
  }
  if (a == "-Map" || a == "--Map") {
    takes_ = Takes::map;
    return rewrite_ != nullptr ? std::nullopt : std::optional<std::string>(arg);
  }
  if (a == "-L" || a == "--library-path") {
    takes_ = Takes::libraryPath;
    return arg;
  }
  if (a == "-n" || a == "--nmagic") {
    info_.hasNoPageAlign = true;
    return arg;
  }
  for (const std::string_view lead : {"--script=", "--default-script="}) {
    if (a.starts_with(lead)) {
      return value(Takes::script, arg.substr(lead.size()), std::string(lead));
    }
  }
  if (a.starts_with("-T") && !isAddressOption(a)) {
    return value(Takes::script, arg.substr(2), "-T");
  }
  if (a.starts_with("--output=")) {
    return value(Takes::output, arg.substr(9), "--output=");
  }
  if (a.starts_with("-o")) {
    return value(Takes::output, arg.substr(2), "-o");
  }
  for (const std::string_view lead : {"-Map=", "--Map="}) {
    if (a.starts_with(lead)) {
      return value(Takes::map, arg.substr(lead.size()), std::string(lead));
    }
  }
  if (a.starts_with("--library-path=")) {
    return value(Takes::libraryPath, arg.substr(15), "--library-path=");
  }
  if (a.starts_with("-L")) {
    return value(Takes::libraryPath, arg.substr(2), "-L");
  }
  return arg;
}

std::vector<std::string> Walk::driverArg(const std::string& arg, std::size_t at) {
  index = at;
  const std::string_view a = arg;
  if (a.starts_with("-Wl,")) {
    // Each comma-separated piece is a linker argument.
    std::string joined = "-Wl";
    std::size_t kept = 0;
    for (std::size_t from = 4; from <= arg.size();) {
      std::size_t comma = arg.find(',', from);
      if (comma == std::string::npos) {
        comma = arg.size();
      }
      const std::optional<std::string> piece = linkerArg(arg.substr(from, comma - from));
      if (piece) {
        joined += "," + *piece;
        ++kept;
      }
      from = comma + 1;
    }
    return kept == 0 ? std::vector<std::string>() : std::vector<std::string>{joined};
  }
  if (a == "-Xlinker") {
    return {arg};
  }
  if (pending()) {
    // The driver's -T/-o/-L value.
    const std::optional<std::string> piece = linkerArg(arg);
    return piece ? std::vector<std::string>{*piece} : std::vector<std::string>();
  }
  // The driver takes -T, -o and -L itself and passes them on.
  if (a.starts_with("-T") || a.starts_with("-o") || a.starts_with("-L") || a == "-n") {
    const std::optional<std::string> piece = linkerArg(arg);
    return piece ? std::vector<std::string>{*piece} : std::vector<std::string>();
  }
  return {arg};
}

std::vector<std::string> walk(const std::vector<std::string>& args, LinkCommand& info,
                              const Rewrite* rewrite) {
  info.scripts.clear();
  info.libraryPaths.clear();
  std::vector<std::string> out;
  if (args.empty()) {
    return out;
  }
  out.push_back(args.front());
  Walk w(info, rewrite);
  bool xlinker = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    std::vector<std::string> pieces;
    if (!info.driver) {
      w.index = i;
      const std::optional<std::string> piece = w.linkerArg(args[i]);
      if (piece) {
        pieces.push_back(*piece);
      }
    } else if (xlinker) {
      // "-Xlinker ARG": ARG is the linker's.
      w.index = i;
      const std::optional<std::string> piece = w.linkerArg(args[i]);
      if (piece) {
        pieces.push_back(*piece);
      } else if (!out.empty() && out.back() == "-Xlinker") {
        out.pop_back();
      }
      xlinker = false;
    } else {
      pieces = w.driverArg(args[i], i);
      xlinker = args[i] == "-Xlinker";
    }
    out.insert(out.end(), pieces.begin(), pieces.end());
  }
  return out;
}

}  // namespace

bool readLinkCommand(const std::vector<std::string>& args, const std::string& script,
                     ProgramKind kind, LinkCommand& command, std::string& error) {
  command = LinkCommand();
  command.args = args;
  if (args.empty()) {
    error = "no link command after --";
    return false;
  }
  if (kind == ProgramKind::unknown) {
    kind = kindByName(args.front());
  }
  if (kind == ProgramKind::unknown) {
    kind = kindByArguments(args);
  }
  if (kind == ProgramKind::unknown) {
    error = "can't tell whether '" + args.front() +
            "' is a compiler driver (gcc, clang) or a linker (ld, ld.lld): say which with "
            "--driver or --linker before --";
    return false;
  }
  command.driver = kind == ProgramKind::driver;
  walk(args, command, nullptr);
  if (command.scripts.empty()) {
    error = "the link command names no linker script (-T SCRIPT, --script=SCRIPT or -Wl,-T,SCRIPT)";
    return false;
  }
  platform::FileId wanted;
  if (!platform::fileId(script, wanted)) {
    error = "can't open '" + script + "'";
    return false;
  }
  // The linker finds a script where it is named, or on the -L folders.
  for (const std::string& named : command.scripts) {
    std::vector<std::string> candidates = {named};
    for (const std::string& folder : command.libraryPaths) {
      candidates.push_back(folder + "/");
      candidates.back().append(named);
    }
    for (const std::string& candidate : candidates) {
      platform::FileId id;
      if (platform::fileId(candidate, id)) {
        if (id == wanted) {
          command.fixedScripts.push_back(named);
        }
        break;
      }
    }
  }
  if (command.fixedScripts.empty()) {
    error = "the link command does not name '" + script + "': its linker script";
    error +=
        command.scripts.size() == 1 ? " is '" + command.scripts.front() + "'" : "s are other files";
    return false;
  }
  return true;
}

std::vector<std::string> commandFor(const LinkCommand& command, const std::string& scriptCopy,
                                    const std::string& map, const std::string& elf,
                                    bool noPageAlign) {
  LinkCommand info;
  info.driver = command.driver;
  const Rewrite rewrite{&scriptCopy, &elf, &command.fixedScripts};
  std::vector<std::string> out = walk(command.args, info, &rewrite);
  if (info.elf.empty()) {
    out.push_back("-o");
    out.push_back(elf);
  }
  out.push_back(command.driver ? "-Wl,-Map=" + map : "-Map=" + map);
  if (noPageAlign && !command.hasNoPageAlign) {
    out.push_back(command.driver ? "-Wl,-n" : "-n");
  }
  return out;
}

std::string findInclude(const std::string& name, const std::vector<std::string>& folders,
                        const std::string& includer) {
  std::vector<std::string> candidates = {name};
  for (const std::string& folder : folders) {
    candidates.push_back(folder + "/");
    candidates.back().append(name);
  }
  candidates.push_back(folderOf(includer) + name);
  for (const std::string& candidate : candidates) {
    if (platform::fileKind(candidate) == platform::FileKind::regular) {
      return candidate;
    }
  }
  return {};
}

}  // namespace pakforge::fix
