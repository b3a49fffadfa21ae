#include "driver/build_image.h"

#include <array>
#include <cstdint>
#include <iostream>
#include <memory>
#include <new>
#include <sstream>
#include <string_view>

#include "driver/rom_budget.h"
#include "elf/elf_check.h"
#include "elf/elf_reader.h"
#include "format/aelf_image.h"
#include "format/image_header.h"
#include "format/input_file.h"
#include "linkdiag/link_diagnosis.h"
#include "mapfile/map_scan.h"
#include "output/output_file.h"

namespace pakforge {
namespace {

constexpr std::string_view kRed = "\033[31m";
constexpr std::string_view kReset = "\033[0m";

// Where a run's messages go: a build prints them as users have always seen
// them, in colour, with the lines that tell where to read more; a preview
// (aelfdump's verdict) keeps the refusal alone, plain.
struct Messages {
  std::ostream& out;
  bool build;
  void refuse(std::string_view text) {
    if (build) {
      out << kRed << text << kReset << "\n";
    } else {
      out << text << "\n";
    }
  }
};

void printFileError(std::string_view what, const std::string& path, std::ostream& out = std::cout) {
  out << kRed << what << " '" << path << "'" << kReset << "\n";
}
void printFileError(std::string_view what, const std::string& path, Messages& m) {
  m.refuse(std::string(what) + " '" + path + "'");
}

struct Buffer {
  std::unique_ptr<char[]> bytes;
  std::uint64_t size = 0;
};

// The length of an open binary file, or -1 when it can't be told.
std::streamoff fileLength(std::ifstream& file) {
  const std::streamoff start = file.tellg();
  file.seekg(0, std::ios::end);
  const std::streamoff end = file.tellg();
  if (!file || start < 0 || end < start) {
    return -1;
  }
  return end - start;
}

// Reads `size` bytes from `offset`; false unless every byte was read.
bool readExactly(std::ifstream& file, std::streamoff offset, std::uint64_t size, Buffer& buffer) {
  buffer.bytes.reset(new (std::nothrow) char[size]);
  buffer.size = size;
  if (!buffer.bytes) {
    return false;
  }
  file.seekg(offset, std::ios::beg);
  file.read(buffer.bytes.get(), static_cast<std::streamsize>(size));
  return file.gcount() == static_cast<std::streamsize>(size);
}

bool readHeader(const std::string& configPath, ImageHeader& header) {
  std::ifstream config;
  if (!openInputFile(configPath, std::ios::binary, config)) {
    printFileError("Can't open cfg file", configPath);
    return false;
  }
  HeaderBytes bytes{};
  config.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (config.gcount() != static_cast<std::streamsize>(bytes.size())) {
    printFileError("Cfg file is shorter than the 72-byte header:", configPath);
    return false;
  }
  header = decodeHeader(bytes);
  return true;
}

BuildResult readResources(const std::string& resourcesPath, Buffer& resources) {
  std::ifstream file;
  if (!openInputFile(resourcesPath, std::ios::binary, file)) {
    printFileError("Can't open cfg file", resourcesPath);
    return BuildResult::resourcesNotOpen;
  }
  const std::streamoff length = fileLength(file);
  if (length < 0) {
    printFileError("Can't read resources file", resourcesPath);
    return BuildResult::resourcesNotOpen;
  }
  // resourcesSize is a 32-bit field; a longer file could not be described.
  if (static_cast<std::uint64_t>(length) > UINT32_MAX) {
    printFileError("Resources file is longer than 4294967295 bytes:", resourcesPath);
    return BuildResult::resourcesNotOpen;
  }
  if (!readExactly(file, 0, static_cast<std::uint64_t>(length), resources)) {
    printFileError("Can't read resources file", resourcesPath);
    return BuildResult::resourcesNotOpen;
  }
  return BuildResult::ok;
}

// After a refusal whose message says what the map rules miss, one line of
// what the ELF file shows and what to change, when it is a real ELF file.
void printLinkHint(const std::string& hint, bool newLineFirst) {
  if (!hint.empty()) {
    std::cout << (newLineFirst ? "\n" : "") << hint << std::endl;
  }
}

// The files of one build.
struct BuildPaths {
  const std::string& map;
  const std::string& config;
  const std::string& elf;
  const std::string& resources;
  const std::string& image;
};

// Whether the file at `path` begins with the ELF magic.
bool startsWithElfMagic(const std::string& path) {
  std::ifstream file;
  std::array<char, 4> magic{};
  return openInputFile(path, std::ios::binary, file) &&
         file.read(magic.data(), static_cast<std::streamsize>(magic.size())) &&
         std::string_view(magic.data(), magic.size()) ==
             "\x7F"
             "ELF";
}

// The diagnosis a refusal of the ELF check is told from: aelfdump's, which
// has read both files already, or, in a build, one made at the first
// refusal, which reads the map again for the lines it points to.
class RefusalDiagnosis {
 public:
  RefusalDiagnosis(const BuildPaths& paths, const LinkDiagnosis* given)
      : paths_(paths), given_(given) {}
  const LinkDiagnosis& get(const MapFacts& map) {
    if (given_ == nullptr) {
      made_ = std::make_unique<LinkDiagnosis>(diagnoseLink(paths_.map, paths_.elf, &map));
      given_ = made_.get();
    }
    return *given_;
  }

