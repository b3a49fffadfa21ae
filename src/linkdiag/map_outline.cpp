#include "linkdiag/map_outline.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <limits>
#include <span>
#include <string_view>

#include "mapfile/ram_budget.h"

namespace pakforge {

// One line as the map's own columns give it.
struct MapColumns {
  bool haveAddress = false;
  std::uint64_t address = 0;
  bool haveSize = false;
  std::uint64_t size = 0;
  // An output section's load address, where the map shows one apart from
  // its address (GNU ld: "load address 0x..."; LLD: the LMA column).
  bool haveLoad = false;
  std::uint64_t load = 0;
  // The name column: an output section's name, or where nesting shows an
  // input section, a symbol or an assignment.
  std::string_view name;
  bool outputSection = false;
  bool assignment = false;
};

namespace {

constexpr std::string_view kDiscardedHeading = "Discarded input sections";

MapLine mapLine(std::uint64_t number, std::string_view text) {
  return {number, std::string(text.substr(0, MapLine::kMaxText))};
}

bool isHex(char c) {
  return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

// The leading run of hex digits of `text` as a number (at most 16 digits).
bool hexNumber(std::string_view text, std::uint64_t& value) {
  std::size_t n = 0;
  value = 0;
  while (n < text.size() && n < 16 && isHex(text[n])) {
    const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[n])));
    value = value * 16 + static_cast<std::uint64_t>(c <= '9' ? c - '0' : c - 'a' + 10);
    ++n;
  }
  return n > 0;
}

std::string_view trimLeft(std::string_view text) {
  const std::size_t at = text.find_first_not_of(" \t");
  return at == std::string_view::npos ? std::string_view() : text.substr(at);
}

std::string_view firstWord(std::string_view text) {
  text = trimLeft(text);
  return text.substr(0, text.find_first_of(" \t"));
}

using Columns = MapColumns;

// LLD: "VMA LMA Size Align" in fixed columns, then the name, indented 8 for
// an input section and 16 for a symbol.
Columns lldColumns(std::string_view line) {
  Columns c;
  if (line.size() < 33) {
    return c;
  }
  std::uint64_t value = 0;
  if (hexNumber(trimLeft(line.substr(0, 8)), value)) {
    c.haveAddress = true;
    c.address = value;
  }
  if (hexNumber(trimLeft(line.substr(18, 8)), value)) {
    c.haveSize = true;
    c.size = value;
  }
  if (hexNumber(trimLeft(line.substr(9, 8)), value) && value != c.address) {
    c.haveLoad = true;
    c.load = value;
  }
  // The Out column follows the four numbers and one space; an alignment
  // wider than its column (ALIGN(0x20000) is 131072) moves it right.
  std::size_t end = 0;
  for (int field = 0; field < 4 && end != std::string_view::npos; ++field) {
    const std::size_t begin = line.find_first_not_of(' ', end);
    end = begin == std::string_view::npos ? begin : line.find(' ', begin);
  }
  if (end == std::string_view::npos) {
    return c;
  }
  const std::string_view rest = line.substr(std::max<std::size_t>(end + 1, 33));
  const std::size_t indent = rest.find_first_not_of(' ');
  if (indent == std::string_view::npos) {
    return c;
  }
  c.name = rest.substr(indent);
  c.assignment = c.name.find(" = ") != std::string_view::npos;
  c.outputSection = indent == 0 && !c.assignment && !c.name.empty() && c.name.front() == '.';
  return c;
}

// GNU ld: an output section's name in the first column, then its address
// and size (on the next line when the name is long); other lines start with
// a space: input sections, symbols (0x... NAME) and assignments
// (0x... NAME = EXPRESSION).
Columns gnuColumns(std::string_view line) {
  Columns c;
  // An output section's line starts with its name, most often with a dot;
  // a generated script may write names without one ("text"). Other lines
  // that start at the margin (LOAD, OUTPUT(...), START GROUP) are no single
  // name with an address or nothing after it.
  if (!line.empty() && line.front() != ' ') {
    const std::string_view name = firstWord(line);
    const std::string_view rest = trimLeft(line.substr(name.size()));
    if (line.front() == '.' || rest.empty() || rest.substr(0, 2) == "0x") {
      c.outputSection = true;
      c.name = name;
      line = line.substr(c.name.size());
    }
  }
  const std::size_t hex = line.find("0x");
  if (hex != std::string_view::npos && hexNumber(line.substr(hex + 2), c.address)) {
    c.haveAddress = true;
    std::string_view rest = line.substr(hex + 2);
    rest = trimLeft(
        rest.substr(std::min(rest.size(), rest.find_first_not_of("0123456789abcdefABCDEF"))));
    if (rest.substr(0, 2) == "0x") {
      c.haveSize = hexNumber(rest.substr(2), c.size);
    }
    const std::size_t load = rest.find("load address 0x");
    c.haveLoad = load != std::string_view::npos &&
                 hexNumber(rest.substr(load + std::string_view("load address 0x").size()), c.load);
  }
  c.assignment = line.find(" = ") != std::string_view::npos;
  return c;
}

