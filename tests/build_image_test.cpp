// Runs the pakforge executable on files in a private folder and checks its
// exact output, exit status and the files it leaves.
#include <algorithm>
#include <functional>
#include <iostream>
#include <optional>

#include "example_build.h"
#include "platform/platform.h"

namespace {

using namespace pakforge::testing_support;

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

class BuildImage : public ExampleBuild {};

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

std::string red(const std::string& what, const std::string& path) {
  return "\033[31m" + what + " '" + path + "'" + kReset + "\n";
}

// Every kind of bad input: its exit status, the messages after the banner,
// the report so far, and what became of an image that was already there.
TEST_F(BuildImage, BadInputTable) {
  enum class Image { untouched, replaced };
  struct Case {
    std::string what;
    std::vector<std::string> args;
    int status;
    std::string out;
    std::string err;
    Image image;
  };
  writeText(path("empty"), "");
  ASSERT_EQ(makeNamedPipe(path("pipe")), isPosix());
  writeText(path("short.cfg"), std::string(71, 'c'));
  writeFile(path("short.elf"), Bytes(elf_.begin(), elf_.end() - 1));
  std::string map = readMap();
  writeText(path("noloop.map"), std::string(map).replace(map.find(" loop"), 5, " lo0p"));
  writeText(path("wrapped.map"),
            std::string(map).replace(map.find("0x08025000"), 10, "0x08010000"));
  writeText(path("long.map"), std::string(10 << 20, 'x'));
  Bytes noise = pattern(100000, 97);
  for (std::uint8_t& b : noise)
    b = b == '.' ? ',' : b;  // no ".text": no code start
  writeFile(path("noise.map"), noise);
  const std::string dir = dir_.string();
  const std::string emptyRam =
      "\n---------  RAM  -----------\n"
      "App RAM data size = 0/536903680 Bytes (0/100%)\n"
      "Free space = " +
      kGreen + "536903680" + kReset + " Bytes (" + kGreen + "100" + kReset +
      "/100%)\n---------------------------\n\n";
  const std::string shortCfg = "Cfg file is shorter than the 72-byte header:";
  const std::string shortElf = "Elf file ends before the application code does:";
  const std::string created = "' has been " + kGreen + "successfully" + kReset + " created\n";
  // clang-format off
  const std::vector<Case> cases = {
    {"map missing", {"-m", "../gone"}, 246, "map file not open ../gone\n", "", Image::untouched},
    {"map is a folder", {"-m", dir}, 246, "map file not open " + dir + "\n", "", Image::untouched},
    {"map is a named pipe", {"-m", "../pipe"}, 246, "map file not open ../pipe\n", "", Image::untouched},
    {"map is /dev/null", {"-m", "/dev/null"}, 254, "addrExe not found", emptyRam, Image::untouched},
    {"map is empty", {"-m", "../empty"}, 254, "addrExe not found", emptyRam, Image::untouched},
    {"map of one 10 MB line", {"-m", "../long.map"}, 254, "addrExe not found", emptyRam, Image::untouched},
    {"map of binary noise", {"-m", "../noise.map"}, 254, "addrExe not found", "", Image::untouched},
    {"map without loop", {"-m", "../noloop.map"}, 254, "func loop not found\n", kRamSection, Image::untouched},
    {"cfg missing", {"-c", "../gone"}, 255, red("Can't open cfg file", "../gone"), kRamSection, Image::untouched},
    {"cfg is a folder", {"-c", dir}, 255, red("Can't open cfg file", dir), kRamSection, Image::untouched},
    {"cfg is /dev/null", {"-c", "/dev/null"}, 255, red(shortCfg, "/dev/null"), kRamSection, Image::untouched},
    {"cfg is empty", {"-c", "../empty"}, 255, red(shortCfg, "../empty"), kRamSection, Image::untouched},
    {"cfg of 71 bytes", {"-c", "../short.cfg"}, 255, red(shortCfg, "../short.cfg"), kRamSection, Image::untouched},
    {"resources missing", {"-r", "../gone"}, 253, red("Can't open cfg file", "../gone"), kRamSection, Image::untouched},
    {"resources is a folder", {"-r", dir}, 253, red("Can't open cfg file", dir), kRamSection, Image::untouched},
    {"resources is /dev/null", {"-r", "/dev/null"}, 0, "AELF file './../prog.alf" + created, "", Image::replaced},
    {"resources is empty", {"-r", "../empty"}, 0, "AELF file './../prog.alf" + created, "", Image::replaced},
    {"elf is a named pipe", {"-f", "../pipe"}, 252, red("Can't open elf file", "../pipe"), kRamSection, Image::untouched},
    {"elf missing", {"-f", "../gone"}, 252, red("Can't open elf file", "../gone"), kRamSection, Image::untouched},
    {"elf is a folder", {"-f", dir}, 252, red("Can't open elf file", dir), kRamSection, Image::untouched},
    {"elf is /dev/null", {"-f", "/dev/null"}, 252, red(shortElf, "/dev/null"), kRamSection, Image::untouched},
    {"elf is empty", {"-f", "../empty"}, 252, red(shortElf, "../empty"), kRamSection, Image::untouched},
    {"elf one byte short", {"-f", "../short.elf"}, 252, red(shortElf, "../short.elf"), kRamSection, Image::untouched},
    {"wrapped appSize", {"-m", "../wrapped.map"}, 252, red(shortElf, "./../output.elf"), kRamSection, Image::untouched},
    {"output in a missing folder", {"-o", "../no/prog.alf"}, 251, red("Can't create output file", "../no/prog.alf"), kRamSection, Image::untouched},
    {"output is a folder", {"-o", dir}, 251, red("Can't create output file", dir), kRamSection, Image::untouched},
    {"output is /dev/full", {"-o", "/dev/full"}, 251, red("Can't write output file", "/dev/full"), kRamSection, Image::untouched},
    {"output is a new file", {"-o", "../new.alf"}, 0, "AELF file '../new.alf" + created, "", Image::untouched},
    {"output is /dev/null", {"-o", "/dev/null"}, 0, "AELF file '/dev/null" + created, "", Image::untouched},
    {"output is an empty file", {"-o", "../empty"}, 0, "AELF file '../empty" + created, "", Image::untouched},
  };
  // clang-format on
  const Bytes previous = pattern(10, 3);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // Devices and named pipes are POSIX things.
    const bool posixOnly = std::any_of(c.args.begin(), c.args.end(), [](const std::string& a) {
      return a.rfind("/dev/", 0) == 0 || a == "../pipe";
    });
    if (posixOnly && !isPosix()) {
      std::cout << "[ SKIPPED  ] " << c.what << ": no POSIX devices or named pipes here\n";
      continue;
    }
    writeFile(path("prog.alf"), previous);
    const Outcome r = run(c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, kBanner + c.out);
    if (c.status == 0) {
      EXPECT_EQ(r.err.substr(0, kRamSection.size()), kRamSection);
    } else if (!c.err.empty() || c.status == 246) {
      EXPECT_EQ(r.err, c.err);
      EXPECT_EQ(r.both, kBanner + c.err + c.out);
    } else {
      EXPECT_EQ(r.err.rfind("\n---------  RAM  -----------\n", 0), 0u);
    }
    const Bytes image = readFile(path("prog.alf"));
    if (c.image == Image::untouched) {
      EXPECT_EQ(image, previous);
    } else {
      EXPECT_EQ(image.size(), 76u + 0x5000);
    }
  }
  EXPECT_EQ(readFile(path("empty")), expectedImage());
  EXPECT_EQ(readFile(path("new.alf")), expectedImage());
  EXPECT_FALSE(fs::exists(path("no")));
}

