// The lines of a linker map that a diagnosis of the link points to: where
// pakforge's map rules take the code range, the five symbols and the RAM
// figures from, and the output sections around them. It is read in the same
// pass as the checks' own scans, line for line by the same rules; of a line
// longer than the read buffer, its columns and text come from its start.
#pragma once

#include <array>
#include <cstdint>
#include <istream>
#include <string>
#include <vector>

#include "mapfile/line_reader.h"
#include "mapfile/symbol_scan.h"

namespace pakforge {

// Where a line stands against the code range the map rules read.
enum class MapPhase { beforeCode, inRange, afterData };

// An output section as the map lists it.
struct MapSection {
  MapLine line;
  std::string name;
  bool haveAddress = false;
  std::uint64_t address = 0;
  std::uint64_t size = 0;
  // Its load address, where the map shows one apart from its address.
  bool haveLoad = false;
  std::uint64_t load = 0;
  MapPhase phase = MapPhase::beforeCode;
  // The last assignment of the location counter before this section's
  // line (". = ORIGIN(RAM)" before .data), and the value it assigns.
  MapLine counterLine;
  std::uint64_t counter = 0;
  // The input section patterns the script gives it, as the map shows them
  // (GNU ld: " *(.isr_vector)"; LLD, which shows none, the pattern of each
  // input section it lists: "*(.isr_vector)"), at most kMaxPatterns.
  std::vector<std::string> patterns;
  static constexpr std::size_t kMaxPatterns = 8;
};

// A symbol line of one of the five names, and the address the symbol scan
// reads from it.
struct MapMention {
  MapLine line;
  MapPhase phase = MapPhase::beforeCode;
  std::uint32_t value = 0;
};

struct MapOutline {
  // LLD's map (columns VMA LMA Size Align Out In Symbol), not GNU ld's.
  bool lld = false;
  // The first line holding ".text", and whether it is the .text output
  // section's own line.
  MapLine codeStart;
  bool codeStartIsText = false;
  // It is an output section's own line, whose name is codeStartName.
  bool codeStartIsSection = false;
  std::string codeStartName;
  // The addresses the symbol scan reads from the code start line and the
  // range end line (the seven characters from their first '8').
  bool codeStartHasValue = false;
  std::uint32_t codeStartValue = 0;
  std::uint32_t rangeEndValue = 0;
  // The output section the code start line lies in, when it is not one.
  std::string codeStartSection;
  // The first line holding ".data" after the code start, whether it is the
  // .data output section's own line, and the section it lies in otherwise.
  MapLine dataLine;
  bool dataLineIsData = false;
  std::string dataLineSection;
  // With section lines only: the first line in the range that holds .data
  // but is not the .data output section's, which the symbol scan would take
  // for the data line, and the output section it lies in.
  MapLine strayDataLine;
  std::string strayDataSection;
  // The last line with an address before the data line: the end of the
  // code range.
  MapLine rangeEnd;
  // The address the range end line shows in its own columns (0x... in GNU
  // ld's map, the first column in LLD's), when it shows one.
  bool rangeEndHasAddress = false;
  std::uint64_t rangeEndAddress = 0;
  // The range end line is an assignment (NAME = EXPRESSION).
  bool rangeEndIsAssignment = false;
  // The last line before the data line whose own address is a flash one,
  // and that address: where the range would end if lines of RAM sections
  // did not stand after it.
  MapLine lastFlashLine;
  std::uint64_t lastFlashAddress = 0;
  // Output sections, in map order, at most kMaxSections.
  std::vector<MapSection> sections;
  static constexpr std::size_t kMaxSections = 512;
  // GNU ld's block of discarded input sections (--gc-sections), and for
  // each of the five symbols the line there that names its section.
  bool discardedBlock = false;
  std::array<MapLine, kRequiredSymbolCount> discarded;
  // For each of the five names, the first line that assigns it
  // ("loop = app_loop"): the symbol scan takes its last word for the name.
  std::array<MapLine, kRequiredSymbolCount> assigned;
  // Symbol lines of the five names, at most kMaxMentions each.
  std::array<std::vector<MapMention>, kRequiredSymbolCount> mentions;
  static constexpr std::size_t kMaxMentions = 4;
};

// The outline as one scan of the map's single read, beside the RAM check's
// and the symbol scan's: it sees the lines the symbol scan sees, through the
// same line features and so by the same rules, and the lines of GNU ld's
// discarded block it does not. The RAM check records the lines it takes
// itself. With `sectionLinesOnly`, the code start is
// the .text output section's own line and the data line the .data output
// section's, as they are once the lines before them that hold .text or
// .data are fixed: for telling what stands behind those.
struct MapColumns;

class OutlineScan : public LineScan {
 public:
  // With `actual`, the outline of the same map as it is: this one (with
  // sectionLinesOnly) stops once that one's code start is the .text
  // section's line or gives an address, where it would not be used.
  explicit OutlineScan(bool sectionLinesOnly = false, const OutlineScan* actual = nullptr);
  void beginRun(std::string_view run) override;
  std::size_t nextCandidate(std::string_view run, std::size_t from) override;
  bool onLine(const LineFeatures& features) override;
  void onHiddenLine(std::string_view line) override;
  const MapOutline& outline() const { return outline_; }
  // Lines another scan took without numbering them (by their offset): this
  // read numbers them as it passes.
  void numberLines(std::vector<MapLine*> lines) { toNumber_ = std::move(lines); }
  // Takes the output sections `code` and `data` for .text and .data, as
  // they will be once renamed, and reads every line: names without a dot
  // are not among the lines the fast read looks for.
  void renamed(std::string code, std::string data) {
    codeAs_ = std::move(code);
    dataAs_ = std::move(data);
  }

 private:
  bool sectionLinesOnly_;
  const OutlineScan* actual_;
  std::string codeAs_ = ".text";
  std::string dataAs_ = ".data";
  MapOutline outline_;
  std::uint64_t number_ = 0;
  bool inMemoryMap_ = false;
  // The last location counter assignment, for the next section.
  MapLine counterLine_;
  std::uint64_t counter_ = 0;
  bool haveCodeStart_ = false;
  bool haveDataLine_ = false;
  bool stopped_ = false;
  std::string currentSection_;
  // A GNU ld output section whose address is on the next line.
  bool sectionWrapped_ = false;
  // Where the next lines to see lie: by the phase's rules, by the names, by
  // the current section's patterns.
  std::array<NextMatch, 3> next_;
  int phase_ = -1;
  bool patternsWanted_ = false;
  std::size_t lastInGap(std::string_view run, std::size_t from, std::size_t next);
  std::vector<MapLine*> toNumber_;
  void numberInGap(std::string_view run, std::size_t from, std::size_t end);
  bool trackSection(std::string_view line, const MapColumns& columns);
  void applyScanRules(const LineFeatures& features, std::string_view line,
                      const MapColumns& columns, bool sectionLine, MapPhase phase);
  void noteSymbols(const LineFeatures& features, std::string_view line, const MapColumns& columns,
                   MapPhase phase);
};

// The outline of a map on its own.
MapOutline outlineMap(std::istream& map, bool sectionLinesOnly = false);

// The name a map line assigns ("NAME = EXPRESSION", "PROVIDE (NAME = ..."),
// as either linker's map writes it; empty when the line assigns nothing.
std::string_view assignedName(std::string_view line);

}  // namespace pakforge
