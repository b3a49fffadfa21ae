// Everything that stands between a link (its map and ELF file) and a
// correct image, each problem with the change to the linker script or the
// link flags that fixes it: what pakforge's map rules read beside what the
// ELF file really loads. aelfdump --link prints all of it; pakforge prints
// one line of it after a refusal.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "elf/elf_reader.h"
#include "linkdiag/map_outline.h"
#include "mapfile/map_scan.h"
#include "rules/rules.h"

namespace pakforge {

// One problem: its rule, what this link shows of it, the rule's fix with
// what this link names, and where the fix writes lines into the script,
// those lines, in order.
struct LinkFinding {
  Rule rule = Rule::none;
  std::string what;
  std::string fix;
  std::vector<std::string> lines;
  // The header symbol it concerns, by its index in kRequiredSymbolNames.
  std::size_t symbol = kRequiredSymbolCount;
  // The output section the fix changes, where it names one.
  std::string section;
  // What its edit places, as the detector decided it: the output sections
  // it moves, and the alignment it keeps (0 for none).
  std::vector<std::string> sections;
  // Of those, the reservations whose zero bytes the file holds (LLD's
  // sections of a location counter's move alone): after .bss they are
  // marked NOLOAD, or LLD writes their zeros into the flash.
  std::vector<std::string> noLoad;
  std::uint32_t align = 0;
  // The fix says "these lines" rather than writing them out: a one-line
  // form of the finding writes them after it.
  bool fixNamesLines = false;
  // Its lines end the code range after the initial values of .data.
  bool endsRange = false;
  // The fix with its lines, on one line.
  std::string oneLineFix() const;
  std::string_view code() const { return ruleInfo(rule).code; }
  std::string_view topic() const { return ruleInfo(rule).topic; }
};

// A span of what the ELF file loads into the flash, and the section it
// belongs to.
struct FlashSpan {
  std::uint64_t start = 0;
  std::uint64_t end = 0;
  std::string section;
};

// Where a symbol's ELF definition lies; `unchecked` when the ELF file has no
// symbol table.
enum class SymbolPlace { inRange, beforeRange, afterRange, missing, localOnly, unchecked };

struct SymbolFacts {
  std::string_view name;
  // The ELF file's view.
  ElfSymbol elf;
  std::string section;  // the section holding its global definition
  SymbolPlace place = SymbolPlace::missing;
  // The map rules' view.
  bool mapFinds = false;
  std::uint32_t mapAddress = 0;
  MapLine mapLine;    // its first symbol line in the map, anywhere
  MapLine discarded;  // the line of GNU ld's discarded block naming its section
};

struct RamFacts {
  // The map rule's figures and the lines that set them.
  std::uint32_t mapStart = 0;
  std::uint32_t mapEnd = 0;
  MapLine startLine;
  MapLine endLine;
  bool fits = true;
  // The ELF file's own: the start of .data, the end of .bss, and the end of
  // the reservations after it (heap, stacks).
  bool elfKnown = false;
  std::uint64_t elfStart = 0;
  std::uint64_t elfBssEnd = 0;
  std::uint64_t elfReservedEnd = 0;
  std::vector<std::string> reservations;
};

// A vector table's input pattern is kept once it moves into .text: nothing
// in the firmware refers to it, and --gc-sections would drop it. `pattern`
// as it is written there, KEEP(...) where it is the table's.
std::string keptPattern(std::string_view section, std::string_view pattern);

// The names of the lines that end the code range after .data's initial
// values (their load start, their size, the range's end), the recipe's
// first: --link advises, and --fix writes, the first choice none of whose
// names the link already has.
using EndNames = std::array<std::string_view, 3>;
inline constexpr std::array<EndNames, 4> kEndNameChoices = {{
    {"_sidata", "_data_image_size", "_flash_end"},
    {"_data_image_start", "_data_image_size", "_flash_end"},
    {"__data_image_start", "__data_image_size", "__flash_end"},
    {"_data_image_start_", "_data_image_size_", "_flash_end_"},
}};

// Where the end lines load a section the flash holds right after .data's
// initial values (".tdata"): at its offset from .data in RAM, so that the
// two stay one image. The size of that image, through the last of them.
std::string copiedLoad(const std::string& start, const std::string& section);
std::string dataImageSize(const std::vector<std::string>& copiedAfterData);

// What the linker script says, where the caller read it, of what the map
// and the ELF file can't tell.
struct ScriptSays {
  // The output sections' own AT(SYMBOL), by section. The lines that end the
  // code range then start from .data's, as --fix writes them; the map and
  // the ELF file can't tell AT(SYMBOL) from AT> FLASH.
  std::vector<std::pair<std::string, std::string>> atSymbols;
  // Every output section, in order, and whether it is placed with AT>
  // REGION and no AT(): a section after .data so placed is loaded after it
  // by the linker, whatever the map shows of an empty one.
  std::vector<std::pair<std::string, bool>> loadRegionOnly;
};

struct LinkDiagnosis {
  std::string mapPath;
  std::string elfPath;
  // What the linker script says, where the caller read it.
  ScriptSays script;
  bool mapOpened = false;
  ElfOpen elfState = ElfOpen::notElf;
  std::string elfProblem;  // why an ELF file can't be read
  bool lldMap = false;
  bool lldElf = false;
  // The location counter stands outside the flash where .data's header is
  // read (a ". = ORIGIN(RAM)" before it): lines that end the code range
  // there take the end of the last flash section's load image, not ".".
  bool counterLeftFlash = false;
  // The sections right after .data that the flash loads too, in order.
  std::vector<std::string> copiedAfterData;

