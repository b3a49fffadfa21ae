// pakforge on real arm-none-eabi links of the example firmware
// (examples/firmware/build.sh): each link variant gives the verdict it
// should, and a good link gives exactly the flash content and symbols that
// binutils report for it.
#include <map>
#include <sstream>

#include "example_build.h"

namespace {

using namespace pakforge::testing_support;

const fs::path kFirmware = PAKFORGE_FIRMWARE_DIR;

// The five header fields at offsets 0 to 16, from nm's listing.
std::map<std::string, std::uint32_t> nmSymbols(const fs::path& file) {
  std::map<std::string, std::uint32_t> symbols;
  std::istringstream in(text(readFile(file)));
  std::string address, kind, name;
  while (in >> address >> kind >> name) {
    symbols[name] = static_cast<std::uint32_t>(std::stoul(address, nullptr, 16));
  }
  return symbols;
}

std::uint32_t wordAt(const Bytes& bytes, std::size_t offset) {
  std::uint32_t value = 0;
  for (std::size_t i = 4; i-- > 0;) {
    value = (value << 8) | bytes[offset + i];
  }
  return value;
}

class Firmware : public ExampleBuild {};

TEST_F(Firmware, EachLinkGivesItsVerdict) {
  struct Case {
    std::string variant;
    int status;
    std::vector<std::string> said;  // pieces of the message line, in order
  };
  const std::vector<Case> cases = {
      {"recipe", 0, {"successfully"}},
      {"static_loop", 0, {"successfully"}},
      {"gc_first", 0, {"successfully"}},
      {"gc_last", 0, {"successfully"}},
      {"lld", 0, {"successfully"}},
      {"lld_forward",
       252,
       {"does not match the image: the ELF loads ", "leaves out; the code range must end after",
        "in a map from LLD"}},
      {"pagesize",
       252,
       {"Elf file './../output.elf' does not match the image: the code differs from the ELF at ",
        "the ELF file holds that byte at offset ", "link with -n"}},
      {"vendor",
       252,
       {"does not match the image: the ELF loads ", " that the code range 0x08020000-",
        "leaves out; the code range must end after the last flash content"}},
      {"small",
       252,
       {"does not match the image: the ELF holds the code at file offset 0x",
        ", not 0x20000; link with -n"}},
      {"stale", 252, {"does not match the image: ", " in the ELF but ", "earlier link"}},
  };
  const Bytes previous = pattern(10, 3);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.variant);
    const fs::path from = kFirmware / c.variant;
    fs::copy_file(from / "output.map", path("output.map"), fs::copy_options::overwrite_existing);
    fs::copy_file(from / "output.elf", path("output.elf"), fs::copy_options::overwrite_existing);
    writeFile(path("prog.alf"), previous);
    const Outcome r = run({});
    EXPECT_EQ(r.status, c.status) << r.out;
    std::size_t at = 0;
    for (const std::string& piece : c.said) {
      at = r.out.find(piece, at);
      ASSERT_NE(at, std::string::npos) << "no '" << piece << "' in: " << r.out;
    }
    const Bytes image = readFile(path("prog.alf"));
    if (c.status != 0) {
      // One red line, no image, no ROM section.
      EXPECT_EQ(r.out.rfind("\n\033[31m"), r.out.find('\n'));
      EXPECT_EQ(image, previous);
      EXPECT_EQ(r.err.find("ROM"), std::string::npos);
      continue;
    }
    // What binutils say the device must get: the flash content, and the
    // symbols (bit 0 aside: GNU ld's map gives Thumb functions even).
    const Bytes flash = readFile(from / "output.bin");
    ASSERT_GE(image.size(), 76 + flash.size());
    EXPECT_EQ(wordAt(image, 4 + 28), 0x08020000u);
    EXPECT_EQ(wordAt(image, 4 + 32), flash.size());
    EXPECT_EQ(Bytes(image.begin() + 76, image.begin() + 76 + static_cast<long>(flash.size())),
              flash);
    const auto symbols = nmSymbols(from / "symbols.txt");
    const std::vector<std::string> names = {"__entryPoint__", "loop", "ModbusHGroups_Table",
                                            "ModbusIGroups_Table", "ModbusRemoteRegTables"};
    for (std::size_t i = 0; i < names.size(); ++i) {
      ASSERT_EQ(symbols.count(names[i]), 1u) << names[i];
      EXPECT_EQ(wordAt(image, 4 + 4 * i) & ~1u, symbols.at(names[i]) & ~1u) << names[i];
    }
    // The RAM data: .data and .bss.
    const std::string ram =
        "App RAM data size = " + std::to_string(symbols.at("_ebss") - symbols.at("_sdata")) +
        "/32768 Bytes";
    EXPECT_NE(r.err.find(ram), std::string::npos) << r.err;
  }
}

// aelfdump --elf checks a stored image against an ELF file.
TEST_F(Firmware, AelfdumpChecksAnImageAgainstItsElfFile) {
  fs::copy_file(kFirmware / "recipe/output.map", path("output.map"),
                fs::copy_options::overwrite_existing);
  fs::copy_file(kFirmware / "recipe/output.elf", path("output.elf"),
                fs::copy_options::overwrite_existing);
  ASSERT_EQ(run({}).status, 0);
  const std::string recipe = (kFirmware / "recipe/output.elf").string();
  const std::string staleMapElf = (kFirmware / "static_loop/output.elf").string();
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string said;
  };
  const std::vector<Case> cases = {
      {{"--elf", recipe, "../prog.alf"}, 0, "matches"},
      {{"--json", "--elf", recipe, "../prog.alf"}, 0, "\"verdict\": \"matches\""},
      {{"--elf", staleMapElf, "../prog.alf"}, 6, "differs"},
      {{"--elf", "../output_CFG.bin", "../prog.alf"}, 7, "not checkable"},
      {{"--elf", "../gone.elf", "../prog.alf"}, 1, ""},
      {{"--elf", recipe}, 2, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.front() + " " + c.args[1]);
    const Outcome r = runProgram(AELFDUMP_EXE, c.args);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE(r.out.find(c.said), std::string::npos) << r.out;
  }
}

}  // namespace
