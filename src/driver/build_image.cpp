#include "driver/build_image.h"

#include <cstdint>
#include <filesystem>
#include <iostream>
#include <memory>
#include <new>
#include <string_view>
#include <system_error>

#include "driver/rom_budget.h"
#include "format/image_header.h"
#include "format/input_file.h"
#include "mapfile/ram_budget.h"
#include "mapfile/symbol_scan.h"

namespace pakforge {
namespace {

constexpr std::string_view kRed = "\033[31m";
constexpr std::string_view kReset = "\033[0m";

void printFileError(std::string_view what, const std::string& path) {
  std::cout << kRed << what << " '" << path << "'" << kReset << "\n";
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

// A device boots whatever code the image holds, so the code is never padded:
// an ELF file that ends early fails the build before anything is allocated.
BuildResult readCode(const std::string& elfPath, const ImageHeader& header, Buffer& code) {
  std::ifstream file;
  if (!openInputFile(elfPath, std::ios::binary, file)) {
    printFileError("Can't open elf file", elfPath);
    return BuildResult::elfNotOpen;
  }
  const std::uint64_t offset = elfCodeOffset(header.addrExe);
  const std::streamoff length = fileLength(file);
  if (length < 0) {
    printFileError("Can't read elf file", elfPath);
    return BuildResult::elfNotOpen;
  }
  if (offset + header.appSize > static_cast<std::uint64_t>(length)) {
    printFileError("Elf file ends before the application code does:", elfPath);
    return BuildResult::elfNotOpen;
  }
  if (!readExactly(file, static_cast<std::streamoff>(offset), header.appSize, code)) {
    printFileError("Can't read elf file", elfPath);
    return BuildResult::elfNotOpen;
  }
  return BuildResult::ok;
}

bool writeAll(std::ofstream& image, const char* bytes, std::uint64_t size) {
  image.write(bytes, static_cast<std::streamsize>(size));
  return static_cast<bool>(image);
}

BuildResult writeImage(const std::string& imagePath, const ImageHeader& header, const Buffer& code,
                       const Buffer& resources) {
  std::ofstream image(imagePath, std::ios::binary | std::ios::trunc);
  if (!image.is_open()) {
    printFileError("Can't create output file", imagePath);
    return BuildResult::imageNotCreated;
  }
  const HeaderBytes headerBytes = encodeHeader(header);
  bool written =
      writeAll(image, kAelfMagic.data(), kAelfMagic.size()) &&
      writeAll(image, reinterpret_cast<const char*>(headerBytes.data()), headerBytes.size()) &&
      writeAll(image, code.bytes.get(), code.size) &&
      writeAll(image, resources.bytes.get(), resources.size);
  image.close();
  written = written && !image.fail();
  if (!written) {
    // A partial image must not be mistaken for a good one and flashed.
    printFileError("Can't write output file", imagePath);
    std::error_code ec;
    if (std::filesystem::is_regular_file(imagePath, ec)) {
      std::filesystem::remove(imagePath, ec);
    }
    return BuildResult::imageNotCreated;
  }
  return BuildResult::ok;
}

}  // namespace

BuildResult buildImage(const std::string& mapPath, const std::string& configPath,
                       const std::string& elfPath, const std::string& resourcesPath,
                       const std::string& imagePath) {
  if (checkRamBudget(mapPath) != 0) {
    return BuildResult::ramBudgetFailed;
  }
  ImageHeader header;
  if (!readHeader(configPath, header)) {
    return BuildResult::configNotOpen;
  }
  if (!scanMapSymbols(mapPath, header)) {
    return BuildResult::symbolScanFailed;
  }
  BuildResult result = BuildResult::ok;
  {
    Buffer resources;
    result = readResources(resourcesPath, resources);
    if (result != BuildResult::ok) {
      return result;
    }
    header.resourcesSize = static_cast<std::uint32_t>(resources.size);
    Buffer code;
    result = readCode(elfPath, header, code);
    if (result != BuildResult::ok) {
      return result;
    }
    result = writeImage(imagePath, header, code, resources);
    if (result != BuildResult::ok) {
      return result;
    }
  }
  result =
      checkRomBudget(header, std::cerr) == 0 ? BuildResult::ok : BuildResult::romBudgetExceeded;
  if (result == BuildResult::ok) {
    std::cout << "AELF file '" << imagePath
              << "' has been \033[01;38;05;113msuccessfully\033[0m created\n";
  }
  return result;
}

}  // namespace pakforge
