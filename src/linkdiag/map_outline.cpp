#include "linkdiag/map_outline.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <string_view>

#include "mapfile/line_reader.h"
#include "mapfile/ram_budget.h"

namespace pakforge {
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

// The text after the line's last space: the symbol scan's name.
std::string_view lastName(std::string_view line) {
  const std::size_t space = line.rfind(' ');
  return space == std::string_view::npos ? line : line.substr(space + 1);
}

// One line as the map's own columns give it.
struct Columns {
  bool haveAddress = false;
  std::uint64_t address = 0;
  bool haveSize = false;
  std::uint64_t size = 0;
  // The name column: an output section's name, or where nesting shows an
  // input section, a symbol or an assignment.
  std::string_view name;
  bool outputSection = false;
  bool assignment = false;
};

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
  const std::string_view rest = line.substr(33);
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
  if (!line.empty() && line.front() == '.') {
    c.outputSection = true;
    c.name = firstWord(line);
    line = line.substr(c.name.size());
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
  }
  c.assignment = line.find(" = ") != std::string_view::npos;
  return c;
}

// What the symbol scan reads as a line's address: the leading hex digits of
// the seven characters from its first '8'.
bool windowValue(std::string_view line, std::uint32_t& value) {
  const std::size_t eight = line.find('8');
  if (eight == std::string_view::npos) {
    return false;
  }
  value = hexValue(line.substr(eight, 7));
  return true;
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
    pattern = "*" + std::string(line.substr(open + 1, close - open));
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

}  // namespace

