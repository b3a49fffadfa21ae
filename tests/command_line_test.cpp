#include "driver/command_line.h"

#include <gtest/gtest.h>

#include <vector>

namespace pakforge {
namespace {

CommandLine parse(std::vector<const char*> args) {
  args.insert(args.begin(), "pakforge");
  return parseCommandLine(static_cast<int>(args.size()), args.data());
}

TEST(CommandLine, DefaultsPointIntoTheParentFolder) {
  const CommandLine c = parse({});
  EXPECT_EQ(c.paths.image, "./../prog.alf");
  EXPECT_EQ(c.paths.elf, "./../output.elf");
  EXPECT_EQ(c.paths.map, "./../output.map");
  EXPECT_EQ(c.paths.config, "./../output_CFG.bin");
  EXPECT_EQ(c.paths.resources, "./../output_RES.bin");
  EXPECT_EQ(c.missingValueFor, "");
}

TEST(CommandLine, EachOptionSetsItsPathAndTheLastOneWins) {
  const CommandLine c = parse(
      {"-m", "a.map", "-o", "a.alf", "-f", "a.elf", "-c", "a.cfg", "-r", "a.res", "-m", "b.map"});
  EXPECT_EQ(c.paths.map, "b.map");
  EXPECT_EQ(c.paths.image, "a.alf");
  EXPECT_EQ(c.paths.elf, "a.elf");
  EXPECT_EQ(c.paths.config, "a.cfg");
  EXPECT_EQ(c.paths.resources, "a.res");
}

TEST(CommandLine, OnlyExactOptionsCountAndValuesAreNeverOptions) {
  // Unknown words are skipped one by one; -x does not take "word".
  CommandLine c = parse({"--verbose", "word", "-x", "-o", "out.alf"});
  EXPECT_EQ(c.paths.image, "out.alf");
  // The value of -o is "-f", and the ELF path keeps its default.
  c = parse({"-o", "-f", "x.elf"});
  EXPECT_EQ(c.paths.image, "-f");
  EXPECT_EQ(c.paths.elf, "./../output.elf");
  // Case, doubled hyphens, attached values and equals signs are not options.
  c = parse({"-O", "a", "--o", "b", "-oc.alf", "-o=d", "-M", "e"});
  EXPECT_EQ(c.paths.image, "./../prog.alf");
  EXPECT_EQ(c.paths.map, "./../output.map");
  // An empty value is a value.
  c = parse({"-r", ""});
  EXPECT_EQ(c.paths.resources, "");
}

TEST(CommandLine, OptionWithoutValueIsReported) {
  EXPECT_EQ(parse({"-m", "a.map", "-c"}).missingValueFor, "-c");
  // Here "-c" is the value of -m, so nothing is missing.
  EXPECT_EQ(parse({"-m", "-c"}).missingValueFor, "");
}

}  // namespace
}  // namespace pakforge
