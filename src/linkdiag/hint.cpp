// The hint lines pakforge prints after a refusal, from the diagnosis's
// findings.
#include <algorithm>
#include <array>
#include <span>

#include "linkdiag/link_diagnosis.h"
#include "platform/platform.h"

namespace pakforge {
namespace {

std::string seeAlso(const LinkDiagnosis& d) {
  return "; aelfdump --link " + platform::shellQuoted(d.mapPath) + " " +
         platform::shellQuoted(d.elfPath) + " lists all that stands between this link and an image";
}

// One finding on one line: what, the fix, the rule's code and where to read
// more of it.
std::string hintLine(const LinkDiagnosis& d, const std::string& text, const LinkFinding& rule) {
  const std::string code(rule.code());
  return text + " [" + code + ": aelfdump --explain " + code + "]" + seeAlso(d);
}
std::string hintLine(const LinkDiagnosis& d, const LinkFinding& f) {
  return hintLine(d, f.what + "; " + f.oneLineFix(), f);
}

// The first finding of any of `rules`, in the order the rules are given.
const LinkFinding* firstOf(const LinkDiagnosis& d, std::span<const Rule> rules) {
  for (const Rule rule : rules) {
    for (const LinkFinding& f : d.findings) {
      if (f.rule == rule) {
        return &f;
      }
    }
  }
  return nullptr;
}

// What the map's lines give no code start for, what starts the range too
// late, and what ends it too early: the rows say which rules explain them,
// in the order to say them.
const std::vector<Rule>& codeStartRules() {
  static const std::vector<Rule> rules = rulesExplaining({Explains::codeStart});
  return rules;
}
const std::vector<Rule>& rangeStartRules() {
  static const std::vector<Rule> rules = rulesExplaining({Explains::rangeStart});
  return rules;
}
const std::vector<Rule>& rangeEndRules() {
  static const std::vector<Rule> rules = rulesExplaining({Explains::rangeEnd});
  return rules;
}

}  // namespace

std::string LinkFinding::oneLineFix() const {
  std::string text = fix;
  if (fixNamesLines) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
      text.append(i == 0 ? ": " : " ").append(lines[i]);
    }
  }
  return text;
}

std::vector<const LinkFinding*> findingsOf(const LinkDiagnosis& d, Rule rule) {
  std::vector<const LinkFinding*> found;
  for (const LinkFinding& f : d.findings) {
    if (f.rule == rule) {
      found.push_back(&f);
    }
  }
  return found;
}

std::string symbolScanHint(const LinkDiagnosis& d) {
  if (d.elfState != ElfOpen::ok || !d.mapOpened) {
    return {};
  }
  if (!d.mapSymbols.haveAddrExe) {
    const LinkFinding* f = firstOf(d, codeStartRules());
    return f == nullptr ? std::string() : hintLine(d, *f);
  }
  std::size_t first = kRequiredSymbolCount;
  std::string others;
  for (std::size_t i = 0; i < kRequiredSymbolCount; ++i) {
    if (d.mapSymbols.seen[i]) {
      continue;
    }
    if (first == kRequiredSymbolCount) {
      first = i;
    } else {
      others += (others.empty() ? "" : ", ") + std::string(kRequiredSymbolNames[i]);
    }
  }
  if (first == kRequiredSymbolCount) {
    return {};
  }
  const LinkFinding* f = nullptr;
  for (const LinkFinding& candidate : d.findings) {
    if (candidate.symbol == first && f == nullptr) {
      f = &candidate;
    }
  }
  if (f == nullptr) {
    return {};
  }
  // Where it lies says why the map rules miss it; the fix is the range's.
  const LinkFinding* range = f->rule == Rule::symbolBeforeRange  ? firstOf(d, rangeStartRules())
                             : f->rule == Rule::symbolAfterRange ? firstOf(d, rangeEndRules())
                                                                 : nullptr;
  std::string text =
      range != nullptr ? f->what + ": " + range->oneLineFix() : f->what + "; " + f->oneLineFix();
  if (!others.empty()) {
    text += " (the map rules miss " + others + " too)";
  }
  return hintLine(d, text, range != nullptr ? *range : *f);
}

std::string ramHint(const LinkDiagnosis& d) {
  if (d.elfState != ElfOpen::ok || !d.mapOpened || !d.ram.endLine.found()) {
    return {};
  }
  static const std::vector<Rule> ramRules = rulesExplaining({Explains::ramReport});
  const LinkFinding* f = firstOf(d, ramRules);
  return f == nullptr ? std::string() : hintLine(d, *f);
}

namespace {

// The rules that can explain a refusal of the ELF check, for each fact it
// refuses on: flash content before the code range, or after it.
const std::vector<Rule>& leftOutBefore() {
  static const std::vector<Rule> rules =
      rulesExplaining({Explains::codeStart, Explains::rangeStart});
  return rules;
}
const std::vector<Rule>& leftOutAfter() {
  static const std::vector<Rule> rules =
      rulesExplaining({Explains::rangeEnd, Explains::afterRange});
  return rules;
}

bool among(std::span<const Rule> rules, Rule rule) {
  return std::find(rules.begin(), rules.end(), rule) != rules.end();
}

}  // namespace

const LinkFinding* refusalFinding(const LinkDiagnosis& d, Rule cause) {
  if (d.elfState != ElfOpen::ok || !d.mapOpened || cause == Rule::none) {
    return nullptr;
  }
  if (among(leftOutBefore(), cause)) {
    return firstOf(d, leftOutBefore());
  }
  if (among(leftOutAfter(), cause)) {
    return firstOf(d, leftOutAfter());
  }
  return firstOf(d, std::array{cause});
}

std::string refusalText(const LinkFinding& f, std::string_view fact) {
  std::string text = "[";
  text.append(f.code()).append("] ");
  if (!fact.empty() &&
      (ruleInfo(f.rule).refusal.about == About::mapLine || f.topic() == "file offset")) {
    text.append(fact).append(": ");
  }
  return text + f.what + "; " + f.oneLineFix();
}

std::string refusalSeeAlso(const LinkDiagnosis& d, const LinkFinding& f) {
  // What leaves out content at the range's end stands in the way as well,
  // whatever the refusal was: say it now rather than one link later.
  const Explains explains = ruleInfo(f.rule).refusal.explains;
  if (explains != Explains::none && explains != Explains::ramReport) {
    for (const Rule rule : leftOutAfter()) {
      for (const LinkFinding& end : d.findings) {
        if (end.rule == rule && &end != &f) {
          return hintLine(d, end);
        }
      }
    }
  }
  const std::string code(f.code());
  return "aelfdump --explain " + code + " explains it" + seeAlso(d);
}

}  // namespace pakforge