 private:
  const BuildPaths& paths_;
  const LinkDiagnosis* given_;
  std::unique_ptr<LinkDiagnosis> made_;
};

// The hint line after a refusal by the map's checks: a map file that is an
// ELF file (-m and -f swapped) is said as such; otherwise the diagnosis
// tells, and runs only when it can show something: with a real ELF file.
// It reads the map again, which for a large map costs far more than the
// build.
void printMapHint(const BuildPaths& paths, const MapFacts& map, bool newLineFirst,
                  std::string (*hint)(const LinkDiagnosis&), RefusalDiagnosis& diagnosis) {
  if (startsWithElfMagic(paths.map)) {
    printLinkHint("The map file '" + paths.map +
                      "' is an ELF file, not the linker's map: -m takes the map (the link writes "
                      "it with -Wl,-Map=FILE), -f the ELF file",
                  newLineFirst);
  } else if (startsWithElfMagic(paths.elf)) {
    printLinkHint(hint(diagnosis.get(map)), newLineFirst);
  }
}

// The ELF check's refusal: the diagnosis's finding for its cause where the
// diagnosis has one, so that pakforge and aelfdump say the same with the
// same code; the check's own words otherwise.
void refuseElf(Messages& m, const std::string& elfPath, const std::string& problem, Rule cause,
               std::string_view fact, const MapFacts& map, RefusalDiagnosis& diagnosis,
               const std::string& inputHint = {}) {
  const std::string lead = "Elf file '" + elfPath + "' does not match the image: ";
  const LinkDiagnosis* d = nullptr;
  const LinkFinding* finding = nullptr;
  if (cause != Rule::none) {
    d = &diagnosis.get(map);
    finding = refusalFinding(*d, cause);
  }
  if (finding != nullptr) {
    m.refuse(lead + refusalText(*finding, fact));
  } else if (cause != Rule::none) {
    m.refuse(lead + "[" + std::string(ruleInfo(cause).code) + "] " + problem);
  } else {
    m.refuse(lead + problem);
  }
  if (!m.build) {
    return;
  }
  if (!inputHint.empty()) {
    m.out << "The ELF file '" << elfPath << "' " << inputHint << "\n";
  } else if (finding != nullptr) {
    m.out << refusalSeeAlso(*d, *finding) << "\n";
  }
}

// A device boots whatever code the image holds, so the code is never padded
// and a real ELF file has the last word: the code range must be the flash
// content it loads, and the code its bytes. Only a file without the ELF
// magic is taken as flat bytes.
BuildResult readCode(const std::string& elfPath, const ImageHeader& header, Buffer& code,
                     Messages& m, const MapFacts& map, RefusalDiagnosis& diagnosis) {
  std::ifstream file;
  if (!openInputFile(elfPath, std::ios::binary, file)) {
    printFileError("Can't open elf file", elfPath, m);
    return BuildResult::elfNotOpen;
  }
  const std::uint64_t offset = elfCodeOffset(header.addrExe);
  const std::streamoff streamLength = fileLength(file);
  if (streamLength < 0) {
    printFileError("Can't read elf file", elfPath, m);
    return BuildResult::elfNotOpen;
  }
  const auto length = static_cast<std::uint64_t>(streamLength);
  // The file's headers are read once, for every check. What can be checked
  // before the code is read fails here, before a code buffer is sized by a
  // wrong range.
  ElfReader reader(file, length);
  ElfCheck check = checkElfAgainstHeader(reader, header);
  if (check.verdict == ElfVerdict::unreadable) {
    m.refuse("Elf file '" + elfPath + "' is not a readable ELF file: " + check.problem);
    return BuildResult::elfNotOpen;
  }
  if (check.verdict == ElfVerdict::disagrees) {
    refuseElf(m, elfPath, check.problem, check.cause, check.fact, map, diagnosis, check.inputHint);
    return BuildResult::elfNotOpen;
  }
  // The device checks that its entry points lie in the code it is given;
  // an image it refuses is no image. A flat file can't vouch for the
  // header, so this is for ELF files, stripped or not.
  if (check.verdict == ElfVerdict::agrees) {
    const int status = deviceCheck(header);
    if (status != 0) {
      refuseElf(m, elfPath,
                deviceRefusal(header, status) + ": the device's check refuses such an image" +
                    (check.symbolsChecked
                         ? std::string()
                         : "; the ELF file has no symbol table to check the map file's "
                           "addresses against (the map file may be from an earlier link)"),
                Rule::none, {}, map, diagnosis);
      return BuildResult::elfNotOpen;
    }
  }
  if (offset + header.appSize > length) {
    // A real ELF file that holds the range can say where it holds it.
    Rule cause = Rule::none;
    const std::string problem =
        check.verdict == ElfVerdict::agrees ? describeMisplacedCode(reader, header, &cause) : "";
    if (!problem.empty()) {
      refuseElf(m, elfPath, problem, cause, {}, map, diagnosis);
    } else {
      printFileError("Elf file ends before the application code does:", elfPath, m);
    }
    return BuildResult::elfNotOpen;
  }
  file.clear();
  if (!readExactly(file, static_cast<std::streamoff>(offset), header.appSize, code)) {
    printFileError("Can't read elf file", elfPath, m);
    return BuildResult::elfNotOpen;
  }
  if (check.verdict == ElfVerdict::agrees) {
    checkCodeAgainstElf(reader, header, {code.bytes.get(), static_cast<std::size_t>(code.size)},
                        check);
    if (check.verdict == ElfVerdict::disagrees) {
      refuseElf(m, elfPath, check.problem, check.cause, check.fact, map, diagnosis);
      return BuildResult::elfNotOpen;
    }
    if (!check.symbolsChecked) {
      // A stripped file is a fair input, but nothing vouches for the five
      // addresses then: say so rather than let success imply it.
      m.out << "The five symbol addresses were taken from the map file unchecked: the ELF file '"
            << elfPath << "' has no symbol table\n";
    }
  }
  return BuildResult::ok;
}

BuildResult writeImage(const std::string& imagePath, const ImageHeader& header, const Buffer& code,
                       const Buffer& resources) {
  OutputFile image;
  if (!image.open(imagePath)) {
    printFileError("Can't create output file", imagePath);
    return BuildResult::imageNotCreated;
  }
  const HeaderBytes headerBytes = encodeHeader(header);
  image.write(kAelfMagic.data(), kAelfMagic.size());
  image.write(reinterpret_cast<const char*>(headerBytes.data()), headerBytes.size());
  image.write(code.bytes.get(), code.size);
  image.write(resources.bytes.get(), resources.size);
  // A partial image must never stand at the path, where the next flashing
  // step would take it; the previous image stays as it was.
  if (!image.finish()) {
    printFileError("Can't write output file", imagePath);
    return BuildResult::imageNotCreated;
  }
  return BuildResult::ok;
}

// Standard error is unbuffered: a section printed piece by piece would cost a
// write for every number and colour. It goes out whole instead, after
// standard output is flushed as before.
template <typename Print, typename Figures>
int printSection(Print print, const Figures& figures) {
  std::ostringstream section;
  const int result = print(figures, section);
  std::cerr << section.view();
  return result;
}

// The one sequence of steps. A build prints its messages and report and
// writes the image; a preview (aelfdump's verdict on a link) runs the same
// steps on the facts of aelfdump's diagnosis with a header template of
// zeros and no resources, keeps its messages plain in `m`, and prints and
// writes nothing.
BuildResult runSteps(const BuildPaths& paths, Messages& m, const LinkDiagnosis* given = nullptr) {
  const bool preview = !m.build;
  std::ostringstream unprinted;
  // The report goes to standard error, or nowhere.
  const auto report = [&](auto print, const auto& figures) {
    if (preview) {
      return print(figures, unprinted);
    }
    return printSection(print, figures);
  };
  // An image written over an input would destroy it; nothing is read or
  // written then.
  if (!preview) {
    if (const std::string* input =
            replacedInput(paths.image, {&paths.map, &paths.config, &paths.elf, &paths.resources})) {
      m.refuse("Can't create output file '" + paths.image + "': it is the input file '" + *input +
               "', which the image would replace");
      return BuildResult::imageNotCreated;
    }
  }
  // One read of the map serves both of its checks; what each found is
  // reported at its own step, in the order users have always seen.
  MapFacts map;
  if (given != nullptr) {
    map = given->checked;
  } else if (!readMapFile(paths.map, map, m.out)) {
    return BuildResult::ramBudgetFailed;
  }
  RefusalDiagnosis diagnosis(paths, given);
  if (report(reportRamBudget, map.ram) != 0) {
    if (!preview) {
      // The over-budget line ends without a line feed.
      printMapHint(paths, map, true, ramHint, diagnosis);
    } else {
      m.out << "Error: Not enough RAM memory on the selected device.";
    }
    return BuildResult::ramBudgetFailed;
  }
  ImageHeader header;
  if (!preview && !readHeader(paths.config, header)) {
    return BuildResult::configNotOpen;
  }
  std::ostringstream scanMessage;
  if (!applyMapSymbols(map.symbols, header, scanMessage)) {
    // The message as it always was: "addrExe not found" ends without a line
    // feed or a flush, the others with both.
    const std::string text = scanMessage.str();
    const bool endsLine = !text.empty() && text.back() == '\n';
    m.out << text;
    if (endsLine) {
      m.out.flush();
    }
    if (!preview) {
      printMapHint(paths, map, !endsLine, symbolScanHint, diagnosis);
    }
    return BuildResult::symbolScanFailed;
  }
  BuildResult result = BuildResult::ok;
  {
    Buffer resources;
    if (!preview) {
      result = readResources(paths.resources, resources);
      if (result != BuildResult::ok) {
        return result;
      }
      header.resourcesSize = static_cast<std::uint32_t>(resources.size);
    }
    Buffer code;
    result = readCode(paths.elf, header, code, m, map, diagnosis);
    if (result == BuildResult::ok && !preview) {
      result = writeImage(paths.image, header, code, resources);
    }
    if (result != BuildResult::ok) {
      return result;
    }
  }
  result = report(checkRomBudget, header) == 0 ? BuildResult::ok : BuildResult::romBudgetExceeded;
  if (result == BuildResult::ok && !preview) {
    m.out << "AELF file '" << paths.image
          << "' has been \033[01;38;05;113msuccessfully\033[0m created\n";
  } else if (preview && result != BuildResult::ok) {
    m.out << "Error: Not enough ROM memory on the selected device.";
  }
  return result;
}

}  // namespace

BuildResult buildImage(const std::string& mapPath, const std::string& configPath,
                       const std::string& elfPath, const std::string& resourcesPath,
                       const std::string& imagePath) {
  Messages m{std::cout, true};
  return runSteps({mapPath, configPath, elfPath, resourcesPath, imagePath}, m);
}

BuildPreview previewBuild(const LinkDiagnosis& diagnosis) {
  const std::string none;
  std::ostringstream messages;
  Messages m{messages, false};
  const BuildResult result =
      runSteps({diagnosis.mapPath, none, diagnosis.elfPath, none, none}, m, &diagnosis);
  if (result == BuildResult::ok) {
    return {};
  }
  std::string text = messages.str();
  while (!text.empty() && text.back() == '\n') {
    text.pop_back();
  }
  return {result, text};
}

}  // namespace pakforge
