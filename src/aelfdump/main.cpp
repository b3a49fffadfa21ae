// aelfdump: prints what an AELF image holds, as text or as one JSON object.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "driver/rom_budget.h"
#include "elf/elf_check.h"
#include "format/aelf_image.h"
#include "format/image_header.h"
#include "format/input_file.h"
#include "platform/platform.h"

namespace {

using pakforge::AelfImage;
using pakforge::HeaderField;
using pakforge::ImageHeader;
using pakforge::ImageProblem;
using pakforge::kHeaderFields;
using pakforge::kImagePrefixSize;

// The outcome of `--elf`: whether the image's header and code agree with
// the ELF file.
struct ElfCheck {
  std::string path;
  pakforge::ElfVerdict verdict = pakforge::ElfVerdict::notElf;
  std::string problem;
};

std::string hex32(std::uint32_t value) {
  char text[11];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

// Labels and values in two columns.
std::string label(std::string_view text) {
  std::string padded(text);
  padded.resize(std::max<std::size_t>(padded.size() + 1, 21), ' ');
  return padded;
}

std::string jsonString(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[7];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// Symbols the firmware calls into should lie in the code the image carries.
std::vector<std::string> symbolWarnings(const ImageHeader& h) {
  std::vector<std::string> warnings;
  const std::uint64_t start = h.addrExe;
  const std::uint64_t end = start + h.appSize;
  for (const HeaderField& field : kHeaderFields) {
    if (!field.named || field.offset > 16) {
      continue;
    }
    const std::uint32_t address = h.*field.member;
    if (address < start || address > end) {
      warnings.push_back(std::string(field.name) + " " + hex32(address) +
                         " lies outside the code, " + hex32(h.addrExe) + " to " +
                         hex32(static_cast<std::uint32_t>(end)) +
                         (end > UINT32_MAX ? " (past 4 GiB)" : ""));
    }
  }
  return warnings;
}

std::string_view verdictText(pakforge::ElfVerdict verdict) {
  switch (verdict) {
    case pakforge::ElfVerdict::agrees:
      return "matches";
    case pakforge::ElfVerdict::disagrees:
      return "differs";
    case pakforge::ElfVerdict::notElf:
      break;
  }
  return "not checkable";
}

void printText(const std::string& path, const AelfImage& image,
               const std::optional<ElfCheck>& elf) {
  const ImageHeader& h = image.header;
  const pakforge::RomFigures rom = pakforge::romFigures(h);
  std::cout << label("image") << "'" << path << "'\n" << label("magic") << "AELF\n";
  for (const HeaderField& field : kHeaderFields) {
    if (field.named) {
      std::cout << field.name << std::string(21 - field.name.size(), ' ') << hex32(h.*field.member)
                << "\n";
    }
  }
  for (const HeaderField& field : kHeaderFields) {
    if (!field.named) {
      std::cout << label("word at offset " + std::to_string(field.offset)) << hex32(h.*field.member)
                << "\n";
    }
  }
  std::cout << label("code") << h.appSize << " bytes at offset " << kImagePrefixSize << "\n"
            << label("resources") << h.resourcesSize << " bytes at offset "
            << kImagePrefixSize + h.appSize << "\n"
            << label("ROM limit") << rom.limit << " bytes\n"
            << label("ROM total") << rom.total << " bytes\n"
            << label("ROM free") << rom.free << " bytes\n";
  if (elf) {
    std::cout << label("ELF file") << "'" << elf->path << "' " << verdictText(elf->verdict) << "\n";
  }
}

void printJson(const std::string& path, const AelfImage& image,
               const std::vector<std::string>& warnings, const std::optional<ElfCheck>& elf) {
  const ImageHeader& h = image.header;
  const pakforge::RomFigures rom = pakforge::romFigures(h);
  std::cout << "{\"image\": " << jsonString(path) << ", \"magic\": \"AELF\", \"header\": {";
  const char* separator = "";
  for (const HeaderField& field : kHeaderFields) {
    if (field.named) {
      std::cout << separator << "\"" << field.name << "\": " << h.*field.member;
      separator = ", ";
    }
  }
  std::cout << "}, \"carried\": {";
  separator = "";
  for (const HeaderField& field : kHeaderFields) {
    if (!field.named) {
      std::cout << separator << "\"" << field.offset << "\": " << h.*field.member;
      separator = ", ";
    }
  }
  std::cout << "}, \"code\": {\"offset\": " << kImagePrefixSize << ", \"length\": " << h.appSize
            << "}, \"resources\": {\"offset\": " << kImagePrefixSize + h.appSize
            << ", \"length\": " << h.resourcesSize << "}, \"rom\": {\"limit\": " << rom.limit
            << ", \"total\": " << rom.total << ", \"free\": " << rom.free << "}, \"warnings\": [";
  separator = "";
  for (const std::string& warning : warnings) {
    std::cout << separator << jsonString(warning);
    separator = ", ";
  }
  std::cout << "]";
  if (elf) {
    std::cout << ", \"elf\": {\"path\": " << jsonString(elf->path)
              << ", \"verdict\": " << jsonString(verdictText(elf->verdict))
              << ", \"problem\": " << jsonString(elf->problem) << "}";
  }
  std::cout << "}\n";
}

// Reads the image's code and checks it against the ELF file; false when a
// file can't be opened or read.
bool checkElf(const std::string& imagePath, const AelfImage& image, ElfCheck& check) {
  std::ifstream imageFile;
  std::ifstream elf;
  if (!pakforge::openInputFile(imagePath, std::ios::binary, imageFile) ||
      !pakforge::openInputFile(check.path, std::ios::binary, elf)) {
    return false;
  }
  // The image's length was checked against its header: appSize bytes are there.
  const std::unique_ptr<char[]> code(new (std::nothrow) char[image.header.appSize]);
  imageFile.seekg(static_cast<std::streamoff>(kImagePrefixSize));
  imageFile.read(code.get(), image.header.appSize);
  elf.seekg(0, std::ios::end);
  const std::streamoff length = elf.tellg();
  if (!code || !imageFile || !elf || length < 0) {
    return false;
  }
  check.verdict =
      pakforge::checkImageAgainstElf(elf, static_cast<std::uint64_t>(length), image.header,
                                     {code.get(), image.header.appSize}, check.problem);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  pakforge::platform::setUpConsole();
  const std::vector<std::string> arguments = pakforge::platform::arguments(argc, argv);
  const std::vector<std::string_view> args(arguments.begin() + (arguments.empty() ? 0 : 1),
                                           arguments.end());
  bool json = false;
  std::optional<ElfCheck> elf;
  std::size_t next = 0;
  for (; next + 1 < args.size(); ++next) {
    if (args[next] == "--json") {
      json = true;
    } else if (args[next] == "--elf" && next + 2 < args.size() && !elf) {
      elf.emplace();
      elf->path = args[++next];
    } else {
      break;
    }
  }
  if (next + 1 != args.size() || args[next].substr(0, 2) == "--") {
    std::cerr << "usage: aelfdump [--json] [--elf ELF] IMAGE\n";
    return 2;
  }
  const std::string path(args.back());
  AelfImage image;
  switch (pakforge::readAelfImage(path, image)) {
    case ImageProblem::none:
      break;
    case ImageProblem::cannotOpen:
      std::cerr << "aelfdump: can't open '" << path << "'\n";
      return 1;
    case ImageProblem::notAelf:
      std::cerr << "aelfdump: '" << path << "' is not an AELF image: it does not start with AELF\n";
      return 3;
    case ImageProblem::tooShort:
      std::cerr << "aelfdump: '" << path << "' is " << image.fileSize
                << " bytes long, shorter than the " << kImagePrefixSize
                << " bytes of magic and header\n";
      return 4;
    case ImageProblem::lengthMismatch:
      std::cerr << "aelfdump: '" << path << "' is " << image.fileSize
                << " bytes long, but its header describes " << kImagePrefixSize << " + appSize "
                << image.header.appSize << " + resourcesSize " << image.header.resourcesSize
                << " = "
                << std::uint64_t{kImagePrefixSize} + image.header.appSize +
                       image.header.resourcesSize
                << " bytes\n";
      return 5;
  }
  if (elf && !checkElf(path, image, *elf)) {
    std::cerr << "aelfdump: can't read '" << elf->path << "'\n";
    return 1;
  }
  const std::vector<std::string> warnings = symbolWarnings(image.header);
  for (const std::string& warning : warnings) {
    std::cerr << "aelfdump: warning: " << warning << "\n";
  }
  if (json) {
    printJson(path, image, warnings, elf);
  } else {
    printText(path, image, elf);
  }
  if (!elf) {
    return 0;
  }
  switch (elf->verdict) {
    case pakforge::ElfVerdict::agrees:
      return 0;
    case pakforge::ElfVerdict::disagrees:
      std::cerr << "aelfdump: '" << path << "' does not match '" << elf->path
                << "': " << elf->problem << "\n";
      return 6;
    case pakforge::ElfVerdict::notElf:
      break;
  }
  std::cerr << "aelfdump: '" << elf->path
            << "' is no 32-bit little-endian ELF file that can be read: nothing to check against\n";
  return 7;
}
