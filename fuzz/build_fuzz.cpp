// Whole builds whose map file, configuration header and command-line words
// come from the fuzzer, in a private folder. Checks the result codes and
// that an image exists only when one should, laid out as its header says.
#include <stdlib.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "driver/build_image.h"
#include "driver/command_line.h"
#include "format/image_header.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<char>;

fs::path folder;
std::vector<std::string> vocabulary;

fs::path at(const char* name) {
  return folder / name;
}

Bytes readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const fs::path& path, const char* bytes, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes, static_cast<std::streamsize>(size));
}

std::uint32_t wordAt(const Bytes& bytes, std::size_t offset) {
  std::uint32_t value = 0;
  for (std::size_t i = 4; i-- > 0;) {
    value = (value << 8) | static_cast<std::uint8_t>(bytes[offset + i]);
  }
  return value;
}

void check(bool ok) {
  if (!ok)
    std::abort();
}

bool sameBytes(const char* a, const char* b, std::size_t size) {
  return size == 0 || std::memcmp(a, b, size) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string name = (fs::temp_directory_path() / "pakforge-fuzz-XXXXXX").string();
  if (mkdtemp(name.data()) == nullptr)
    std::abort();
  folder = name;
  fs::create_directory(at("dir"));
  // Code for 0x08020000 sits at offset 0x20000; keep room for a little more.
  Bytes elf(0x30000);
  for (std::size_t i = 0; i < elf.size(); ++i)
    elf[i] = static_cast<char>(i * 7);
  writeFile(at("output.elf"), elf.data(), elf.size());
  const Bytes resources(1000, 'r');
  writeFile(at("output_RES.bin"), resources.data(), resources.size());
  vocabulary = {"-m",
                "-c",
                "-f",
                "-r",
                "-o",
                "-x",
                "--m",
                "-M",
                at("output.map"),
                at("output_CFG.bin"),
                at("output.elf"),
                at("output_RES.bin"),
                at("prog.alf"),
                at("missing"),
                at("dir"),
                "/dev/null",
                at("dir/no/prog.alf")};
  // The report and messages are not what is checked here.
  std::cout.rdbuf(nullptr);
  std::cerr.rdbuf(nullptr);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::size_t pos = 0;
  const auto take = [&]() -> std::uint8_t { return pos < size ? data[pos++] : 0; };
  std::vector<std::string> words = {"pakforge"};
  for (std::size_t n = take() % 9; n > 0; --n) {
    words.push_back(vocabulary[take() % vocabulary.size()]);
  }
  const std::size_t configSize = std::min<std::size_t>(take(), size - std::min(pos, size));
  const char* rest = reinterpret_cast<const char*>(data) + std::min(pos, size);
  writeFile(at("output_CFG.bin"), rest, configSize);
  pos = std::min(pos + configSize, size);
  writeFile(at("output.map"), reinterpret_cast<const char*>(data) + pos, size - pos);

  std::vector<const char*> argv;
  for (const std::string& w : words)
    argv.push_back(w.c_str());
  pakforge::CommandLine commandLine =
      pakforge::parseCommandLine(static_cast<int>(argv.size()), argv.data());
  pakforge::BuildPaths& p = commandLine.paths;
  // The defaults name the parent folder; in here every path is explicit.
  // Writing over the ELF or resources files would change later runs.
  for (std::string* path : {&p.map, &p.config, &p.elf, &p.resources}) {
    if (path->rfind("./../", 0) == 0)
      *path = at(path->c_str() + 5);
  }
  if (p.image != at("dir") && p.image != at("dir/no/prog.alf")) {
    p.image = at("prog.alf");
  }
  std::error_code ec;
  fs::remove(at("prog.alf"), ec);

  const int result =
      static_cast<int>(pakforge::buildImage(p.map, p.config, p.elf, p.resources, p.image));
  const bool imageWritten = fs::exists(at("prog.alf"));
  switch (result) {
    case 0:
    case -6:
      break;
    case -1:
    case -2:
    case -3:
    case -4:
    case -5:
    case -10:
      check(!imageWritten);
      return 0;
    default:
      std::abort();
  }
  if (p.image != at("prog.alf"))
    return 0;
  check(imageWritten);
  const Bytes image = readFile(p.image);
  check(image.size() >= pakforge::kImagePrefixSize);
  check(std::memcmp(image.data(), "AELF", 4) == 0);
  const std::uint32_t addrExe = wordAt(image, 4 + 28);
  const std::uint32_t appSize = wordAt(image, 4 + 32);
  const std::uint32_t resourcesSize = wordAt(image, 4 + 44);
  check(image.size() == pakforge::kImagePrefixSize + appSize + resourcesSize);
  const Bytes elf = readFile(p.elf);
  const std::size_t offset = pakforge::elfCodeOffset(addrExe);
  check(offset + appSize <= elf.size());
  check(sameBytes(image.data() + pakforge::kImagePrefixSize, elf.data() + offset, appSize));
  const Bytes resources = readFile(p.resources);
  check(resources.size() == resourcesSize);
  check(sameBytes(image.data() + pakforge::kImagePrefixSize + appSize, resources.data(),
                  resourcesSize));
  const Bytes config = readFile(p.config);
  for (std::size_t carried : {20u, 24u, 36u, 40u, 48u, 52u, 56u, 60u, 64u, 68u}) {
    check(std::memcmp(image.data() + 4 + carried, config.data() + carried, 4) == 0);
  }
  return 0;
}
