// Runs the pakforge executable on files in a private folder and checks its
// exact output, exit status and the files it leaves.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

const std::string kGreen = "\033[01;38;05;113m";
const std::string kReset = "\033[0m";
const std::string kBanner = "pakforge v1.0.2\n";
const std::string kRamSection =
    "\n---------  RAM  -----------\n"
    "App RAM data size = 1024/32768 Bytes (3.125/100%)\n"
    "Free space = " +
    kGreen + "31744" + kReset + " Bytes (" + kGreen + "96.875" + kReset +
    "/100%)\n"
    "---------------------------\n\n";
const std::string kRomSection =
    "\n---------  ROM  -----------\n"
    "App size = 20480 Bytes (15.6863%)\n"
    "Resources size = 16384 Bytes (12.549%)\n"
    "Modbus table size = 4096 Bytes (3.13725%)\n"
    "Total size = 40960/130560 Bytes (31.3725/100%)\n"
    "Free space = " +
    kGreen + "89600" + kReset + " Bytes (" + kGreen + "68.6274" + kReset +
    "/100%)\n"
    "---------------------------\n\n";

std::string quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return q + "'";
}

Bytes readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

void writeText(const fs::path& path, const std::string& text) {
  writeFile(path, Bytes(text.begin(), text.end()));
}

