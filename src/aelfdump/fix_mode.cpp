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
// INCLUDEs nest, without cycles; a script of more files than this is no
// script a team writes by hand.
constexpr std::size_t kMaxFiles = 64;

// "a.ld includes b.ld, which includes a.ld": the chain of INCLUDEs from
// the file that is included again, through `file`, back to it.
std::string includeCycle(const std::vector<ScriptFile>& files,
                         const std::vector<std::size_t>& parents, std::size_t file,
                         std::size_t again) {
  std::vector<std::size_t> chain = {file};
  while (chain.back() != again) {
    chain.push_back(parents[chain.back()]);
  }
  std::string text = files[again].path;
  for (std::size_t k = chain.size() - 1; k-- > 0;) {
    text += (k + 2 == chain.size() ? " includes " : ", which includes ") + files[chain[k]].path;
  }
  return text + (chain.size() > 1 ? ", which includes " : " includes ") + files[again].path;
}

// The script and every file it INCLUDEs, read: 0, or the exit status after
// saying why not.
int readFiles(const std::string& script, const fix::LinkCommand& command,
              std::vector<ScriptFile>& files) {
  std::string text;
  platform::FileId id;
  if (!readWholeFile(script, text) || !platform::fileId(script, id)) {
    std::cerr << "aelfdump: can't open '" << script << "'\n";
    return 1;
  }
  files.push_back({script, "", text, text});
  // What includes each file, and which file each is, for the cycles.
  std::vector<std::size_t> parents = {0};
  std::vector<platform::FileId> ids = {id};
  for (std::size_t i = 0; i < files.size(); ++i) {
    ldscript::Script parsed;
    ldscript::ParseError error;
    if (!ldscript::parseScript(files[i].text, parsed, error)) {
      std::cerr << "aelfdump: " << files[i].path << ":" << ldscript::errorText(error)
                << "\naelfdump: --fix edits only scripts it can read whole; nothing was changed\n";
      return kScriptNotEditable;
    }
    for (const std::string& name : parsed.includes) {
      const std::string found = fix::findInclude(name, command.libraryPaths, files[i].path);
      if (found.empty()) {
        std::cerr << "aelfdump: " << files[i].path << " includes '" << name
                  << "', which is neither where it is named nor on the link command's -L "
                     "folders\n";
        return 1;
      }
      // A file that includes itself, or one that includes it, never ends
      // for the linker either.
      platform::FileId foundId;
      platform::fileId(found, foundId);
      for (std::size_t up = i;; up = parents[up]) {
        if (ids[up] == foundId) {
          std::cerr << "aelfdump: there is a cycle in the script's INCLUDEs: "
                    << includeCycle(files, parents, i, up) << "\n";
          return kScriptNotEditable;
        }
        if (up == 0) {
          break;
        }
      }
      const bool known = std::any_of(files.begin(), files.end(),
                                     [&name](const ScriptFile& f) { return f.included == name; });
      if (known) {
        continue;
      }
      if (files.size() >= kMaxFiles || !readWholeFile(found, text)) {
        std::cerr << "aelfdump: can't read '" << found << "', which " << files[i].path
                  << " includes\n";
        return 1;
      }
      files.push_back({found, name, text, text});
      parents.push_back(i);
      ids.push_back(foundId);
    }
  }
  return 0;
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

// The text with every line end that an edit wrote (a bare LF) in the
// file's own form: a file whose every line ends in CR LF keeps that form.
std::string inFileForm(const std::string& original, const std::string& text) {
  const std::size_t lines =
      static_cast<std::size_t>(std::count(original.begin(), original.end(), '\n'));
  std::size_t crlf = 0;
  for (std::size_t at = original.find("\r\n"); at != std::string::npos;
       at = original.find("\r\n", at + 2)) {
    ++crlf;
  }
  if (lines == 0 || crlf != lines) {
    return text;
  }
  std::string out;
  out.reserve(text.size() + text.size() / 32);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) {
      out += '\r';
    }
    out += text[i];
  }
  return out;
}