// Where the image goes: a new file gets the permissions any new file gets, a
// replaced one keeps its own, a link stays a link and the file it names is
// replaced; a file the user may not write, a loop of links and an input of
// the build are refused and stay as they were; never a temporary file left.
TEST_F(BuildImage, ImageReplacementTable) {
  fs::create_directory(path("elsewhere"));
  const auto posixPerms = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  const auto readOnly = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
  const auto previous = [&](const std::string& name) { writeFile(path(name), pattern(10, 3)); };
  const std::string longName(250, 'n');
  const std::string longest(255, 'N');
  // A name that makes the image's full path 259 characters long, as long as
  // Windows lets a path be without its long form; the temporary file's
  // path beside it is longer.
  const std::string absolute = fs::absolute(path("x")).string();
  const std::string nearLimit(std::max<std::size_t>(259 - absolute.size() + 1, 1), 'L');
  // "C:name": the current folder of a drive, here the drive of the folder
  // the build runs in, whose current folder that is.
  const std::string driveRelative = absolute.substr(0, 2) + "drive.alf";
  // Root may write a read-only file, so it may replace one too.
  const bool mayReplaceReadOnly = isPosix() && isRoot();
  const std::string replaceInput = "': it is the input file ";
  struct Case {
    std::string what;
    std::string output;           // as given to -o, from dir_/work
    std::function<void()> setUp;  // what is at the output beforehand
    fs::path at;                  // where the image ends up, or what must stay as it was
    int status;
    std::string said;               // for a refusal: in the red line
    std::optional<fs::perms> mode;  // of the image, on POSIX systems
    bool posixOnly = false;
    bool windowsOnly = false;
  };
  const unsigned umaskBefore = setUmask(027);
  const std::vector<Case> cases = {
      {"a new file", "../new.alf", [] {}, path("new.alf"), 0, "", posixPerms},
      {"an existing file keeps its mode", "../prog.alf",
       [&] {
         previous("prog.alf");
         fs::permissions(path("prog.alf"),
                         fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
       },
       path("prog.alf"), 0, "",
       fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read},
      {"a read-only image", "../ro.alf",
       [&] {
         previous("ro.alf");
         fs::permissions(path("ro.alf"), readOnly);
       },
       path("ro.alf"), mayReplaceReadOnly ? 0 : 251, "Can't create output file '../ro.alf'",
       readOnly},
      {"a name of 250 bytes", "../" + longName, [] {}, path(longName), 0, "", posixPerms},
      {"a name of 255 bytes", "../" + longest, [&] { previous(longest); }, path(longest), 0, "",
       posixPerms},
      {"a full path of 259 characters", "../" + nearLimit, [&] { previous(nearLimit); },
       path(nearLimit), 0, "", posixPerms},
      {"a drive-relative path", driveRelative, [] {}, path("work/drive.alf"), 0, "", posixPerms,
       false, true},
      {"the ELF file by another path", "../output.elf", [] {}, path("output.elf"), 251,
       "Can't create output file '../output.elf" + replaceInput + "'./../output.elf'",
       std::nullopt},
      {"a hard link to the configuration file", "../config.hard",
       [&] { fs::create_hard_link(path("output_CFG.bin"), path("config.hard")); },
       path("output_CFG.bin"), 251, replaceInput + "'./../output_CFG.bin'", std::nullopt},
      {"a link to the map file", "../map.link",
       [&] { fs::create_symlink("output.map", path("map.link")); }, path("output.map"), 251,
       replaceInput + "'./../output.map'", std::nullopt, true},
      {"a link to a file elsewhere", "../link.alf",
       [&] {
         previous("elsewhere/target.alf");
         fs::permissions(path("elsewhere/target.alf"), fs::perms::owner_all);
         fs::create_symlink("elsewhere/target.alf", path("link.alf"));
       },
       path("elsewhere/target.alf"), 0, "", fs::perms::owner_all, true},
      {"a link to nothing yet", "../dangling.alf",
       [&] { fs::create_symlink("elsewhere/later.alf", path("dangling.alf")); },
       path("elsewhere/later.alf"), 0, "", posixPerms, true},
      {"a loop of links", "../loop.alf",
       [&] {
         fs::create_symlink("loop2.alf", path("loop.alf"));
         fs::create_symlink("loop.alf", path("loop2.alf"));
       },
       path("loop.alf"), 251, "Can't create output file '../loop.alf'", std::nullopt, true},
  };
  for (const Case& c : cases) {
    if (c.posixOnly && !isPosix()) {
      std::cout << "[ SKIPPED  ] " << c.what << ": symbolic links are not followed here\n";
      continue;
    }
    if (c.windowsOnly && isPosix()) {
      continue;
    }
    SCOPED_TRACE(c.what);
    c.setUp();
    const bool link = !c.windowsOnly && fs::is_symlink(path(c.output.substr(3)));
    const fs::path linkTarget = link ? fs::read_symlink(path(c.output.substr(3))) : fs::path();
    std::error_code ec;  // a loop of links can't be followed
    const Bytes before = fs::is_regular_file(c.at, ec) ? readFile(c.at) : Bytes();
    const Outcome r = run({"-o", c.output});
    EXPECT_EQ(r.status, c.status) << r.out;
    if (c.status == 0) {
      EXPECT_EQ(readFile(c.at), expectedImage());
    } else {
      EXPECT_NE(r.out.find(c.said), std::string::npos) << r.out;
      EXPECT_EQ(readFile(c.at), before);
    }
    if (c.mode && isPosix()) {
      EXPECT_EQ(fs::status(c.at).permissions(), *c.mode);
    }
    if (link) {
      EXPECT_EQ(fs::read_symlink(path(c.output.substr(3))), linkTarget);
    }
    if (fs::is_regular_file(c.at, ec)) {
      fs::permissions(c.at, fs::perms::owner_write, fs::perm_options::add);
    }
  }
  setUmask(umaskBefore);
  if (isPosix()) {
    const Outcome r = run({"-o", "/dev/null"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
  }
  for (const fs::path& folder : {dir_, path("elsewhere"), path("work")}) {
    for (const auto& entry : fs::directory_iterator(folder)) {
      EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << entry.path();
      // Nothing but the image where the build ran (no ".C" of a stream).
      EXPECT_TRUE(folder != path("work") || entry.path().filename() == "drive.alf") << entry.path();
    }
  }
}

// Where a path's folder part ends, which is where the temporary image goes:
// on Windows "C:img.alf" is img.alf in drive C:'s current folder, never a
// file ".C:img.alf..." (on NTFS, a stream of a file named ".C").
TEST(OutputPath, FolderPartOfAPath) {
  using pakforge::platform::lastSeparator;
  const std::size_t none = std::string::npos;
  EXPECT_EQ(lastSeparator("img.alf"), none);
  EXPECT_EQ(lastSeparator("build/img.alf"), 5u);
  EXPECT_EQ(lastSeparator("build/C:img.alf"), 5u);
  EXPECT_EQ(lastSeparator("C:img.alf"), isPosix() ? none : 1u);
  EXPECT_EQ(lastSeparator("z:img.alf"), isPosix() ? none : 1u);
  EXPECT_EQ(lastSeparator("C:\\out\\img.alf"), isPosix() ? none : 6u);
  EXPECT_EQ(lastSeparator("1:img.alf"), none);
}

// A path in a command line to paste: as the system's shell reads it back.
TEST(OutputPath, PathsQuotedForTheShell) {
  using pakforge::platform::shellQuoted;
  if (isPosix()) {
    EXPECT_EQ(shellQuoted("build/app.map"), "build/app.map");
    EXPECT_EQ(shellQuoted("my build/app.map"), "'my build/app.map'");
    EXPECT_EQ(shellQuoted("it's.map"), "'it'\\''s.map'");
    EXPECT_EQ(shellQuoted("$HOME.map"), "'$HOME.map'");
    EXPECT_EQ(shellQuoted(""), "''");
  } else {
    EXPECT_EQ(shellQuoted("build\\app.map"), "\"build\\app.map\"");
    EXPECT_EQ(shellQuoted("C:\\my build\\app.map"), "\"C:\\my build\\app.map\"");
  }
}

// The same bytes on every system: paths in any script, and a map holding a
// Ctrl-Z (which ends a file read in text mode on Windows) and CR LF.
TEST_F(BuildImage, UnicodePathsAndRawMapBytes) {
  const std::string map = "\x1A\r\n" + readMap();
  writeText(path("\u56fa\u4ef6 \u6620\u5c04.map"), map);
  const std::string image = "../\u56fe\u50cf \u0394.alf";
  const Outcome r = run({"-m", "../\u56fa\u4ef6 \u6620\u5c04.map", "-o", image});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, kBanner + "AELF file '" + image + "' has been " + kGreen + "successfully" +
                       kReset + " created\n");
  EXPECT_EQ(r.err, kRamSection + kRomSection);
  EXPECT_EQ(readFile(path("\u56fe\u50cf \u0394.alf")), expectedImage());
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
  // From flat bytes, unchecked: the entry point, 0x08020000, lies before the
  // code, and a device's loader refuses the image, as it should.
  loaderTakesImages_ = false;
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
