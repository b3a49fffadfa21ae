#include "elf/elf_check.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string_view>

#include "elf/elf_reader.h"

namespace pakforge {
namespace {

constexpr std::array<std::string_view, 5> kSymbolNames = {
    "__entryPoint__", "loop", "ModbusHGroups_Table", "ModbusIGroups_Table",
    "ModbusRemoteRegTables"};
constexpr std::array<std::uint32_t ImageHeader::*, 5> kSymbolFields = {
    &ImageHeader::entryPointAddr, &ImageHeader::loopAddr, &ImageHeader::hGroupsTableAddr,
    &ImageHeader::iGroupsTableAddr, &ImageHeader::remoteRegTablesAddr};

std::string hex(std::uint64_t value, int digits = 8) {
  std::array<char, 24> text{};
  std::snprintf(text.data(), text.size(), "0x%0*llX", digits,
                static_cast<unsigned long long>(value));
  return text.data();
}

// The parts of the file a segment fills the device from.
bool segmentsReadable(ElfReader& elf, std::uint64_t length) {
  for (std::uint32_t i = 0; i < elf.segmentCount(); ++i) {
    ElfSegment s;
    if (elf.loadSegment(i, s) && std::uint64_t{s.offset} + s.fileSize > length) {
      return false;
    }
  }
  return true;
}

std::string linkHint(std::uint32_t addrExe) {
  return "link with -n and align .text so that the file holds the flash content as one block "
         "from offset " +
         hex(elfCodeOffset(addrExe), 1);
}

bool checkSymbols(ElfReader& elf, const ImageHeader& header, std::string& problem) {
  std::array<bool, 5> found{};
  std::array<std::uint32_t, 5> values{};
  if (!elf.findGlobalSymbols(kSymbolNames, found, values)) {
    return true;
  }
  for (std::size_t i = 0; i < kSymbolNames.size(); ++i) {
    const std::uint32_t inHeader = header.*kSymbolFields[i];
    // Thumb code addresses carry bit 0 in the symbol table, not in GNU ld's
    // map; either way they name the same instruction.
    if (found[i] && ((values[i] ^ inHeader) & ~std::uint32_t{1}) != 0) {
      problem = std::string(kSymbolNames[i]) + " is " + hex(values[i]) + " in the ELF but " +
                hex(inHeader) +
                " in the map file (the map file may be from an earlier link, or give the "
                "address of a local symbol of that name)";
      return false;
    }
  }
  return true;
}

bool checkCodeBytes(ElfReader& elf, const ImageHeader& header, std::span<const char> code,
                    std::string& problem) {
  const std::uint64_t codeStart = header.addrExe;
  const std::uint64_t codeEnd = codeStart + code.size();
  std::array<char, 4096> bytes{};
  for (std::uint32_t i = 0; i < elf.segmentCount(); ++i) {
    ElfSegment s;
    if (!elf.loadSegment(i, s)) {
      continue;
    }
    const std::uint64_t from = std::max<std::uint64_t>(s.physicalAddress, codeStart);
    const std::uint64_t to = std::min(std::uint64_t{s.physicalAddress} + s.fileSize, codeEnd);
    for (std::uint64_t at = from; at < to;) {
      const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), to - at));
      const std::uint64_t fileOffset = s.offset + (at - s.physicalAddress);
      if (!elf.readAt(fileOffset, std::span<char>(bytes.data(), n))) {
        problem = "the ELF file can't be read at offset " + hex(fileOffset, 1);
        return false;
      }
      const auto image = code.subspan(static_cast<std::size_t>(at - codeStart), n);
      const auto differ =
          std::mismatch(bytes.begin(), bytes.begin() + static_cast<long>(n), image.begin());
      if (differ.first != bytes.begin() + static_cast<long>(n)) {
        const std::uint64_t address = at + static_cast<std::uint64_t>(differ.first - bytes.begin());
        const std::uint64_t inFile = s.offset + (address - s.physicalAddress);
        const std::uint64_t used = elfCodeOffset(header.addrExe) + (address - codeStart);
        problem = "the code differs from the ELF at " + hex(address) + " (code byte " +
                  std::to_string(address - codeStart) + ")";
        if (inFile != used) {
          problem += ": the ELF file holds that byte at offset " + hex(inFile, 1) + ", not " +
                     hex(used, 1) + "; " + linkHint(header.addrExe);
        }
        return false;
      }
      at += n;
    }
  }
  return true;
}

bool checkFlashCovered(ElfReader& elf, const ImageHeader& header, std::uint64_t appSize,
                       std::string& problem) {
  const std::uint64_t codeStart = header.addrExe;
  const std::uint64_t codeEnd = codeStart + appSize;
  const std::string range = hex(codeStart) + "-" + hex(codeEnd);
  for (std::uint32_t i = 0; i < elf.segmentCount(); ++i) {
    ElfSegment s;
    if (!elf.loadSegment(i, s)) {
      continue;
    }
    const std::uint64_t from = std::max<std::uint64_t>(s.physicalAddress, FLASH_BASE);
    const std::uint64_t to =
        std::min<std::uint64_t>(std::uint64_t{s.physicalAddress} + s.fileSize, ROM_LIMIT);
    if (from >= to) {
      continue;
    }
    if (from < codeStart) {
      const std::uint64_t end = std::min(to, codeStart);
      problem = "the ELF loads " + std::to_string(end - from) + " bytes at " + hex(from) +
                " that the code range " + range +
                " leaves out; the code range starts at the first line of the map holding .text, "
                "so nothing may be placed in the flash before it";
      return false;
    }
    if (to > codeEnd) {
      const std::uint64_t start = std::max(from, codeEnd);
      problem = "the ELF loads " + std::to_string(to - start) + " bytes at " + hex(start) +
                " that the code range " + range +
                " leaves out; the code range must end after the last flash content, the initial "
                "values of .data included (in a map from LLD an assignment line shows the "
                "location counter, not the value assigned: move the location counter there)";
      return false;
    }
  }
  return true;
}

}  // namespace

bool describeMisplacedCode(std::istream& elf, std::uint64_t length, const ImageHeader& header,
                           std::string& problem) {
  ElfReader reader(elf, length);
  if (!reader.open()) {
    return false;
  }
  for (std::uint32_t i = 0; i < reader.segmentCount(); ++i) {
    ElfSegment s;
    if (reader.loadSegment(i, s) && header.addrExe >= s.physicalAddress &&
        header.addrExe - s.physicalAddress < s.fileSize) {
      const std::uint64_t inFile = std::uint64_t{s.offset} + (header.addrExe - s.physicalAddress);
      problem = "the ELF holds the code at file offset " + hex(inFile, 1) + ", not " +
                hex(elfCodeOffset(header.addrExe), 1) + "; " + linkHint(header.addrExe);
      return true;
    }
  }
  return false;
}

ElfVerdict checkImageAgainstElf(std::istream& elf, std::uint64_t length, const ImageHeader& header,
                                std::span<const char> code, std::string& problem) {
  ElfReader reader(elf, length);
  if (!reader.open() || !segmentsReadable(reader, length)) {
    return ElfVerdict::notElf;
  }
  const bool agrees = checkSymbols(reader, header, problem) &&
                      checkCodeBytes(reader, header, code, problem) &&
                      checkFlashCovered(reader, header, code.size(), problem);
  return agrees ? ElfVerdict::agrees : ElfVerdict::disagrees;
}

}  // namespace pakforge