std::string text(const Bytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

void putWord(Bytes& bytes, std::size_t offset, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) {
    bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

Bytes pattern(std::size_t size, unsigned seed) {
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

class BuildImage : public testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "pakforge-test-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
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
  Outcome run(const std::vector<std::string>& args) {
    std::string command = "cd " + quote((dir_ / "work").string()) + " && " + quote(PAKFORGE_EXE);
    for (const std::string& a : args) {
      command += " " + quote(a);
    }
    const fs::path out = dir_ / "stdout", err = dir_ / "stderr", both = dir_ / "both";
    const int status = std::system(
        (command + " >" + quote(out.string()) + " 2>" + quote(err.string()) + " </dev/null")
            .c_str());
    std::system((command + " >" + quote(both.string()) + " 2>&1 </dev/null").c_str());
    Outcome r{WIFEXITED(status) ? WEXITSTATUS(status) : -1, text(readFile(out)),
              text(readFile(err)), text(readFile(both))};
    return r;
  }

  fs::path path(const std::string& name) const { return dir_ / name; }

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
};

TEST_F(BuildImage, ExampleBuildFromTheDefaults) {
  const Outcome r = run({});
  const std::string success =
      "AELF file './../prog.alf' has been " + kGreen + "successfully" + kReset + " created\n";
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, kBanner + success);
  EXPECT_EQ(r.err, kRamSection + kRomSection);
  EXPECT_EQ(r.both, kBanner + kRamSection + kRomSection + success);
  const Bytes image = readFile(path("prog.alf"));
  EXPECT_EQ(image.size(), 36940u);
  EXPECT_EQ(image, expectedImage());
}

TEST_F(BuildImage, OptionsNameEveryPath) {
  fs::create_directory(path("in"));
  for (const char* name : {"output.map", "output_CFG.bin", "output.elf", "output_RES.bin"}) {
    fs::rename(path(name), path("in") / name);
  }
  const std::string in = (dir_ / "in").string();
  const Outcome r =
      run({"--ignored", "word", "-m", in + "/output.map", "-c", in + "/output_CFG.bin", "-f",
           in + "/output.elf", "-r", in + "/output_RES.bin", "-o", "x.alf", "-o", "-x"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(readFile(path("work/-x")), expectedImage());
  EXPECT_FALSE(fs::exists(path("work/x.alf")));
}

TEST_F(BuildImage, OptionWithoutValueStopsBeforeAnyStep) {
  const Outcome r = run({"-m"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, kBanner + "\033[31mOption '-m' needs a value\033[0m\n");
  EXPECT_EQ(r.err, "");
  EXPECT_FALSE(fs::exists(path("prog.alf")));
}

// Each failure before the image is created: its status, its message after
// the output before it, and an existing image left as it was.
TEST_F(BuildImage, FailuresBeforeWritingLeaveTheImageAlone) {
  struct Case {
    std::string what;
    std::vector<std::string> args;
    int status;
    std::string out;
    std::string err;
  };
  const std::string res = path("output_RES.bin").string();
  writeText(path("short.cfg"), std::string(71, 'c'));
  writeText(path("empty"), "");
  writeFile(path("short.elf"), Bytes(elf_.begin(), elf_.end() - 1));
  std::string noLoop = readMap();
  noLoop.replace(noLoop.find(" loop"), 5, " lo0p");
  writeText(path("noloop.map"), noLoop);
  std::string wrapped = readMap();
  wrapped.replace(wrapped.find("0x08025000"), 10, "0x08010000");
  writeText(path("wrapped.map"), wrapped);
  const std::string dirPath = dir_.string();
  const std::string cfgGone =
      "\033[31mCan't open cfg file '" + path("gone").string() + "'" + kReset + "\n";
  const std::vector<Case> cases = {
      {"missing map", {"-m", "../gone"}, 246, "map file not open ../gone\n", ""},
      {"map is a folder",
       {"-m", dirPath, "-c", "../gone"},
       246,
       "map file not open " + dirPath + "\n",
       ""},
      {"missing cfg", {"-c", path("gone").string()}, 255, cfgGone, kRamSection},
      {"cfg is a folder",
       {"-c", dirPath},
       255,
       "\033[31mCan't open cfg file '" + dirPath + "'" + kReset + "\n",
       kRamSection},
      {"cfg of 71 bytes",
       {"-c", "../short.cfg"},
       255,
       "\033[31mCfg file is shorter than the 72-byte header: '../short.cfg'" + kReset + "\n",
       kRamSection},
      {"empty cfg",
       {"-c", "../empty"},
       255,
       "\033[31mCfg file is shorter than the 72-byte header: '../empty'" + kReset + "\n",
       kRamSection},
      {"symbol missing", {"-m", "../noloop.map"}, 254, "func loop not found\n", kRamSection},
      {"missing resources",
       {"-r", "../gone"},
       253,
       "\033[31mCan't open cfg file '../gone'" + kReset + "\n",
       kRamSection},
      {"resources is a folder",
       {"-r", dirPath},
       253,
       "\033[31mCan't open cfg file '" + dirPath + "'" + kReset + "\n",
       kRamSection},
      {"missing elf",
       {"-f", "../gone"},
       252,
       "\033[31mCan't open elf file '../gone'" + kReset + "\n",
       kRamSection},
      {"elf is a folder",
       {"-f", dirPath},
       252,
       "\033[31mCan't open elf file '" + dirPath + "'" + kReset + "\n",
       kRamSection},
      {"elf one byte short",
       {"-f", "../short.elf"},
       252,
       "\033[31mElf file ends before the application code does: '../short.elf'" + kReset + "\n",
       kRamSection},
      {"wrapped appSize",
       {"-m", "../wrapped.map"},
       252,
       "\033[31mElf file ends before the application code does: './../output.elf'" + kReset + "\n",
       kRamSection},
  };
  const Bytes previous = pattern(10, 3);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    writeFile(path("prog.alf"), previous);
    const Outcome r = run(c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, kBanner + c.out);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.both, kBanner + c.err + c.out);
    EXPECT_EQ(readFile(path("prog.alf")), previous);
  }
}

TEST_F(BuildImage, ResourcesTooLongForTheHeader) {
  { std::ofstream big(path("big.res"), std::ios::binary); }
  std::error_code ec;
  fs::resize_file(path("big.res"), 0x100000000ull, ec);
  if (ec) {
    GTEST_SKIP() << "no sparse 4 GiB file here: " << ec.message();
  }
  const Outcome r = run({"-r", "../big.res"});
  fs::remove(path("big.res"));
  EXPECT_EQ(r.status, 253);
  EXPECT_EQ(r.out, kBanner +
                       "\033[31mResources file is longer than 4294967295 bytes: '../big.res'" +
                       kReset + "\n");
  EXPECT_FALSE(fs::exists(path("prog.alf")));
}

TEST_F(BuildImage, ImageThatCannotBeCreatedOrWritten) {
  Outcome r = run({"-o", "../no/such/folder/prog.alf"});
  EXPECT_EQ(r.status, 251);
  EXPECT_EQ(r.out, kBanner + "\033[31mCan't create output file '../no/such/folder/prog.alf'" +
                       kReset + "\n");
  EXPECT_EQ(r.err, kRamSection);
  if (fs::exists("/dev/full")) {
    r = run({"-o", "/dev/full"});
    EXPECT_EQ(r.status, 251);
    EXPECT_EQ(r.out, kBanner + "\033[31mCan't write output file '/dev/full'" + kReset + "\n");
    EXPECT_EQ(r.err, kRamSection);
  }
}

TEST_F(BuildImage, OverBudgetImageIsWrittenInFull) {
  resources_ = pattern(130560 - 20480 - 4096 + 1, 5);
  writeFile(path("output_RES.bin"), resources_);
  const Outcome r = run({});
  EXPECT_EQ(r.status, 250);
  EXPECT_EQ(r.out, kBanner);
  const std::string overLine =
      "---------------------------\n\n\033[31mError: Not enough ROM memory on the selected "
      "device.\033[0m";
  EXPECT_EQ(r.err.substr(r.err.size() - overLine.size()), overLine);
  EXPECT_EQ(readFile(path("prog.alf")), expectedImage());
}

TEST_F(BuildImage, EmptyResourcesAndCodeAtAnOddOffset) {
  writeText(path("output_RES.bin"), "");
  resources_.clear();
  std::string map = readMap();
  // Code at 0x08020100: read from ELF offset 0x100, not 0x20100.
  map.replace(map.find("0x08020000     0x5000"), 10, "0x08020100");
  writeText(path("output.map"), map);
  const Outcome r = run({});
  EXPECT_EQ(r.status, 0) << r.out;
  Bytes expected = expectedImage(0x100, 0x5000 - 0x100);
  putWord(expected, 4 + 28, 0x8020100);
  EXPECT_EQ(readFile(path("prog.alf")), expected);
  EXPECT_EQ(expected.size(), 76u + 0x5000 - 0x100);
}

TEST_F(BuildImage, RamOverBudgetStopsFirst) {
  std::string map = readMap();
  map.replace(map.find("0x20000400                _ebss"), 10, "0x20008010");
  writeText(path("output.map"), map);
  const Outcome r = run({"-c", "../gone"});
  EXPECT_EQ(r.status, 246);
  EXPECT_EQ(r.out, kBanner);
  EXPECT_NE(r.err.find("Error: Not enough RAM memory on the selected device.\033[0m"),
            std::string::npos);
  EXPECT_FALSE(fs::exists(path("prog.alf")));
}

}  // namespace