// Puts every changed file in place of the team's, atomically each; none
// when any of them may not be written, or holds other bytes than --fix read
// (an edit saved while it linked): the fix was proved on what was read.
int writeFiles(const std::vector<ScriptFile>& files) {
  for (const ScriptFile& f : files) {
    std::string now;
    if (!readWholeFile(f.path, now) || now != f.original) {
      std::cerr << "aelfdump: '" << f.path
                << "' changed while --fix ran: no file was changed; run --fix again on what it "
                   "holds now\n";
      return kNotWritten;
    }
    if (f.text != f.original && platform::isReadOnly(f.path)) {
      std::cerr << "aelfdump: can't write '" << f.path << "' (read-only): no file was changed\n";
      return kNotWritten;
    }
  }
  for (const ScriptFile& f : files) {
    if (f.text == f.original) {
      continue;
    }
    const std::string text = inFileForm(f.original, f.text);
    OutputFile out;
    if (!out.open(f.path) || !out.write(text.data(), text.size()) || !out.finish()) {
      std::cerr << "aelfdump: can't write '" << f.path << "'\n";
      return kNotWritten;
    }
    std::cout << "wrote " << f.path << "\n";
  }
  return 0;
}

// A message about the fix's own link, with the team's paths in place of
// the fix's folder, which is gone once it ends.
using PathPairs = std::vector<std::pair<std::string, std::string>>;
std::string teamPaths(std::string text, const PathPairs& paths) {
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

// What one run of --fix keeps across its rounds.
struct FixRun {
  fix::LinkCommand command;
  std::vector<ScriptFile> files;
  std::string work;  // the private folder of the fix's links
  std::vector<std::string> copies;
  std::string map, elf, log;
  bool noPageAlign = false;
  // The changes made, by what they do to the firmware's addresses.
  int safeChanges = 0;
  int layoutChanges = 0;
  // The team's link as it came, which every fixed link must keep the
  // firmware's meaning of.
  bool linkedOnce = false;
  contract::LinkFacts firstLink;
  contract::ScriptFacts firstScripts;
  // The last link's verdict, for the closing lines: pakforge's refusal and
  // the codes left, or what the link breaks of the firmware's contract.
  std::string verdictText, left, breaches;
  // Which edit each rule takes, and what stood before the last round's
  // edits: when they change nothing for their findings, they are undone
  // and the next edits made in their place.
  fix::EditChoices choices;
  struct BeforeEdits {
    std::vector<ScriptFile> files;
    bool noPageAlign = false;
    int safeChanges = 0, layoutChanges = 0;
    LinkDiagnosis diagnosis;
    std::string findings;
  } beforeEdits;

  std::string path(const std::string& name) const {
    return (platform::nativePath(work) / name).string();
  }
  // The fix's paths in a message, as the team knows them.
  PathPairs teamNames() const {
    PathPairs pairs = {{elf, command.elf}, {map, command.map}};
    for (std::size_t i = 0; i < files.size(); ++i) {
      pairs.emplace_back(copies[i], files[i].path);
    }
    return pairs;
  }
};

// The checks before any link: the script, the command, the files it
// INCLUDEs, the private folder. 0, or the status, said.
int prepare(const std::string& script, const std::vector<std::string>& commandArgs,
            const FixOptions& options, FixRun& run) {
  if (script.ends_with(".S") || script.ends_with(".s")) {
    std::cerr << "aelfdump: '" << script
              << "' is a source for the C preprocessor: run --fix on the script it makes, and "
                 "carry the changes back\n";
    return kScriptNotEditable;
  }
  std::string error;
  if (platform::fileKind(script) != platform::FileKind::regular) {
    std::cerr << "aelfdump: can't open '" << script << "'\n";
    return 1;
  }
  if (!fix::readLinkCommand(commandArgs, script, options.program, run.command, error)) {
    std::cerr << "aelfdump: " << error << "\n";
    return 2;
  }
  if (const int status = readFiles(script, run.command, run.files); status != 0) {
    return status;
  }
  // Private: the copies are the team's scripts, which no other user of the
  // machine may read.
  if (!platform::makePrivateFolder("aelfdump-fix-", run.work)) {
    std::cerr << "aelfdump: can't make a folder for the fix's links\n";
    return 1;
  }
  for (std::size_t i = 0; i < run.files.size(); ++i) {
    const fs::path name = platform::nativePath(run.files[i].path).filename();
    run.copies.push_back(run.path(std::to_string(i) + "-" + name.string()));
  }
  run.map = run.path("output.map");
  run.elf = run.path("output.elf");
  run.log = run.path("link.txt");
  return 0;
}

// What stopped a link, in words.
std::string linkFailure(const platform::RunResult& result, const std::string& program) {
  if (!result.started && result.notFound) {
    return "the link command's program '" + program + "' is not found";
  }
  if (!result.started) {
    return "the link command's program '" + program + "' can't be run (" + result.error + ")";
  }
  if (result.signal != 0) {
    return "the link was ended by " + platform::signalName(result.signal);
  }
  if (result.status < 0) {
    return "the link's end can't be known (" + result.error + ")";
  }
  return "the link fails (status " + std::to_string(result.status) + ")";
}

constexpr std::string_view kSafe = " (safe)";
constexpr std::string_view kMovesLayout = " (moves the layout)";

// Says the changes of a round's edits, each with what it does to the
// addresses the firmware sees, and counts them; false when there are none.
bool sayChanges(const fix::RoundEdits& edits, FixRun& run) {
  for (const fix::RoundEdits::Change& change : edits.changes) {
    std::string codes;
    for (const std::string& code : change.codes) {
      codes += (codes.empty() ? "" : " ") + code;
    }
    std::cout << "  " << (codes.empty() ? "" : codes + ": ") << change.what
              << (change.movesLayout ? kMovesLayout : kSafe) << "\n";
    ++(change.movesLayout ? run.layoutChanges : run.safeChanges);
  }
  return !edits.changes.empty();
}

// How a round's link ended: it linked (its warnings shown), the linker's
// refusal was answered by an edit (the next round links again), or it
// failed, said, with the status set.
enum class LinkEnd { linked, edited, failed };

LinkEnd linkCopies(FixRun& run, int round, int& status) {
  for (std::size_t i = 0; i < run.files.size(); ++i) {
    if (!writeText(run.copies[i], forLink(run.files[i], run.files, run.copies))) {
      std::cerr << "aelfdump: can't write the copy of '" << run.files[i].path << "' in " << run.work
                << "\n";
      status = 1;
      return LinkEnd::failed;
    }
  }
  const platform::RunResult result = platform::runCommand(
      fix::commandFor(run.command, run.copies.front(), run.map, run.elf, run.noPageAlign), run.log);
  if (platform::heldInterrupt() != 0) {
    return LinkEnd::failed;
  }
  std::string output;
  readWholeFile(run.log, output);
  output = teamPaths(output, run.teamNames());
  const bool linked = result.started && result.signal == 0 && result.status == 0;
  if (linked) {
    if (!output.empty()) {
      std::cout << "round " << round << ": the linker warns:\n" << output;
    }
    return LinkEnd::linked;
  }
  std::cout << "round " << round << ": " << linkFailure(result, run.command.args.front()) << ":\n"
            << output;
  if (result.started && result.signal == 0 && round < kMaxRounds &&
      sayChanges(fix::fixLinkError(output, run.files), run)) {
    return LinkEnd::edited;
  }
  // The last verdict is this link's: no earlier round's refusal is quoted.
  run.verdictText.clear();
  run.breaches.clear();
  if (!result.started) {
    std::cerr << "aelfdump: the link command can't start: give it as your build runs it (the "
                 "program by a path, or one on PATH)\n";
    status = kLinkFailsFirst;
  } else if (round == 1) {
    std::cerr << "aelfdump: the link command fails before any fix: fix what the linker says "
                 "first\n";
    status = kLinkFailsFirst;
  } else {
    std::cerr << "aelfdump: the linker refuses the script the fixes of round " << round - 1
              << " made; nothing was changed\n";
    status = kNotFixed;
  }
  return LinkEnd::failed;
}

// What a round's link came to.
enum class Verdict { fixed, refused, stop };

// Judges this round's link: pakforge's verdict, then the firmware's
// contract against the first link. `d` is the diagnosis the edits answer.
Verdict judgeLink(FixRun& run, int round, LinkDiagnosis& d, int& status) {
  contract::LinkFacts link;
  contract::ScriptFacts scripts;
  if (!readRoundFacts(run.elf, run.files, link, scripts)) {
    status = kNotFixed;
    return Verdict::stop;
  }
  // The first link that linked is the team's (under LLD, maybe after the
  // edit its refusal asked for, which moves nothing the firmware sees).
  if (!run.linkedOnce) {
    run.linkedOnce = true;
    run.firstLink = link;
    run.firstScripts = scripts;
  }
  // The script as linked, its INCLUDEs with it, read as --link --script
  // reads it, so that the advice and the edits are the same (every round's
  // edits read).
  ScriptSays says;
  for (const ScriptFile& file : run.files) {
    ldscript::Script linked;
    ldscript::ParseError unread;
    if (ldscript::parseScript(file.text, linked, unread)) {
      fix::addScriptSays(linked, says);
    }
  }
  d = diagnoseLink(run.map, run.elf, nullptr, std::move(says));
  const BuildPreview verdict = previewBuild(d);
  run.left = codesOf(d);
  if (verdict.result != BuildResult::ok) {
    run.breaches.clear();
    run.verdictText =
        teamPaths(verdict.message, {{run.elf, run.command.elf}, {run.map, run.command.map}});
    std::cout << "round " << round << ": " << run.left << "\n";
    return Verdict::refused;
  }
  const std::vector<contract::Breach> broken =
      contract::checkContract(run.firstLink, run.firstScripts, link, scripts);
  std::cout << "round " << round << ": pakforge builds a correct image";
  if (broken.empty()) {
    std::cout << (run.left.empty() ? "" : " (warnings left: " + run.left + ")") << "\n";
    status = 0;
    return Verdict::fixed;
  }
  // An exact image of a firmware that would not run is no success.
  run.breaches = breachText(broken);
  run.verdictText.clear();
  std::cout << ", but the firmware would not run as your link's does:\n" << run.breaches;
  return Verdict::refused;
}

// Edits the copies for the next round; false when there is nothing left to
// change, or an edit failed (said).
bool editFiles(FixRun& run, const LinkDiagnosis& d) {
  const fix::RoundEdits edits = fix::applyFixes(d, run.files, run.choices);
  const bool changed = sayChanges(edits, run);
  const bool newFlag = edits.noPageAlign && !run.noPageAlign && !run.command.hasNoPageAlign;
  if (newFlag) {
    std::string codes;
    for (const std::string& code : edits.noPageAlignCodes) {
      codes += (codes.empty() ? "" : " ") + code;
    }
    std::cout << "  " << codes << ": linked with -n (no page alignment of segments)" << kSafe
              << "\n";
    ++run.safeChanges;
    run.noPageAlign = true;
  }
  if (!edits.error.empty()) {
    std::cerr << "aelfdump: " << edits.error << "\n";
    return false;
  }
  return changed || newFlag;
}

// The same findings as the round before: its edits changed nothing the
// linker does, and making them again would not either. They are undone,
// and the rules that have another edit take it; false when none has.
bool takeNextEdits(FixRun& run, int round) {
  FixRun::BeforeEdits& before = run.beforeEdits;
  const std::vector<Rule> next = fix::takeNextEdits(before.diagnosis, run.choices);
  std::cout << "round " << round << ": the same findings as round " << round - 1
            << ": its edits changed nothing for them";
  if (next.empty()) {
    std::cout << ", and no finding has another edit\n";
    return false;
  }
  std::string codes;
  for (const Rule rule : next) {
    codes += std::string(codes.empty() ? "" : " ") + std::string(ruleInfo(rule).code);
  }
  std::cout << "; undone, and the next edit made for " << codes << ":\n";
  run.files = before.files;
  run.noPageAlign = before.noPageAlign;
  run.safeChanges = before.safeChanges;
  run.layoutChanges = before.layoutChanges;
  return editFiles(run, before.diagnosis);
}

// 128 + the signal held while the links ran, said; 0 when none came.
int stopStatus() {
  const int signal = platform::heldInterrupt();
  if (signal == 0) {
    return 0;
  }
  std::cerr << "aelfdump: stopped by " << platform::signalName(signal)
            << ": the link was ended and the fix's folder removed; nothing of yours was "
               "changed\n";
  return 128 + signal;
}

// The diff, the verdict's closing lines, and with `write` the files put in
// place; the fix's folder is removed first.
int finish(FixRun& run, int status, bool write) {
  std::error_code ignored;
  fs::remove_all(platform::nativePath(run.work), ignored);
  // From here an interrupt ends the process as it would anywhere: a file
  // being written is removed (OutputFile).
  platform::releaseInterrupts();
  if (const int stopped = stopStatus(); stopped != 0) {
    return stopped;
  }
  // The diff's header: whether any address the firmware sees moves.
  const bool changed = std::any_of(run.files.begin(), run.files.end(),
                                   [](const ScriptFile& f) { return f.text != f.original; });
  if (changed && run.safeChanges + run.layoutChanges > 0) {
    std::cout << "changes: " << run.safeChanges << " safe, " << run.layoutChanges
              << (run.layoutChanges == 1 ? " moves" : " move")
              << " the layout (addresses the firmware sees)\n";
  }
  for (const ScriptFile& f : run.files) {
    std::cout << fix::unifiedDiff(f.original, f.text, f.path);
  }
  if (status == 0) {
    if (run.noPageAlign) {
      std::cout << "the link command needs " << (run.command.driver ? "-Wl,-n" : "-n")
                << " (no page alignment of segments)\n";
    }
    const std::string teamMap = run.command.map.empty() ? "MAP" : run.command.map;
    const std::string teamElf = run.command.elf.empty() ? "ELF" : run.command.elf;
    std::cout << "pakforge -m " << platform::shellQuoted(teamMap) << " -f "
              << platform::shellQuoted(teamElf) << " -c CFG.bin -r RES.bin -o IMAGE.alf\n";
    if (write) {
      return writeFiles(run.files);
    }
    if (std::any_of(run.files.begin(), run.files.end(),
                    [](const ScriptFile& f) { return f.text != f.original; })) {
      std::cout << "nothing of yours was changed: --write puts the fixed files in place\n";
    }
  } else if (status == kNotFixed && !run.breaches.empty()) {
    std::cout << "not fixed: the last link breaks what the firmware relies on:\n" << run.breaches;
    std::cerr << "aelfdump: no edit of --fix keeps the firmware's meaning here; nothing of "
                 "yours was changed\n";
  } else if (status == kNotFixed && !run.verdictText.empty()) {
    std::cout << "not fixed: pakforge still refuses the link: " << run.verdictText << "\n"
              << "left to you: " << run.left << " (aelfdump --explain CODE says what each needs)\n";
    std::cerr << "aelfdump: the script still needs changes no edit of --fix makes; nothing of "
                 "yours was changed\n";
  }
  return status;
}

}  // namespace

int fixScript(const std::string& script, const std::vector<std::string>& commandArgs,
              const FixOptions& options) {
  FixRun run;
  if (const int status = prepare(script, commandArgs, options, run); status != 0) {
    return status;
  }
  platform::holdInterrupts();
  int status = kNotFixed;
  for (int round = 1; round <= kMaxRounds && platform::heldInterrupt() == 0; ++round) {
    const LinkEnd linked = linkCopies(run, round, status);
    if (linked == LinkEnd::edited) {
      continue;
    }
    if (linked == LinkEnd::failed) {
      break;
    }
    LinkDiagnosis d;
    if (judgeLink(run, round, d, status) != Verdict::refused || round == kMaxRounds) {
      break;
    }
    std::string findings = run.left + "\n" + run.breaches;
    if (findings == run.beforeEdits.findings) {
      if (!takeNextEdits(run, round)) {
        break;
      }
      continue;
    }
    run.beforeEdits = {run.files, run.noPageAlign,    run.safeChanges, run.layoutChanges,
                       d,         std::move(findings)};
    if (!editFiles(run, d)) {
      break;
    }
  }
  return finish(run, status, options.write);
}

}  // namespace pakforge::aelfdump