// A pattern line of GNU ld's map (" *(.text*)", " KEEP (*(.isr_vector))"),
// or under LLD an input section line ("startup.o:(.isr_vector)"), as a
// pattern for the section.
void addPattern(MapSection& section, std::string_view line, bool lld) {
  std::string pattern;
  if (lld) {
    const std::size_t open = line.find(":(");
    const std::size_t close = line.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
      return;
    }
    pattern.assign(1, '*').append(line.substr(open + 1, close - open));
  } else {
    const std::string_view text = trimLeft(line);
    if (line.empty() || line.front() != ' ' ||
        (text.substr(0, 2) != "*(" && text.substr(0, 4) != "KEEP" && text.substr(0, 4) != "SORT")) {
      return;
    }
    // GNU ld writes "KEEP (*(...))" and "SORT (...)".
    pattern = std::string(text);
    for (const std::string_view word : {"KEEP (", "SORT ("}) {
      for (std::size_t at = pattern.find(word); at != std::string::npos; at = pattern.find(word)) {
        pattern.erase(at + 4, 1);
      }
    }
  }
  if (section.patterns.size() < MapSection::kMaxPatterns &&
      std::find(section.patterns.begin(), section.patterns.end(), pattern) ==
          section.patterns.end()) {
    section.patterns.push_back(pattern);
  }
}

// Whether the line assigns the location counter (". = ORIGIN (RAM)"): the
// text after the address column starts with ". =".
bool assignsCounter(std::string_view line, const MapColumns& columns, bool lld) {
  if (!columns.assignment || !columns.haveAddress) {
    return false;
  }
  std::string_view text = columns.name;
  if (!lld) {
    const std::size_t hex = line.find("0x");
    text = line.substr(hex + 2);
    text = trimLeft(text.substr(std::min(text.size(), text.find_first_of(" \t"))));
  }
  return text.starts_with(". =");
}

}  // namespace

OutlineScan::OutlineScan(bool sectionLinesOnly, const OutlineScan* actual)
    : LineScan(LineFeatures(".text", ".data", '8', 7)),
      sectionLinesOnly_(sectionLinesOnly),
      actual_(actual) {}

namespace {

// What starts a line of GNU ld's map the outline must see, by phase: the
// output sections' own lines (a '.' first), the lines the symbol scan's
// rules turn on, the five names, the heading of the memory map, and while
// the current section's patterns are still wanted, its pattern lines.
// In the memory map the phase's rules and the names are looked for in one
// search: the range is most of a large map.
constexpr std::array<std::string_view, 3> kSeeking = {".text", ".data", "\n."};
// "= ORIGIN" finds the location counter set to a region's start (". =
// ORIGIN (RAM)"), which says where the counter stands when .data's header
// is read; a search for every ". = " would make the scan half as fast
// again, for assignments that only move the counter on.
constexpr std::array<std::string_view, 7> kInRange = {
    ".data", "\n.", "*(", "__entryPoint__", "loop", "Modbus", "= ORIGIN"};
constexpr std::array<std::string_view, 6> kAfterData = {"\n.",  "*(",     "__entryPoint__",
                                                        "loop", "Modbus", "= ORIGIN"};
constexpr std::array<std::string_view, 4> kNamesAndHeading = {"__entryPoint__", "loop", "Modbus",
                                                              "Linker script"};
constexpr std::array<std::string_view, 2> kPatterns = {"*(", "SORT"};

}  // namespace

void OutlineScan::beginRun(std::string_view /*run*/) {
  for (NextMatch& match : next_) {
    match.reset();
  }
}

