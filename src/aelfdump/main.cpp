// aelfdump: prints what an AELF image holds, as text or as one JSON object.
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "aelfdump/fix_mode.h"
#include "aelfdump/image_mode.h"
#include "aelfdump/link_mode.h"
#include "platform/platform.h"

namespace {

constexpr std::string_view kUsage =
    "usage: aelfdump [--json] [--elf ELF] IMAGE\n"
    "       aelfdump [--json] --link MAP ELF [--script SCRIPT]\n"
    "       aelfdump --explain CODE\n"
    "       aelfdump --fix SCRIPT [--write] -- LINK COMMAND...\n"
    "       aelfdump --help | --version\n";

struct Arguments {
  bool json = false;
  bool help = false;
  bool version = false;
  bool link = false;
  std::optional<std::string> fix;
  bool write = false;
  // What the link command's program is, when its name and options don't
  // tell: --driver or --linker.
  pakforge::fix::ProgramKind program = pakforge::fix::ProgramKind::unknown;
  // After --fix SCRIPT and "--": the link command.
  std::vector<std::string> command;
  std::optional<std::string> elf;
  std::optional<std::string> script;  // with --link: the script the link was made with
  std::optional<std::string> explain;
  std::vector<std::string> positional;
  std::string error;  // what is wrong with them, if anything
};

// Options may stand before or after the paths; "--" ends them.
Arguments parseArguments(const std::vector<std::string>& args) {
  Arguments a;
  bool options = true;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (!options || arg.size() < 2 || arg[0] != '-') {
      a.positional.emplace_back(arg);
    } else if (arg == "--" && a.fix) {
      a.command.assign(args.begin() + static_cast<long>(i) + 1, args.end());
      break;
    } else if (arg == "--") {
      options = false;
    } else if (arg == "--fix" && i + 1 < args.size() && !a.fix) {
      a.fix = args[++i];
    } else if (arg == "--fix") {
      a.error = a.fix ? "--fix is given twice" : "--fix needs the linker script to fix";
    } else if (arg == "--write") {
      a.write = true;
    } else if (arg == "--driver" || arg == "--linker") {
      const auto said = arg == "--driver" ? pakforge::fix::ProgramKind::driver
                                          : pakforge::fix::ProgramKind::linker;
      if (a.program != pakforge::fix::ProgramKind::unknown && a.program != said) {
        a.error = "--driver and --linker say opposite things";
      }
      a.program = said;
    } else if (arg == "--json") {
      a.json = true;
    } else if (arg == "--help" || arg == "-h") {
      a.help = true;
    } else if (arg == "--version") {
      a.version = true;
    } else if (arg == "--elf" && i + 1 < args.size() && !a.elf) {
      a.elf = args[++i];
    } else if (arg == "--elf") {
      a.error = a.elf ? "--elf is given twice" : "--elf needs the path of an ELF file";
    } else if (arg == "--explain" && i + 1 < args.size() && !a.explain) {
      a.explain = args[++i];
    } else if (arg == "--explain") {
      a.error = a.explain ? "--explain is given twice" : "--explain needs a problem's code";
    } else if (arg == "--link") {
      a.link = true;
    } else if (arg == "--script" && i + 1 < args.size() && !a.script) {
      a.script = args[++i];
    } else if (arg == "--script") {
      a.error = a.script ? "--script is given twice" : "--script needs the linker script's path";
    } else {
      a.error = "unknown option '" + std::string(arg) + "'";
    }
  }
  if (!a.error.empty() || a.help || a.version) {
    return a;
  }
  if (a.fix && (a.link || a.elf || a.json || a.explain || a.script || !a.positional.empty())) {
    a.error = "--fix takes a script, --write and, after --, the link command";
  } else if (a.fix && a.command.empty()) {
    a.error = "--fix needs the link command after --";
  } else if (a.write && !a.fix) {
    a.error = "--write goes with --fix";
  } else if (a.program != pakforge::fix::ProgramKind::unknown && !a.fix) {
    a.error = "--driver and --linker go with --fix";
  } else if (a.explain && (a.link || a.elf || a.json || a.script || !a.positional.empty())) {
    a.error = "--explain takes a code alone";
  } else if (a.explain || a.fix) {
    return a;
  } else if (a.script && !a.link) {
    a.error = "--script goes with --link";
  } else if (a.link && a.elf) {
    a.error = "--link takes the ELF file as its second path, not with --elf";
  } else if (a.link && a.positional.size() != 2) {
    a.error = "--link needs a map file and an ELF file";
  } else if (!a.link && a.positional.size() != 1) {
    a.error = a.positional.empty() ? "no image given" : "more than one image given";
  }
  return a;
}

}  // namespace

int main(int argc, char** argv) {
  pakforge::platform::setUpConsole();
  const Arguments a = parseArguments(pakforge::platform::arguments(argc, argv));
  if (a.help) {
    std::cout << kUsage;
    return 0;
  }
  if (a.version) {
    std::cout << "aelfdump v1.0.2\n";
    return 0;
  }
  if (!a.error.empty()) {
    std::cerr << "aelfdump: " << a.error << "\n" << kUsage;
    return 2;
  }
  if (a.explain) {
    return pakforge::aelfdump::explainRule(*a.explain);
  }
  if (a.fix) {
    return pakforge::aelfdump::fixScript(*a.fix, a.command, {a.write, a.program});
  }
  if (a.link) {
    return pakforge::aelfdump::dumpLink(a.positional[0], a.positional[1], a.json,
                                        a.script.value_or(""));
  }
  return pakforge::aelfdump::dumpImage(a.positional.front(), a.json, a.elf);
}
