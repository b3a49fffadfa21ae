// Helpers for the tests that run the built programs: files in a private
// folder holding the example firmware's inputs, and a way to run a program
// there and collect its exit status and output.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "pakforge/aelf.h"
#include "run_program.h"

namespace pakforge::testing_support {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

inline Bytes readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

inline void writeFile(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

inline void writeText(const fs::path& path, const std::string& text) {
  writeFile(path, Bytes(text.begin(), text.end()));
}

inline std::string text(const Bytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

inline void putWord(Bytes& bytes, std::size_t offset, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) {
    bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

inline Bytes pattern(std::size_t size, unsigned seed) {
  Bytes b(size);
  for (std::size_t i = 0; i < size; ++i) {
    b[i] = static_cast<std::uint8_t>((i * seed + seed / 2) & 0xFF);
  }
  return b;
}

struct Outcome {
  int status;
  std::string out;
  std::string err;
  std::string both;  // standard output and error through one descriptor
};

// The example firmware's inputs in a private folder, and pakforge run on them.
class ExampleBuild : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = makeTemporaryFolder();
    fs::create_directory(dir_ / "work");
    // The example build: code 0x5000 bytes at 0x08020000, Modbus 4096 bytes.
    writeText(dir_ / "output.map", readMap());
    config_ = pattern(80, 7);
    putWord(config_, 40, 0x1000);
    putWord(config_, 60, 0);
    writeFile(dir_ / "output_CFG.bin", config_);
    elf_ = pattern(0x20000 + 0x5000, 11);
    writeFile(dir_ / "output.elf", elf_);
    resources_ = pattern(16384, 13);
    writeFile(dir_ / "output_RES.bin", resources_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  static std::string readMap() { return text(readFile(PAKFORGE_DEMO_MAP)); }

  // Runs pakforge in dir_/work, so the defaults name the files in dir_.
  // Every image a build writes with success is one a device's loader takes.
  Outcome run(const std::vector<std::string>& args) {
    Outcome r = runProgram(PAKFORGE_EXE, args);
    std::string image = "../prog.alf";
    for (std::size_t i = 0; i + 1 < args.size(); ++i) {
      if (args[i] == "-o") {
        image = args[i + 1];
      }
    }
    const fs::path written = dir_ / "work" / fs::path(std::u8string(image.begin(), image.end()));
    std::error_code ec;
    if (r.status == 0 && loaderTakesImages_ && fs::is_regular_file(written, ec)) {
      const Bytes bytes = readFile(written);
      aelf_image checked{};
      const aelf_status status = aelf_check(bytes.data(), bytes.size(), &checked);
      EXPECT_EQ(status, AELF_OK) << image << ": " << aelf_status_text(status);
    }
    return r;
  }

  Outcome runProgram(const std::string& program, const std::vector<std::string>& args) {
    const fs::path out = dir_ / "stdout", err = dir_ / "stderr", both = dir_ / "both";
    const int status = testing_support::runProgram(program, args, dir_ / "work", out, err);
    // pakforge is deterministic: the second run, through one descriptor,
    // must end as the first did, or its text is not the same run's.
    const int again = testing_support::runProgram(program, args, dir_ / "work", both, both);
    EXPECT_EQ(again, status) << "the run with one descriptor for both outputs ended otherwise";
    return {status, text(readFile(out)), text(readFile(err)), text(readFile(both))};
  }

  // Names are UTF-8 on every system (a plain std::string would be taken in
  // the ANSI code page on Windows).
  fs::path path(const std::string& name) const {
    return dir_ / fs::path(std::u8string(name.begin(), name.end()));
  }

  // The image the example inputs must give, built from the layout directly.
  Bytes expectedImage(std::uint32_t codeOffset = 0x20000, std::uint32_t appSize = 0x5000) const {
    Bytes header(config_.begin(), config_.begin() + 72);
    putWord(header, 0, 0x8020000);
    putWord(header, 4, 0x8020400);
    putWord(header, 8, 0x8023000);
    putWord(header, 12, 0x8023400);
    putWord(header, 16, 0x8023800);
    putWord(header, 28, 0x8020000);
    putWord(header, 32, appSize);
    putWord(header, 44, static_cast<std::uint32_t>(resources_.size()));
    Bytes image;
    image.reserve(76 + appSize + resources_.size());
    for (char c : std::string("AELF")) {
      image.push_back(static_cast<std::uint8_t>(c));
    }
    image.insert(image.end(), header.begin(), header.end());
    image.insert(image.end(), elf_.begin() + codeOffset, elf_.begin() + codeOffset + appSize);
    image.insert(image.end(), resources_.begin(), resources_.end());
    return image;
  }

  fs::path dir_;
  Bytes config_, elf_, resources_;
  // False for a test whose inputs make an image a loader must refuse.
  bool loaderTakesImages_ = true;
};

}  // namespace pakforge::testing_support