MapOutline outlineMap(std::istream& map, bool sectionLinesOnly) {
  MapOutline outline;
  constexpr std::size_t kBuffer = 4096;
  std::array<char, kBuffer> buffer{};
  std::uint64_t number = 0;
  bool inDiscarded = false;
  bool inMemoryMap = false;
  bool haveCodeStart = false;
  bool haveDataLine = false;
  std::string currentSection;
  // A GNU ld output section whose address is on the next line.
  bool sectionWrapped = false;
  RamUsage ram;
  for (;;) {
    map.getline(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    auto length = static_cast<std::size_t>(map.gcount());
    if (length == 0 && !map) {
      break;
    }
    if (map.fail() && !map.eof()) {
      // Longer than the buffer: the rest of it is not looked at.
      map.clear();
      map.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    } else if (!map.eof()) {
      --length;  // the line feed
    }
    std::string_view line(buffer.data(), length);
    ++number;
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    // The block of discarded sections, as both scans skip it.
    if (inDiscarded && !line.empty() && line.front() != ' ' && line.front() != '\t') {
      inDiscarded = false;
    }
    if (line == kDiscardedHeading) {
      inDiscarded = true;
      outline.discardedBlock = true;
      continue;
    }
    if (inDiscarded) {
      const std::string_view section = firstWord(line);
      // The section of a symbol NAME is named ".text.NAME" or ".rodata.NAME".
      for (std::size_t i = 0; i < kRequiredSymbolNames.size(); ++i) {
        const std::string_view name = kRequiredSymbolNames[i];
        if (!outline.discarded[i].found() && section.size() > name.size() + 1 &&
            section.substr(section.size() - name.size()) == name &&
            section[section.size() - name.size() - 1] == '.') {
          outline.discarded[i] = mapLine(number, line);
        }
      }
      continue;
    }
    if (number <= 2 && line.find("VMA") != std::string_view::npos &&
        line.find("LMA") != std::string_view::npos) {
      outline.lld = true;
      inMemoryMap = true;
      continue;
    }
    if (line == "Linker script and memory map") {
      inMemoryMap = true;
    }

    // Output sections, and which one each line lies in.
    Columns columns = outline.lld ? lldColumns(line) : gnuColumns(line);
    if (!outline.lld && sectionWrapped && !columns.outputSection) {
      MapSection& last = outline.sections.back();
      last.haveAddress = columns.haveAddress;
      last.address = columns.address;
      last.size = columns.haveSize ? columns.size : 0;
      sectionWrapped = false;
    }
    const bool sectionLine = inMemoryMap && columns.outputSection;
    if (sectionLine) {
      currentSection = std::string(columns.name);
      if (outline.sections.size() < MapOutline::kMaxSections) {
        MapSection section;
        section.line = mapLine(number, line);
        section.name = currentSection;
        section.haveAddress = columns.haveAddress;
        section.address = columns.address;
        section.size = columns.size;
        section.phase = !haveCodeStart ? MapPhase::beforeCode
                        : haveDataLine ? MapPhase::afterData
                                       : MapPhase::inRange;
        sectionWrapped = !outline.lld && !columns.haveAddress;
        outline.sections.push_back(section);
      }
    }

    // What the current section holds, as patterns to quote.
    if (inMemoryMap && !sectionLine && !outline.sections.empty() &&
        outline.sections.back().name == currentSection) {
      addPattern(outline.sections.back(), line, outline.lld);
    }

    // The symbol scan's rules.
    const bool holdsText = line.find(".text") != std::string_view::npos;
    const bool holdsData = line.find(".data") != std::string_view::npos;
    const bool holdsAddress = line.find('8') != std::string_view::npos;
    const MapPhase phase = !haveCodeStart ? MapPhase::beforeCode
                           : haveDataLine ? MapPhase::afterData
                                          : MapPhase::inRange;
    const bool textSection = sectionLine && columns.name == ".text";
    const bool dataSection = sectionLine && columns.name == ".data";
    if (!haveCodeStart && holdsText && (!sectionLinesOnly || textSection)) {
      haveCodeStart = true;
      outline.codeStart = mapLine(number, line);
      outline.codeStartIsText = textSection;
      outline.codeStartIsSection = sectionLine;
      outline.codeStartName = sectionLine ? std::string(columns.name) : std::string();
      outline.codeStartSection = sectionLine ? std::string() : currentSection;
      outline.codeStartHasValue = windowValue(line, outline.codeStartValue);
    } else if (haveCodeStart && !haveDataLine && holdsData && (!sectionLinesOnly || dataSection)) {
      haveDataLine = true;
      if (sectionLine && !outline.sections.empty()) {
        outline.sections.back().phase = MapPhase::afterData;
      }
      outline.dataLine = mapLine(number, line);
      outline.dataLineIsData = dataSection;
      outline.dataLineSection = sectionLine ? std::string() : currentSection;
    } else if (!haveCodeStart && holdsData && !outline.dataLine.found() && !sectionLinesOnly) {
      // A data line before any code start: the scan stops there.
      outline.dataLine = mapLine(number, line);
    } else if (sectionLinesOnly && phase == MapPhase::inRange && holdsData) {
      if (!outline.strayDataLine.found()) {
        outline.strayDataLine = mapLine(number, line);
        outline.strayDataSection = sectionLine ? std::string() : currentSection;
      }
    } else if (phase == MapPhase::inRange && holdsAddress) {
      if (columns.haveAddress && columns.address >= 0x08000000 && columns.address < 0x10000000) {
        outline.lastFlashLine = mapLine(number, line);
        outline.lastFlashAddress = columns.address;
      }
      outline.rangeEnd = mapLine(number, line);
      windowValue(line, outline.rangeEndValue);
      outline.rangeEndHasAddress = columns.haveAddress;
      outline.rangeEndAddress = columns.address;
      outline.rangeEndIsAssignment = columns.assignment;
    }
    if (holdsAddress) {
      const std::string_view name = lastName(line);
      for (std::size_t i = 0; i < kRequiredSymbolNames.size(); ++i) {
        if (name == kRequiredSymbolNames[i] &&
            outline.mentions[i].size() < MapOutline::kMaxMentions) {
          MapMention mention{mapLine(number, line), phase, 0};
          windowValue(line, mention.value);
          outline.mentions[i].push_back(mention);
        }
      }
    }

    // The RAM check's rules.
    const std::size_t ramAt = line.find("2000");
    if (ramAt != std::string_view::npos) {
      const std::size_t two = line.find('2');
      const std::uint32_t value = hexValue(line.substr(two, 8));
      if (holdsData) {
        ram.dataStart = value;
        outline.ramStart = mapLine(number, line);
      } else if (value > ram.dataEnd && value > ram.dataStart) {
        ram.dataEnd = value;
        outline.ramEnd = mapLine(number, line);
      }
    }
  }
  return outline;
}

}  // namespace pakforge