// LLD's maps, and the first lines of any map, are read line by line. In GNU
// ld's, the lines between those the outline must see are skipped, counted,
// and of each stretch of them inside the code range, the last with an
// address and the last with a flash address in its own columns are seen:
// the range's end may be either.
std::size_t OutlineScan::nextCandidate(std::string_view run, std::size_t from) {
  std::size_t next = from;
  const bool everyLine = codeAs_ != ".text" || dataAs_ != ".data";
  if (!outline_.lld && number_ >= 2 && !sectionWrapped_ && !everyLine) {
    // Pattern lines are looked for with the phase's rules once the code
    // range starts, where they are few and the range is long.
    const int phase = (!haveCodeStart_ && !stopped_  ? 0
                       : !haveDataLine_ && !stopped_ ? 1
                                                     : 2) +
                      (inMemoryMap_ ? 0 : 3);
    if (phase != phase_) {
      phase_ = phase;
      beginRun(run);
    }
    const std::span<const std::string_view> rules =
        phase % 3 == 0   ? std::span<const std::string_view>(kSeeking)
        : phase % 3 == 1 ? std::span<const std::string_view>(kInRange)
                         : std::span<const std::string_view>(kAfterData);
    // Until the code starts, every line of the memory map is seen: the
    // sections there are few, and one may be named without a dot.
    next = run[from] == '.' || (phase == 0) ? from : next_[0].from(run, rules, from);
    if (!inMemoryMap_) {
      next = std::min(next, next_[1].from(run, kNamesAndHeading, from));
    }
    const bool patternsWanted = phase % 3 == 0 && inMemoryMap_ && !outline_.sections.empty() &&
                                outline_.sections.back().name == currentSection_ &&
                                outline_.sections.back().patterns.size() < MapSection::kMaxPatterns;
    if (patternsWanted != patternsWanted_) {
      patternsWanted_ = patternsWanted;
      next_[2].reset();
    }
    if (patternsWanted) {
      next = std::min(next, next_[2].from(run, kPatterns, from));
    }
    if (next != npos && run[next] == '\n' && next + 1 < run.size() && run[next + 1] == '.') {
      ++next;  // "\n.": the section's line is the next one
    }
    if (phase % 3 == 1) {
      next = std::min(next, lastInGap(run, from, next));
    }
  }
  const std::size_t start = next == npos ? run.size() : lineStart(run, from, next);
  numberInGap(run, from, start);
  number_ += countLineFeeds(run.substr(from, start - from));
  return next;
}

void OutlineScan::numberInGap(std::string_view run, std::size_t from, std::size_t end) {
  for (MapLine* line : toNumber_) {
    const std::uint64_t begin = runOffset() + from;
    if (line->number == 0 && !line->text.empty() && line->offset >= begin &&
        line->offset < runOffset() + end) {
      line->number =
          number_ + 1 +
          countLineFeeds(run.substr(from, static_cast<std::size_t>(line->offset - begin)));
    }
  }
}

// Of the lines in `run` from `from` up to the line holding `next` (or the
// run's end), the start of the earlier of the last with an address (a '8',
// for the symbol scan's range end) and the last whose own columns give a
// flash address; npos when there is neither.
std::size_t OutlineScan::lastInGap(std::string_view run, std::size_t from, std::size_t next) {
  const std::size_t gapEnd = next == npos ? run.size() : lineStart(run, from, next);
  const std::string_view gap = run.substr(from, gapEnd - from);
  std::size_t found = npos;
  const std::size_t eight = gap.rfind('8');
  if (eight != npos) {
    found = lineStart(gap, 0, eight);
  }
  for (std::size_t end = gap.size(); end > 0;) {
    const std::size_t hex = gap.substr(0, end).rfind("0x");
    if (hex == npos) {
      break;
    }
    const std::size_t start = lineStart(gap, 0, hex);
    const std::size_t lineFeed = gap.find('\n', start);
    const Columns columns =
        gnuColumns(gap.substr(start, lineFeed == npos ? npos : lineFeed - start));
    if (columns.haveAddress && inFlashWindow(columns.address)) {
      found = std::min(found, start);
      break;
    }
    end = start;
  }
  return found == npos ? npos : from + found;
}

