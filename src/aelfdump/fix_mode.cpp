#include "aelfdump/fix_mode.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <system_error>

#include "contract/firmware_contract.h"
#include "driver/build_image.h"
#include "fix/link_command.h"
#include "fix/script_fixes.h"
#include "fix/unified_diff.h"
#include "format/input_file.h"
#include "ldscript/script.h"
#include "linkdiag/link_diagnosis.h"
#include "output/output_file.h"
#include "platform/platform.h"

namespace pakforge::aelfdump {
namespace {

namespace fs = std::filesystem;
using fix::ScriptFile;

constexpr int kMaxRounds = 4;
// INCLUDEs nest; a file that includes itself must not run forever.
constexpr std::size_t kMaxFiles = 64;

bool readText(const std::string& path, std::string& text) {
  std::ifstream in;
  if (!openInputFile(path, std::ios::binary, in)) {
    return false;
  }
  std::ostringstream all;
  all << in.rdbuf();
  text = all.str();
  return !in.bad();
}

std::string folderOf(const std::string& path) {
  const std::size_t separator = platform::lastSeparator(path);
  return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

// Where the linker finds an INCLUDEd file: where it is named (from the
// current folder), on the -L folders, then beside the file that includes it.
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

// The script and every file it INCLUDEs, read: 0, or the exit status after
// saying why not.
int readFiles(const std::string& script, const fix::LinkCommand& command,
              std::vector<ScriptFile>& files) {
  std::string text;
  if (!readText(script, text)) {
    std::cerr << "aelfdump: can't open '" << script << "'\n";
    return 1;
  }
  files.push_back({script, "", text, text});
  for (std::size_t i = 0; i < files.size(); ++i) {
    ldscript::Script parsed;
    ldscript::ParseError error;
    if (!ldscript::parseScript(files[i].text, parsed, error)) {
      std::cerr << "aelfdump: " << files[i].path << ":" << ldscript::errorText(error)
                << "\naelfdump: --fix edits only scripts it can read whole; nothing was changed\n";
      return kScriptNotEditable;
    }
    for (const std::string& name : parsed.includes) {
      const bool known = std::any_of(files.begin(), files.end(),
                                     [&name](const ScriptFile& f) { return f.included == name; });
      if (known) {
        continue;
      }
      const std::string found = findInclude(name, command.libraryPaths, files[i].path);
      if (found.empty()) {
        std::cerr << "aelfdump: " << files[i].path << " includes '" << name
                  << "', which is neither where it is named nor on the link command's -L "
                     "folders\n";
        return 1;
      }
      if (files.size() >= kMaxFiles || !readText(found, text)) {
        std::cerr << "aelfdump: can't read '" << found << "', which " << files[i].path
                  << " includes\n";
        return 1;
      }
      files.push_back({found, name, text, text});
    }
  }
  return 0;
}

// A folder of the run's own under the system's temporary folder.
bool makeWorkFolder(fs::path& folder) {
  std::error_code error;
  const fs::path base = fs::temp_directory_path(error);
  if (error) {
    return false;
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    folder = base / ("aelfdump-fix-" + std::to_string(platform::processId()) + "-" +
                     std::to_string(attempt));
    if (fs::create_directory(folder, error) && !error) {
      return true;
    }
  }
  return false;
}

// The file as the link reads it: its INCLUDEs name the copies.
std::string forLink(const ScriptFile& file, const std::vector<ScriptFile>& files,
                    const std::vector<std::string>& copies) {
  ldscript::Script parsed;
  ldscript::ParseError error;
  if (!ldscript::parseScript(file.text, parsed, error)) {
    return file.text;
  }
  std::string text = parsed.text;
  for (std::size_t t = parsed.tokens.size(); t-- > 1;) {
    std::size_t before = t - 1;
    while (before > 0 && parsed.tokens[before].kind == ldscript::TokenKind::space) {
      --before;
    }
    if (parsed.tokenText(before) != "INCLUDE" || before == t) {
      continue;
    }
    std::string name(parsed.tokenText(t));
    if (name.size() >= 2 && name.front() == '"') {
      name = name.substr(1, name.size() - 2);
    }
    for (std::size_t k = 0; k < files.size(); ++k) {
      if (files[k].included == name) {
        text.replace(parsed.tokens[t].begin, parsed.tokens[t].end - parsed.tokens[t].begin,
                     "\"" + copies[k] + "\"");
      }
    }
  }
  return text;
}

bool writeText(const std::string& path, const std::string& text) {
  std::ofstream out(platform::nativePath(path), std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  return static_cast<bool>(out);
}

std::string codesOf(const LinkDiagnosis& d) {
  std::string codes;
  for (const LinkFinding& f : d.findings) {
    const std::string code(f.code());
    if (codes.find(code) == std::string::npos) {
      codes += (codes.empty() ? "" : " ") + code;
    }
  }
  return codes;
}

// Puts every changed file in place of the team's, atomically each; none
// when any of them may not be written.
int writeFiles(const std::vector<ScriptFile>& files) {
  for (const ScriptFile& f : files) {
    if (f.text != f.original && !platform::mayWrite(f.path)) {
      std::cerr << "aelfdump: can't write '" << f.path << "' (read-only): no file was changed\n";
      return kNotWritten;
    }
  }
  for (const ScriptFile& f : files) {
    if (f.text == f.original) {
      continue;
    }
    OutputFile out;
    if (!out.open(f.path) || !out.write(f.text.data(), f.text.size()) || !out.finish()) {
      std::cerr << "aelfdump: can't write '" << f.path << "'\n";
      return kNotWritten;
    }
    std::cout << "wrote " << f.path << "\n";
  }
  return 0;
}

// A message about the fix's own link, with the team's paths in place of
// the fix's folder, which is gone once it ends.
std::string teamPaths(std::string text,
                      std::initializer_list<std::pair<std::string, std::string>> paths) {
  for (const auto& [ours, theirs] : paths) {
    if (theirs.empty()) {
      continue;
    }
    for (std::size_t at = text.find(ours); at != std::string::npos;
         at = text.find(ours, at + theirs.size())) {
      text.replace(at, ours.size(), theirs);
    }
  }
  return text;
}

// The texts of the files as this round links them.
std::vector<std::string> textsOf(const std::vector<ScriptFile>& files) {
  std::vector<std::string> texts;
  texts.reserve(files.size());
  for (const ScriptFile& f : files) {
    texts.push_back(f.text);
  }
  return texts;
}

// The facts of this round's link that the firmware's contract compares;
// false, said, when they can't be read.
bool readRoundFacts(const std::string& elf, const std::vector<ScriptFile>& files,
                    contract::LinkFacts& link, contract::ScriptFacts& scripts) {
  std::string error;
  if (!contract::readLinkFacts(elf, link, error)) {
    std::cerr << "aelfdump: the link's ELF file " << error
              << ": what the firmware relies on can't be checked; nothing of yours was changed\n";
    return false;
  }
  if (!contract::readScriptFacts(textsOf(files), scripts, error)) {
    std::cerr << "aelfdump: the fixed script can't be read again (" << error << ")\n";
    return false;
  }
  return true;
}

std::string breachText(const std::vector<contract::Breach>& breaches) {
  std::string text;
  for (const contract::Breach& b : breaches) {
    text += "  " + std::string(contract::invariantText(b.invariant)) + ": " + b.what + "\n";
  }
  return text;
}

}  // namespace

int fixScript(const std::string& script, const std::vector<std::string>& commandArgs, bool write) {
  if (script.ends_with(".S") || script.ends_with(".s")) {
    std::cerr << "aelfdump: '" << script
              << "' is a source for the C preprocessor: run --fix on the script it makes, and "
                 "carry the changes back\n";
    return kScriptNotEditable;
  }
  fix::LinkCommand command;
  std::string error;
  if (platform::fileKind(script) != platform::FileKind::regular) {
    std::cerr << "aelfdump: can't open '" << script << "'\n";
    return 1;
  }
  if (!fix::readLinkCommand(commandArgs, script, command, error)) {
    std::cerr << "aelfdump: " << error << "\n";
    return 2;
  }
  std::vector<ScriptFile> files;
  if (const int status = readFiles(script, command, files); status != 0) {
    return status;
  }
  fs::path work;
  if (!makeWorkFolder(work)) {
    std::cerr << "aelfdump: can't make a folder for the fix's links\n";
    return 1;
  }
  const auto path = [&work](const std::string& name) { return (work / name).string(); };
  std::vector<std::string> copies;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const fs::path name = platform::nativePath(files[i].path).filename();
    copies.push_back(path(std::to_string(i) + "-" + name.string()));
  }
  const std::string map = path("output.map");
  const std::string elf = path("output.elf");
  const std::string log = path("link.txt");
  bool noPageAlign = false;
  int status = kNotFixed;
  std::string verdictText;
  std::string left;
  // The team's link as it came, which every fixed link must keep the
  // firmware's meaning of.
  contract::LinkFacts firstLink;
  contract::ScriptFacts firstScripts;
  std::string breaches;
  for (int round = 1; round <= kMaxRounds; ++round) {
    const auto unwritten = std::find_if(files.begin(), files.end(), [&](const ScriptFile& f) {
      const std::size_t i = static_cast<std::size_t>(&f - files.data());
      return !writeText(copies[i], forLink(f, files, copies));
    });
    if (unwritten != files.end()) {
      std::cerr << "aelfdump: can't write the copy of '" << unwritten->path << "' in "
                << work.string() << "\n";
      status = 1;
      break;
    }
    const std::vector<std::string> args =
        fix::commandFor(command, copies.front(), map, elf, noPageAlign);
    const int linked = platform::runCommand(args, log);
    std::string linkOutput;
    readText(log, linkOutput);
    if (linked != 0) {
      std::cout << "round " << round << ": the link fails (status " << linked << "):\n"
                << linkOutput;
      if (round == 1) {
        std::cerr << "aelfdump: the link command fails before any fix: fix what the linker says "
                     "first\n";
        status = kLinkFailsFirst;
      } else {
        std::cerr << "aelfdump: the linker refuses the script the fixes of round " << round - 1
                  << " made; nothing was changed\n";
        status = kNotFixed;
      }
      break;
    }
    contract::LinkFacts link;
    contract::ScriptFacts scripts;
    if (!readRoundFacts(elf, files, link, scripts)) {
      status = kNotFixed;
      break;
    }
    if (round == 1) {
      firstLink = link;
      firstScripts = scripts;
    }
    const LinkDiagnosis d = diagnoseLink(map, elf);
    const BuildPreview verdict = previewBuild(d);
    if (verdict.result == BuildResult::ok) {
      const std::string codes = codesOf(d);
      const std::vector<contract::Breach> broken =
          contract::checkContract(firstLink, firstScripts, link, scripts);
      std::cout << "round " << round << ": pakforge builds a correct image";
      if (broken.empty()) {
        std::cout << (codes.empty() ? "" : " (warnings left: " + codes + ")") << "\n";
        status = 0;
        break;
      }
      // An exact image of a firmware that would not run is no success.
      breaches = breachText(broken);
      std::cout << ", but the firmware would not run as your link's does:\n" << breaches;
      verdictText.clear();
      left = codes;
    } else {
      breaches.clear();
      verdictText = teamPaths(verdict.message, {{elf, command.elf}, {map, command.map}});
      left = codesOf(d);
      std::cout << "round " << round << ": " << left << "\n";
    }
    if (round == kMaxRounds) {
      break;
    }
    const fix::RoundEdits edits = fix::applyFixes(d, files);
    for (const fix::RoundEdits::Change& change : edits.changes) {
      std::string codes;
      for (const std::string& code : change.codes) {
        codes += (codes.empty() ? "" : " ") + code;
      }
      std::cout << "  " << codes << ": " << change.what << "\n";
    }
    const bool newFlag = edits.noPageAlign && !noPageAlign && !command.hasNoPageAlign;
    if (newFlag) {
      std::cout << "  PF401 PF402: linked with -n (no page alignment of segments)\n";
      noPageAlign = true;
    }
    if (!edits.error.empty()) {
      std::cerr << "aelfdump: " << edits.error << "\n";
      break;
    }
    if (edits.changes.empty() && !newFlag) {
      break;
    }
  }
  // What changed, whatever the outcome: the diff of every file.
  for (const ScriptFile& f : files) {
    std::cout << fix::unifiedDiff(f.original, f.text, f.path);
  }
  if (status == 0) {
    if (noPageAlign) {
      std::cout << "the link command needs " << (command.driver ? "-Wl,-n" : "-n")
                << " (no page alignment of segments)\n";
    }
    const std::string teamMap = command.map.empty() ? "MAP" : command.map;
    const std::string teamElf = command.elf.empty() ? "ELF" : command.elf;
    std::cout << "pakforge -m " << platform::shellQuoted(teamMap) << " -f "
              << platform::shellQuoted(teamElf) << " -c CFG.bin -r RES.bin -o IMAGE.alf\n";
    if (write) {
      status = writeFiles(files);
    } else if (std::any_of(files.begin(), files.end(),
                           [](const ScriptFile& f) { return f.text != f.original; })) {
      std::cout << "nothing of yours was changed: --write puts the fixed files in place\n";
    }
  } else if (status == kNotFixed && !breaches.empty()) {
    std::cout << "not fixed: the last link breaks what the firmware relies on:\n" << breaches;
    std::cerr << "aelfdump: no edit of --fix keeps the firmware's meaning here; nothing of "
                 "yours was changed\n";
  } else if (status == kNotFixed && !verdictText.empty()) {
    std::cout << "not fixed: pakforge still refuses the link: " << verdictText << "\n"
              << "left to you: " << left << " (aelfdump --explain CODE says what each needs)\n";
    std::cerr << "aelfdump: the script still needs changes no edit of --fix makes; nothing of "
                 "yours was changed\n";
  }
  std::error_code ignored;
  fs::remove_all(work, ignored);
  return status;
}

}  // namespace pakforge::aelfdump
