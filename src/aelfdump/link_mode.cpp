#include "aelfdump/link_mode.h"

#include <algorithm>
#include <iostream>
#include <string_view>

#include "aelfdump/json_text.h"
#include "driver/build_image.h"
#include "fix/link_command.h"
#include "fix/script_fixes.h"
#include "format/hex_text.h"
#include "format/input_file.h"
#include "ldscript/script.h"
#include "ldscript/script_edit.h"
#include "linkdiag/link_diagnosis.h"

namespace pakforge::aelfdump {
namespace {

std::string lineText(const MapLine& line) {
  return line.found() ? "line " + std::to_string(line.number) + " ('" + line.text + "')"
                      : std::string("no line");
}

std::string_view placeText(SymbolPlace place) {
  switch (place) {
    case SymbolPlace::inRange:
      return "in the code range";
    case SymbolPlace::beforeRange:
      return "before the code range";
    case SymbolPlace::afterRange:
      return "after the code range";
    case SymbolPlace::localOnly:
      return "only a local symbol";
    case SymbolPlace::unchecked:
      return "not checked";
    case SymbolPlace::missing:
      break;
  }
  return "not in the ELF file";
}

std::string spans(const std::vector<FlashSpan>& list) {
  if (list.empty()) {
    return "none";
  }
  std::string text;
  for (const FlashSpan& s : list) {
    text += (text.empty() ? "" : ", ") + (s.section.empty() ? std::string("") : s.section + " ") +
            hexText(s.start) + "-" + hexText(s.end);
  }
  return text;
}

// pakforge's verdict, as the exit status it would end with.
int exitStatus(BuildResult result) {
  return static_cast<int>(result) & 0xFF;
}

// `text` in lines of at most kWidth characters, broken at spaces, every
// line after the first indented by `indent`. A quoted map line ("('...')",
// with the punctuation after it) is never broken: it stands on a line of
// its own, however long, so that it can be read and searched for as the map
// has it.
std::string wrapped(std::string_view text, std::size_t indent) {
  constexpr std::size_t kWidth = 79;
  std::string out;
  std::size_t column = 0;
  bool lineStart = true;    // nothing but the indent on this line yet
  bool afterQuote = false;  // the last unit was a quote: the next starts a line
  const auto newLine = [&] {
    out += '\n';
    out.append(indent, ' ');
    column = indent;
    lineStart = true;
  };
  // The text's own indent stays.
  const std::size_t lead = std::min(text.find_first_not_of(' '), text.size());
  out.append(text.substr(0, lead));
  column = lead;
  text.remove_prefix(lead);
  while (!text.empty()) {
    while (!text.empty() && text.front() == ' ') {
      text.remove_prefix(1);
    }
    if (text.empty()) {
      break;
    }
    std::size_t take = std::min(text.find(' '), text.size());
    const bool quote = text.substr(0, 2) == "('" && text.find("')") != std::string_view::npos;
    if (quote) {
      take = text.find("')") + 2;
      take = std::min(text.find(' ', take), text.size());
    }
    const std::string_view unit = text.substr(0, take);
    text.remove_prefix(take);
    if (!lineStart && (quote || afterQuote || column + 1 + unit.size() > kWidth)) {
      newLine();
    }
    if (!lineStart) {
      out += ' ';
      ++column;
    }
    out.append(unit);
    column += unit.size();
    lineStart = false;
    afterQuote = quote;
  }
  return out + "\n";
}

// An earlier finding whose lines include all of `f`'s, if any.
const LinkFinding* earlierWithLines(const LinkDiagnosis& d, const LinkFinding& f) {
  if (f.lines.empty()) {
    return nullptr;
  }
  for (const LinkFinding& e : d.findings) {
    if (&e == &f) {
      return nullptr;
    }
    const bool all = std::all_of(f.lines.begin(), f.lines.end(), [&e](const std::string& line) {
      return std::find(e.lines.begin(), e.lines.end(), line) != e.lines.end();
    });
    if (all) {
      return &e;
    }
  }
  return nullptr;
}

void printRange(const LinkDiagnosis& d) {
  const auto linker = [](bool lld) { return lld ? " (LLD)" : " (GNU ld)"; };
  std::cout << label("map file") << "'" << d.mapPath << "'" << linker(d.lldMap) << "\n"
            << label("ELF file") << "'" << d.elfPath << "'" << linker(d.lldElf) << "\n"
            << "code range\n";
  const MapOutline& o = d.outline;
  if (d.haveRange) {
    std::cout << "  " << label("map rules", 19) << rangeText(d.rangeStart, d.rangeEnd) << ": from "
              << lineText(o.codeStart) << " to " << lineText(o.rangeEnd)
              << ", before the first line holding .data, " << lineText(o.dataLine) << "\n";
  } else {
    std::cout << "  " << label("map rules", 19) << "no code range (" << lineText(o.codeStart)
              << " is the first holding .text)\n";
  }
  std::cout << "  " << label("ELF flash content", 19) << spans(d.flash) << "\n"
            << "  " << label("outside the range", 19) << spans(d.outside) << "\n"
            << "  " << label("holes", 19) << spans(d.holes) << "\n";
}

void printSymbols(const LinkDiagnosis& d) {
  std::cout << "symbols\n";
  if (!d.symbolsChecked) {
    std::cout << "  the symbols could not be checked: the ELF file has no symbol table\n";
  }
  for (const SymbolFacts& s : d.symbols) {
    std::cout << "  " << label(s.name, 22);
    if (s.elf.defined) {
      std::cout << "ELF " << hexText(s.elf.value) << (s.elf.weak ? " (weak" : " (global")
                << (s.section.empty() ? "" : ", in " + s.section) << "), ";
    } else if (s.elf.local()) {
      std::cout << "ELF " << hexText(s.elf.localValue()) << " (local only), ";
    }
    std::cout << placeText(s.place) << "; map rules "
              << (s.mapFinds ? hexText(s.mapAddress) : std::string("miss it"))
              << (s.mapLine.found() ? ", first at " + lineText(s.mapLine) : "")
              << (s.discarded.found() ? "; discarded by --gc-sections, " + lineText(s.discarded)
                                      : "")
              << "\n";
  }
  if (d.haveRange) {
    std::cout << "file offset\n  " << label("code start", 19) << hexText(d.rangeStart);
    if (d.haveFileOffset) {
      std::cout << " at file offset " << hexText(d.fileOffset, 1);
    }
    std::cout << "; pakforge reads it from " << hexText(d.derivedOffset, 1) << "\n";
  }
}

void printRam(const LinkDiagnosis& d) {
  const RamFacts& r = d.ram;
  const auto used = static_cast<std::int32_t>(r.mapEnd - r.mapStart);
  const auto limit = static_cast<std::int32_t>(RAM_LIMIT - r.mapStart);
  std::cout << "RAM\n  " << label("map rule", 19) << hexText(r.mapStart) << "-" << hexText(r.mapEnd)
            << ": " << used << " of " << limit << " bytes; start from " << lineText(r.startLine)
            << ", highest address from " << lineText(r.endLine) << "\n";
  if (!r.elfKnown) {
    return;
  }
  std::cout << "  " << label("ELF", 19) << hexText(r.elfStart) << " to the end of .bss, "
            << hexText(r.elfBssEnd) << ": " << r.elfBssEnd - r.elfStart << " bytes";
  if (!r.reservations.empty()) {
    std::string names;
    for (const std::string& n : r.reservations) {
      names += (names.empty() ? "" : ", ") + n;
    }
    std::cout << "; with " << names << " to " << hexText(r.elfReservedEnd) << ": "
              << r.elfReservedEnd - r.elfStart << " bytes";
  }
  std::cout << "\n";
}

void printProblems(const LinkDiagnosis& d) {
  std::cout << "problems\n";
  if (d.findings.empty()) {
    std::cout << "  none\n";
  }
  int n = 0;
  for (const LinkFinding& f : d.findings) {
    const std::string number = "  " + std::to_string(++n) + ". ";
    std::cout << wrapped(
        number + "[" + std::string(f.code()) + " " + std::string(f.topic()) + "] " + f.what,
        number.size());
    // Lines an earlier fix writes already are written once: the script
    // needs them once.
    const LinkFinding* earlier = earlierWithLines(d, f);
    std::cout << wrapped(
        std::string(number.size(), ' ') + "fix: " + f.fix +
            (earlier != nullptr ? "; the lines of " + std::string(earlier->code()) + " above do it"
             : f.lines.empty()  ? ""
                                : ":"),
        number.size() + 5);
    for (const std::string& line : earlier != nullptr ? std::vector<std::string>() : f.lines) {
      std::cout << std::string(number.size() + 7, ' ') << line << "\n";
    }
  }
}

void printText(const LinkDiagnosis& d, const BuildPreview& verdict) {
  printRange(d);
  printSymbols(d);
  printRam(d);
  printProblems(d);
  std::cout << label("verdict");
  if (verdict.result == BuildResult::ok) {
    std::cout << "pakforge builds a correct image from this link\n";
  } else {
    std::cout << "pakforge refuses this link (status " << exitStatus(verdict.result)
              << "): " << verdict.message << "\n";
  }
}

std::string jsonLine(const MapLine& line) {
  return line.found() ? "{\"number\": " + std::to_string(line.number) +
                            ", \"text\": " + jsonString(line.text) + "}"
                      : std::string("null");
}

std::string jsonSpans(const std::vector<FlashSpan>& list) {
  std::string text = "[";
  for (const FlashSpan& s : list) {
    text += (text.size() > 1 ? ", " : "") + std::string("{\"section\": ") + jsonString(s.section) +
            ", \"start\": " + std::to_string(s.start) + ", \"end\": " + std::to_string(s.end) + "}";
  }
  return text + "]";
}

void printJson(const LinkDiagnosis& d, const BuildPreview& verdict) {
  const auto linker = [](bool lld) { return lld ? "\"lld\"" : "\"gnu\""; };
  std::cout << "{\"map\": {\"path\": " << jsonString(d.mapPath)
            << ", \"linker\": " << linker(d.lldMap)
            << "}, \"elf\": {\"path\": " << jsonString(d.elfPath)
            << ", \"linker\": " << linker(d.lldElf)
            << "}, \"range\": {\"found\": " << (d.haveRange ? "true" : "false")
            << ", \"start\": " << d.rangeStart << ", \"end\": " << d.rangeEnd
            << ", \"startLine\": " << jsonLine(d.outline.codeStart)
            << ", \"endLine\": " << jsonLine(d.outline.rangeEnd)
            << ", \"dataLine\": " << jsonLine(d.outline.dataLine)
            << "}, \"flash\": " << jsonSpans(d.flash) << ", \"outside\": " << jsonSpans(d.outside)
            << ", \"holes\": " << jsonSpans(d.holes)
            << ", \"symbolsChecked\": " << (d.symbolsChecked ? "true" : "false")
            << ", \"symbols\": [";
  const char* separator = "";
  for (const SymbolFacts& s : d.symbols) {
    std::cout << separator << "{\"name\": " << jsonString(s.name)
              << ", \"elf\": {\"defined\": " << (s.elf.defined ? "true" : "false")
              << ", \"weak\": " << (s.elf.weak ? "true" : "false") << ", \"value\": " << s.elf.value
              << ", \"local\": " << (s.elf.local() ? "true" : "false")
              << ", \"section\": " << jsonString(s.section)
              << "}, \"place\": " << jsonString(placeText(s.place))
              << ", \"map\": {\"found\": " << (s.mapFinds ? "true" : "false")
              << ", \"address\": " << s.mapAddress << ", \"line\": " << jsonLine(s.mapLine)
              << ", \"discarded\": " << jsonLine(s.discarded) << "}}";
    separator = ", ";
  }
  const RamFacts& r = d.ram;
  std::cout << "], \"fileOffset\": {\"known\": " << (d.haveFileOffset ? "true" : "false")
            << ", \"inFile\": " << d.fileOffset << ", \"derived\": " << d.derivedOffset
            << "}, \"ram\": {\"mapStart\": " << r.mapStart << ", \"mapEnd\": " << r.mapEnd
            << ", \"startLine\": " << jsonLine(r.startLine)
            << ", \"endLine\": " << jsonLine(r.endLine)
            << ", \"fits\": " << (r.fits ? "true" : "false") << ", \"elfStart\": " << r.elfStart
            << ", \"elfBssEnd\": " << r.elfBssEnd << ", \"elfReservedEnd\": " << r.elfReservedEnd
            << "}, \"findings\": [";
  separator = "";
  for (const LinkFinding& f : d.findings) {
    std::string lines = "[";
    for (const std::string& line : f.lines) {
      lines += (lines.size() > 1 ? ", " : "") + jsonString(line);
    }
    std::cout << separator << "{\"code\": " << jsonString(f.code())
              << ", \"topic\": " << jsonString(f.topic()) << ", \"what\": " << jsonString(f.what)
              << ", \"fix\": " << jsonString(f.fix) << ", \"lines\": " << lines << "]}";
    separator = ", ";
  }
  std::cout << "], \"verdict\": {\"correctImage\": "
            << (verdict.result == BuildResult::ok ? "true" : "false")
            << ", \"status\": " << exitStatus(verdict.result)
            << ", \"message\": " << jsonString(verdict.message) << "}}\n";
}

}  // namespace

int explainRule(const std::string& code) {
  const RuleInfo* rule = findRule(code);
  if (rule == nullptr) {
    std::cerr << "aelfdump: no problem has the code '" << code << "'; the codes are";
    for (const RuleInfo& info : allRules()) {
      std::cerr << " " << info.code;
    }
    std::cerr << "\n";
    return 2;
  }
  std::cout << rule->code << " (" << rule->topic << "): " << rule->explanation << "\n\n";
  if (fix::hasEdit(rule->rule)) {
    std::cout << "aelfdump --fix makes this change"
              << (rule->fixKind == FixKind::movesLayout
                      ? " (it moves the layout: addresses the firmware sees).\n"
                      : " (safe: it moves no address the firmware sees).\n");
  } else if (rule->fixKind == FixKind::byHand) {
    std::cout << "aelfdump --fix leaves this change to you.\n";
  } else {
    std::cout << "aelfdump --fix has no edit of its own for it: the edits of the problems\n"
                 "found with it fix it where they are its cause.\n";
  }
  return 0;
}

namespace {

// INCLUDEs nest, without cycles; a script of more files than this is no
// script a team writes by hand.
constexpr std::size_t kMaxScriptFiles = 64;

// What the script at `path` and the files it INCLUDEs say
// (fix::addScriptSays): 0, or the exit status after saying why one can't be
// opened (1) or read as a script (10). An INCLUDE found neither where it is
// named nor beside the file that names it (a -L folder of the link's) is
// said, and the advice is what the other files say.
int readScriptSays(const std::string& path, ScriptSays& says) {
  std::vector<std::string> paths = {path};
  for (std::size_t i = 0; i < paths.size(); ++i) {
    std::string text;
    if (!readWholeFile(paths[i], text)) {
      std::cerr << "aelfdump: can't open '" << paths[i] << "'\n";
      return 1;
    }
    ldscript::Script script;
    ldscript::ParseError error;
    if (!ldscript::parseScript(text, script, error)) {
      std::cerr << "aelfdump: " << paths[i] << ":" << ldscript::errorText(error) << "\n";
      return kScriptUnreadable;
    }
    fix::addScriptSays(script, says);
    for (const std::string& name : script.includes) {
      const std::string found = fix::findInclude(name, {}, paths[i]);
      if (found.empty()) {
        std::cerr << "aelfdump: " << paths[i] << " includes '" << name
                  << "', which is neither where it is named nor beside it: the advice does not "
                     "read it\n";
      } else if (std::find(paths.begin(), paths.end(), found) == paths.end() &&
                 paths.size() < kMaxScriptFiles) {
        paths.push_back(found);
      }
    }
  }
  return 0;
}

}  // namespace

int dumpLink(const std::string& mapPath, const std::string& elfPath, bool json,
             const std::string& scriptPath) {
  ScriptSays says;
  if (const int status = scriptPath.empty() ? 0 : readScriptSays(scriptPath, says); status != 0) {
    return status;
  }
  const LinkDiagnosis d = diagnoseLink(mapPath, elfPath, nullptr, std::move(says));
  if (!d.mapOpened) {
    std::cerr << "aelfdump: can't open '" << mapPath << "'\n";
    return 1;
  }
  if (d.elfState == ElfOpen::notElf) {
    std::cerr << "aelfdump: '" << elfPath << "' "
              << (d.elfProblem.empty() ? "is no ELF file" : d.elfProblem)
              << ": there is nothing to check the map against\n";
    return d.elfProblem.empty() ? 7 : 1;
  }
  if (d.elfState == ElfOpen::unreadable) {
    std::cerr << "aelfdump: '" << elfPath << "' is not a readable ELF file: " << d.elfProblem
              << "\n";
    return 7;
  }
  // The build's steps on what the diagnosis read.
  const BuildPreview verdict = previewBuild(d);
  if (json) {
    printJson(d, verdict);
  } else {
    printText(d, verdict);
  }
  return verdict.result == BuildResult::ok ? 0 : kLinkRefused;
}

}  // namespace pakforge::aelfdump
