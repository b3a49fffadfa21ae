#include "aelfdump/image_mode.h"

#include <cstdint>
#include <fstream>
#include <iostream>
#include <memory>
#include <new>
#include <string_view>
#include <vector>

#include "aelfdump/json_text.h"
#include "driver/rom_budget.h"
#include "elf/elf_check.h"
#include "format/aelf_image.h"
#include "format/hex_text.h"
#include "format/image_header.h"
#include "format/input_file.h"

namespace pakforge::aelfdump {
namespace {

// The outcome of `--elf`: whether the image's header and code agree with
// the ELF file.
struct ElfAgreement {
  std::string path;
  ElfCheck check;
};

// The tables the firmware reads should lie in the code the image carries;
// the entry points must, and the device's check says so.
std::vector<std::string> symbolWarnings(const ImageHeader& h) {
  std::vector<std::string> warnings;
  const std::uint64_t start = h.addrExe;
  const std::uint64_t end = start + h.appSize;
  for (const HeaderField& field : kHeaderFields) {
    if (!field.named || field.offset < 8 || field.offset > 16) {
      continue;
    }
    const std::uint32_t address = h.*field.member;
    if (address < start || address > end) {
      warnings.push_back(std::string(field.name) + " " + hexText(address) +
                         " lies outside the code, " + hexText(h.addrExe) + " to " +
                         hexText(static_cast<std::uint32_t>(end)) +
                         (end > UINT32_MAX ? " (past 4 GiB)" : ""));
    }
  }
  return warnings;
}

std::string_view verdictText(ElfVerdict verdict) {
  switch (verdict) {
    case ElfVerdict::agrees:
      return "matches";
    case ElfVerdict::disagrees:
      return "differs";
    case ElfVerdict::notElf:
    case ElfVerdict::unreadable:
      break;
  }
  return "not checkable";
}

constexpr std::string_view kNoSymbols =
    "the symbols could not be checked: the ELF file has no symbol table";

void printText(const std::string& path, const AelfImage& image,
               const std::optional<ElfAgreement>& elf) {
  const ImageHeader& h = image.header;
  const RomFigures rom = romFigures(h);
  std::cout << label("image") << "'" << path << "'\n" << label("magic") << "AELF\n";
  for (const HeaderField& field : kHeaderFields) {
    if (field.named) {
      std::cout << label(field.name) << hexText(h.*field.member) << "\n";
    }
  }
  for (const HeaderField& field : kHeaderFields) {
    if (!field.named) {
      std::cout << label("word at offset " + std::to_string(field.offset))
                << hexText(h.*field.member) << "\n";
    }
  }
  std::cout << label("code") << h.appSize << " bytes at offset " << kImagePrefixSize << "\n"
            << label("resources") << h.resourcesSize << " bytes at offset "
            << kImagePrefixSize + h.appSize << "\n"
            << label("ROM limit") << rom.limit << " bytes\n"
            << label("ROM total") << rom.total << " bytes\n"
            << label("ROM free") << rom.free << " bytes\n";
  if (elf) {
    std::cout << label("ELF file") << "'" << elf->path << "' " << verdictText(elf->check.verdict);
    if (elf->check.verdict == ElfVerdict::agrees && !elf->check.symbolsChecked) {
      std::cout << " (" << kNoSymbols << ")";
    }
    std::cout << "\n";
  }
}

void printJson(const std::string& path, const AelfImage& image,
               const std::vector<std::string>& warnings, const std::optional<ElfAgreement>& elf) {
  const ImageHeader& h = image.header;
  const RomFigures rom = romFigures(h);
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
              << ", \"verdict\": " << jsonString(verdictText(elf->check.verdict))
              << ", \"symbolsChecked\": " << (elf->check.symbolsChecked ? "true" : "false")
              << ", \"problem\": " << jsonString(elf->check.problem) << "}";
  }
  std::cout << "}\n";
}

enum class ElfRead { ok, cannotOpen, cannotAllocate };

// Reads the image's code and checks it against the ELF file.
ElfRead checkElf(const std::string& imagePath, const AelfImage& image, ElfAgreement& elf) {
  std::ifstream imageFile;
  std::ifstream elfFile;
  if (!openInputFile(imagePath, std::ios::binary, imageFile) ||
      !openInputFile(elf.path, std::ios::binary, elfFile)) {
    return ElfRead::cannotOpen;
  }
  // The image's length was checked against its header: appSize bytes are
  // there, but up to 4 GiB of them.
  const std::unique_ptr<char[]> code(new (std::nothrow) char[image.header.appSize]);
  if (!code) {
    return ElfRead::cannotAllocate;
  }
  imageFile.seekg(static_cast<std::streamoff>(kImagePrefixSize));
  imageFile.read(code.get(), image.header.appSize);
  elfFile.seekg(0, std::ios::end);
  const std::streamoff length = elfFile.tellg();
  if (!imageFile || !elfFile || length < 0) {
    return ElfRead::cannotOpen;
  }
  elf.check = checkImageAgainstElf(elfFile, static_cast<std::uint64_t>(length), image.header,
                                   {code.get(), image.header.appSize}, HeaderSource::image);
  return ElfRead::ok;
}

}  // namespace

int dumpImage(const std::string& path, bool json, const std::optional<std::string>& elfPath) {
  AelfImage image;
  switch (readAelfImage(path, image)) {
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
    case ImageProblem::deviceRefuses:
      break;
  }
  std::optional<ElfAgreement> elf;
  if (elfPath) {
    elf.emplace();
    elf->path = *elfPath;
    switch (checkElf(path, image, *elf)) {
      case ElfRead::ok:
        break;
      case ElfRead::cannotOpen:
        std::cerr << "aelfdump: can't read '" << elf->path << "'\n";
        return 1;
      case ElfRead::cannotAllocate:
        std::cerr << "aelfdump: can't allocate " << image.header.appSize
                  << " bytes for the code of '" << path << "' to check it against '" << elf->path
                  << "'\n";
        return 7;
    }
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
  // A loader runs the same check and would not start it.
  if (image.deviceStatus != 0) {
    std::cerr << "aelfdump: '" << path << "' is refused by the device's check: "
              << deviceRefusal(image.header, image.deviceStatus) << "\n";
    return 9;
  }
  if (!elf) {
    return 0;
  }
  switch (elf->check.verdict) {
    case ElfVerdict::agrees:
      return 0;
    case ElfVerdict::disagrees:
      std::cerr << "aelfdump: '" << path << "' does not match '" << elf->path
                << "': " << elf->check.problem << "\n";
      return 6;
    case ElfVerdict::unreadable:
      std::cerr << "aelfdump: '" << elf->path
                << "' is not a readable ELF file: " << elf->check.problem << "\n";
      return 7;
    case ElfVerdict::notElf:
      break;
  }
  std::cerr << "aelfdump: '" << elf->path << "' is no ELF file: nothing to check against\n";
  return 7;
}

}  // namespace pakforge::aelfdump