void OutlineScan::onHiddenLine(std::string_view line) {
  ++number_;
  if (line == kDiscardedHeading) {
    outline_.discardedBlock = true;
    return;
  }
  // The section of a symbol NAME is named ".text.NAME" or ".rodata.NAME".
  const std::string_view section = firstWord(line);
  for (std::size_t i = 0; i < kRequiredSymbolNames.size(); ++i) {
    const std::string_view name = kRequiredSymbolNames[i];
    if (!outline_.discarded[i].found() && section.size() > name.size() + 1 &&
        section.substr(section.size() - name.size()) == name &&
        section[section.size() - name.size() - 1] == '.') {
      outline_.discarded[i] = mapLine(number_, line);
    }
  }
}

bool OutlineScan::onLine(const LineFeatures& features) {
  if (actual_ != nullptr && actual_->outline_.codeStart.found() &&
      (actual_->outline_.codeStartIsText || actual_->outline_.codeStartHasValue)) {
    return false;
  }
  ++number_;
  for (MapLine* taken : toNumber_) {
    if (taken->number == 0 && !taken->text.empty() && taken->offset == features.offset()) {
      taken->number = number_;
    }
  }
  // The columns and the quoted text come from the line's first characters;
  // the scans' rules from the same features they read.
  const std::string_view line = features.head();
  if (number_ <= 2 && line.find("VMA") != std::string_view::npos &&
      line.find("LMA") != std::string_view::npos) {
    outline_.lld = true;
    inMemoryMap_ = true;
    return true;
  }
  if (line == "Linker script and memory map") {
    inMemoryMap_ = true;
  }
  const Columns columns = outline_.lld ? lldColumns(line) : gnuColumns(line);
  const bool sectionLine = trackSection(line, columns);
  const MapPhase phase = !haveCodeStart_ ? MapPhase::beforeCode
                         : haveDataLine_ ? MapPhase::afterData
                                         : MapPhase::inRange;
  applyScanRules(features, line, columns, sectionLine, phase);
  noteSymbols(features, line, columns, phase);
  return true;
}

// Output sections, which one each line lies in, and what the current one
// holds, as patterns to quote. Whether the line is an output section's.
bool OutlineScan::trackSection(std::string_view line, const MapColumns& columns) {
  if (inMemoryMap_ && assignsCounter(line, columns, outline_.lld)) {
    counterLine_ = mapLine(number_, line);
    // LLD's columns show the counter before the assignment and how far it
    // moves; GNU ld's the value assigned.
    counter_ = columns.address + (outline_.lld && columns.haveSize ? columns.size : 0);
  }
  if (!outline_.lld && sectionWrapped_ && !columns.outputSection) {
    MapSection& last = outline_.sections.back();
    last.haveAddress = columns.haveAddress;
    last.address = columns.address;
    last.size = columns.haveSize ? columns.size : 0;
    last.haveLoad = columns.haveLoad;
    last.load = columns.load;
    sectionWrapped_ = false;
  }
  const bool sectionLine = inMemoryMap_ && columns.outputSection;
  if (sectionLine) {
    currentSection_ = std::string(columns.name);
    if (outline_.sections.size() < MapOutline::kMaxSections) {
      MapSection section;
      section.line = mapLine(number_, line);
      section.name = currentSection_;
      section.haveAddress = columns.haveAddress;
      section.address = columns.address;
      section.size = columns.size;
      section.haveLoad = columns.haveLoad;
      section.load = columns.load;
      section.counterLine = counterLine_;
      section.counter = counter_;
      section.phase = !haveCodeStart_ ? MapPhase::beforeCode
                      : haveDataLine_ ? MapPhase::afterData
                                      : MapPhase::inRange;
      sectionWrapped_ = !outline_.lld && !columns.haveAddress;
      outline_.sections.push_back(section);
    }
  }
  if (inMemoryMap_ && !sectionLine && !outline_.sections.empty() &&
      outline_.sections.back().name == currentSection_) {
    addPattern(outline_.sections.back(), line, outline_.lld);
  }
  return sectionLine;
}

