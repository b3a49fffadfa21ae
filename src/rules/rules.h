// The problems that stand between a link and a correct image, each with a
// stable code, like a compiler's error codes: one table gives each code its
// fix text and its explanation, and everything else (pakforge's refusals
// and hint lines, aelfdump --link and --explain, the tests) names problems
// by code, never by their English.
#pragma once

#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pakforge {

enum class Rule {
  none,
  // Where the code range starts.
  noTextLine,
  dataBeforeText,
  longCodeSectionName,
  codeStartInOtherSection,
  codeStartWithoutAddress,
  flashBeforeRange,
  initialValuesBeforeRange,
  rangeStartsEarly,
  noFlashContent,
  rangeStartsLate,
  vectorTableNotAtStart,
  // Where it ends.
  dataLineAssignment,
  dataLineSectionName,
  dataLinePattern,
  noEndLine,
  lldAssignmentEnd,
  endInsideSection,
  flashSectionAfterRange,
  ramSectionsBeforeData,
  rangeEndNotFlash,
  rangePastFlashContent,
  reservationLoaded,
  ramContentAfterRange,
  // The five symbols.
  symbolStale,
  symbolLocalOnly,
  symbolDiscarded,
  symbolUndefined,
  symbolBeforeRange,
  symbolAfterRange,
  symbolWithoutMapLine,
  symbolAssigned,
  symbolLocalListedLast,
  symbolStripped,
  // Where the file holds the code.
  textNotAtOffset,
  pageAlignedSegments,
  initialValuesMisaligned,
  flashNotOneBlock,
  codeStartNotAlignable,
  // The RAM report.
  ramStartNotData,
  ramNoDataLine,
  ramCheckFails,
  ramReportHigh,
  stackTopOutsideRam,
  ramDataOutsideRam,
  ramBankMissing,
  // What the flash holds.
  flashPastLimit,
  flashOverlap,
  loadedOutsideFlash,
};

enum class FixKind { safe, movesLayout, byHand };

// Which of the ELF check's refusals a rule can explain. Content the code
// range leaves out before it: the map gives no code start at all
// (codeStart), or one after the content (rangeStart). Content it leaves out
// after it: the range ends too early (rangeEnd), or the bytes past the end
// are wrong for another reason (afterRange). And the RAM report's refusal
// or its figures (ramReport), which the RAM hint explains.
enum class Explains { none, codeStart, rangeStart, rangeEnd, afterRange, ramReport };
// Whether a finding is about a line of the map or about the ELF file's
// bytes: a refusal says first what the ELF file loads that the range leaves
// out, then the map line that is the cause.
enum class About { bytes, mapLine };

struct RefusalRole {
  Explains explains = Explains::none;
  // Among the rules that explain one refusal, the lowest rank found is the
  // one said. The map's lines are the cause when they are wrong, so their
  // rules rank first; then what the ELF file shows.
  int rank = 0;
  About about = About::bytes;
};

struct RuleInfo {
  Rule rule;
  std::string_view code;   // "PF101"
  std::string_view topic;  // the part of the link it concerns
  // The change that fixes it; {0}, {1} ... stand for what the link names
  // (sections, patterns, alignments).
  std::string_view fix;
  // What the map rules read, why such a link breaks them, the fix with a
  // before-and-after excerpt of a script, and how it looks under LLD.
  std::string_view explanation;
  // What its fix does: it moves addresses the firmware sees (a section
  // moved, the RAM cut, the load address of the initial values), or it is
  // safe (a rename, a KEEP, NOLOAD); or it is a change aelfdump --fix never
  // makes, left to the team (byHand).
  FixKind fixKind = FixKind::safe;
  RefusalRole refusal{};
};

// Every rule, in code order.
std::span<const RuleInfo> allRules();
const RuleInfo& ruleInfo(Rule rule);
// Null for a code no rule has (codes are matched without regard to case).
const RuleInfo* findRule(std::string_view code);

// The rules that explain any of `refusals`, lowest rank first.
std::vector<Rule> rulesExplaining(std::initializer_list<Explains> refusals);

// The rule's fix with `names` put in for {0}, {1} ...
std::string fixText(Rule rule, std::initializer_list<std::string_view> names = {});

// Why a map from LLD misleads where GNU ld's would not, said after a fix.
inline constexpr std::string_view kLldAssignmentNote =
    " (in a map from LLD an assignment line shows the location counter, not the value assigned: "
    "move the location counter there)";
inline constexpr std::string_view kLldAlignmentNote =
    " (in a map from LLD an alignment line shows the location counter before it is aligned)";

}  // namespace pakforge