  // What the checks read from the map, as a build reads it.
  MapFacts checked;
  // The code range the map rules give, and the lines that give it.
  MapOutline outline;
  MapSymbols mapSymbols;
  // When the map's first line holding .text can't give the code start: the
  // range as it would be once the .text output section's line is the first.
  bool rangeAssumed = false;
  MapLine actualCodeStart;
  std::string actualCodeStartSection;
  MapLine actualDataLine;
  std::string actualDataLineSection;
  bool haveRange = false;
  std::uint64_t rangeStart = 0;
  std::uint64_t rangeEnd = 0;
  // What the ELF file loads into the flash, and what of it lies outside the
  // range; holes are stretches inside the flash content that nothing loads.
  std::vector<FlashSpan> flash;
  std::vector<FlashSpan> outside;
  std::vector<FlashSpan> holes;

  // False when the ELF file has no symbol table (stripped).
  bool symbolsChecked = false;
  std::array<SymbolFacts, kRequiredSymbolCount> symbols;

  // Where the file holds the code start, and where pakforge reads it.
  bool haveFileOffset = false;
  std::uint64_t fileOffset = 0;
  std::uint32_t derivedOffset = 0;

  RamUsage mapRam;
  RamFacts ram;

  std::vector<LinkFinding> findings;
};

// Reads both files and says what stands between them and a correct image.
// `checked`, when given, is what the checks of a build already read from
// the map: the map is then read for its outline alone.
LinkDiagnosis diagnoseLink(const std::string& mapPath, const std::string& elfPath,
                           const MapFacts* checked = nullptr, ScriptSays script = {});

// The one line pakforge prints after its own message when a symbol scan or
// the RAM check refused a link whose ELF file is a real one: what the ELF
// file shows, and where to look for the rest. Empty when there is nothing
// to add (no ELF file, or nothing found).
std::string symbolScanHint(const LinkDiagnosis& diagnosis);
std::string ramHint(const LinkDiagnosis& diagnosis);
// The finding that explains a refusal of the ELF check for `cause`: for
// flash content the code range leaves out, the first finding of the map line
// or the section that leaves it out; otherwise the finding of `cause`
// itself. Null when the diagnosis has none (it could not read both files).
const LinkFinding* refusalFinding(const LinkDiagnosis& diagnosis, Rule cause);
// The refusal as pakforge says it, after "does not match the image: ":
// "[CODE] what; fix", with `fact`, what the ELF check found, first where the
// finding is about a map line or the file's layout rather than the bytes.
std::string refusalText(const LinkFinding& finding, std::string_view fact);
// The line after it: a map line that also ends the code range too early,
// as a hint line, or where to read more.
std::string refusalSeeAlso(const LinkDiagnosis& diagnosis, const LinkFinding& finding);

// The findings of `rule`, in the order found.
std::vector<const LinkFinding*> findingsOf(const LinkDiagnosis& diagnosis, Rule rule);

}  // namespace pakforge