// The symbol scan's rules: the code start, the data line, the range's end.
void OutlineScan::applyScanRules(const LineFeatures& features, std::string_view line,
                                 const MapColumns& columns, bool sectionLine, MapPhase phase) {
  const bool holdsText = features.holds(0);
  const bool holdsData = features.holds(1);
  const bool holdsAddress = !features.leadWindow().empty();
  const bool textSection = sectionLine && (columns.name == ".text" || columns.name == codeAs_);
  const bool dataSection = sectionLine && (columns.name == ".data" || columns.name == dataAs_);
  if (stopped_) {
    // The symbol scan stopped at a .data line before any .text line.
  } else if (!haveCodeStart_ && (holdsText || textSection) && (!sectionLinesOnly_ || textSection)) {
    haveCodeStart_ = true;
    outline_.codeStart = mapLine(number_, line);
    outline_.codeStartIsText = textSection;
    outline_.codeStartIsSection = sectionLine;
    outline_.codeStartName = sectionLine ? std::string(columns.name) : std::string();
    outline_.codeStartSection = sectionLine ? std::string() : currentSection_;
    outline_.codeStartHasValue = holdsAddress;
    outline_.codeStartValue = features.windowValue();
  } else if (haveCodeStart_ && !haveDataLine_ && (holdsData || dataSection) &&
             (!sectionLinesOnly_ || dataSection)) {
    haveDataLine_ = true;
    if (sectionLine && !outline_.sections.empty()) {
      outline_.sections.back().phase = MapPhase::afterData;
    }
    outline_.dataLine = mapLine(number_, line);
    outline_.dataLineIsData = dataSection;
    outline_.dataLineSection = sectionLine ? std::string() : currentSection_;
  } else if (!haveCodeStart_ && holdsData && !outline_.dataLine.found() && !sectionLinesOnly_) {
    // A data line before any code start: the scan stops there.
    outline_.dataLine = mapLine(number_, line);
    stopped_ = true;
  } else if (sectionLinesOnly_ && phase == MapPhase::inRange && holdsData) {
    if (!outline_.strayDataLine.found()) {
      outline_.strayDataLine = mapLine(number_, line);
      outline_.strayDataSection = sectionLine ? std::string() : currentSection_;
    }
  } else if (phase == MapPhase::inRange && holdsAddress) {
    if (columns.haveAddress && inFlashWindow(columns.address)) {
      outline_.lastFlashLine = mapLine(number_, line);
      outline_.lastFlashAddress = columns.address;
    }
    outline_.rangeEnd = mapLine(number_, line);
    outline_.rangeEndValue = features.windowValue();
    outline_.rangeEndHasAddress = columns.haveAddress;
    outline_.rangeEndAddress = columns.address;
    outline_.rangeEndIsAssignment = columns.assignment;
  }
}

// The header symbols' assignment lines and mentions. `phase` is the line's
// as it was before the scan rules read it.
void OutlineScan::noteSymbols(const LineFeatures& features, std::string_view line,
                              const MapColumns& columns, MapPhase phase) {
  if (columns.assignment) {
    // "NAME = EXPRESSION": the name is the last word before " = ".
    const std::string_view left = line.substr(0, line.find(" = "));
    const std::string_view assigned = left.substr(left.find_last_of(" \t") + 1);
    for (std::size_t i = 0; i < kRequiredSymbolNames.size(); ++i) {
      if (assigned == kRequiredSymbolNames[i] && !outline_.assigned[i].found()) {
        outline_.assigned[i] = mapLine(number_, line);
      }
    }
  }
  if (features.leadWindow().empty() || !features.nameKnown()) {
    return;
  }
  // The code start line and the data line are no symbol lines.
  const MapPhase where =
      phase == MapPhase::inRange && haveDataLine_ && outline_.dataLine.number == number_
          ? MapPhase::afterData
          : phase;
  const std::string_view name = features.name();
  for (std::size_t i = 0; i < kRequiredSymbolNames.size(); ++i) {
    if (name == kRequiredSymbolNames[i] && outline_.mentions[i].size() < MapOutline::kMaxMentions) {
      outline_.mentions[i].push_back({mapLine(number_, line), where, features.windowValue()});
    }
  }
}

std::string_view assignedName(std::string_view line) {
  const std::size_t equals = line.find(" = ");
  if (equals == std::string_view::npos) {
    return {};
  }
  const std::string_view left = line.substr(0, equals);
  return left.substr(left.find_last_of(" (") + 1);
}

MapOutline outlineMap(std::istream& map, bool sectionLinesOnly) {
  OutlineScan scan(sectionLinesOnly);
  scanLines(map, {&scan});
  return scan.outline();
}

}  // namespace pakforge
