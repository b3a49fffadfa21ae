// The one-read map scanner: its pattern search against the plain one, and
// both checks fed from one read against each check reading on its own.
#include "mapfile/map_scan.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "mapfile/line_reader.h"
#include "scan_helpers.h"

namespace pakforge {
namespace {

// Texts from a small alphabet, so that the first and last bytes of the
// patterns meet often without the pattern itself: the SIMD search's false
// starts and its 16- and 64-byte steps all get exercised, at every start
// offset and with the text at every alignment in memory.
TEST(FindAny, SimdAgreesWithThePlainSearch) {
  const std::vector<std::vector<std::string_view>> patternSets = {
      {"2000"}, {".text", ".data"},  {".data", "__entryPoint__", "loop", "Modbus"},
      {"a"},    {"ab", "ba", "aab"}, {"abcdefghijklmnopqrstuvwxyz0123456789"},
  };
  std::mt19937 random(7);
  const std::string alphabet = "20.datexlopMdbus_nryPia\n ";
  for (const auto& patterns : patternSets) {
    for (const std::size_t length :
         {0u, 1u, 3u, 15u, 16u, 17u, 31u, 63u, 64u, 65u, 80u, 129u, 300u}) {
      std::string text(length + 16, ' ');
      for (char& c : text) {
        c = alphabet[random() % alphabet.size()];
      }
      // Plant a pattern right at the end (of the text at alignment 0), where
      // the steps hand over to the tail.
      const std::string_view last = patterns.back();
      if (last.size() <= length) {
        text.replace(length - last.size(), last.size(), last);
      }
      for (std::size_t align = 0; align < 16; ++align) {
        // The text ends where its allocation does, so that the sanitizer
        // build sees any read past it.
        std::vector<char> memory(text.begin(),
                                 text.begin() + static_cast<std::ptrdiff_t>(align + length));
        const std::string_view view(memory.data() + align, length);
        for (std::size_t from = 0; from <= length + 1; ++from) {
          ASSERT_EQ(findAny(view, patterns, from), findAnyPortable(view, patterns, from))
              << "patterns " << patterns.size() << ", text '" << view << "', from " << from;
        }
      }
    }
  }
}

struct Both {
  std::uint32_t dataStart, dataEnd;
  bool ok;
  std::string messages;
  std::array<std::uint8_t, kHeaderSize> header;
  bool operator==(const Both&) const = default;
};

Both separately(const std::string& map, std::size_t bufferSize) {
  std::istringstream ramIn(map), symbolIn(map);
  const RamUsage ram = scanRamUsage(ramIn, bufferSize);
  ImageHeader header;
  std::ostringstream messages;
  const bool ok = scanMapSymbols(symbolIn, header, messages, bufferSize);
  return {ram.dataStart, ram.dataEnd, ok, messages.str(), encodeHeader(header)};
}

Both together(const std::string& map, std::size_t bufferSize) {
  std::istringstream in(map);
  const MapFacts facts = scanMap(in, bufferSize);
  ImageHeader header;
  std::ostringstream messages;
  const bool ok = applyMapSymbols(facts.symbols, header, messages);
  return {facts.ram.dataStart, facts.ram.dataEnd, ok, messages.str(), encodeHeader(header)};
}

// The symbol scan stops at the data line while the RAM check reads on; a
// long line, a scan done early or the data line at a buffer's edge must not
// change what either of them sees.
TEST(ScanMap, OneReadGivesWhatEachCheckReadsAlone) {
  const std::string pad(16, ' ');
  const std::string symbols = pad + "0x08020000" + pad + "__entryPoint__\n" + pad + "0x08020400" +
                              pad + "loop\r\n" + pad + "0x08023000" + pad +
                              "ModbusHGroups_Table\n" + pad + "0x08023400" + pad +
                              "ModbusIGroups_Table\n" + pad + "0x08023800" + pad +
                              "ModbusRemoteRegTables\n" + pad + "0x08025000" + pad + "_etext\n";
  const std::string data = ".data  0x20000000  0x400\n" + pad + "0x20000400" + pad + "_ebss";
  const std::string longLine(3000, 'x');
  const std::vector<std::string> maps = {
      ".text  0x08020000  0x5000\n" + symbols + data,
      "Memory 0x20001000\n.text  0x08020000\n" + longLine + " loop\n" + symbols + data,
      ".text  0x08020000\n" + symbols + data + "\n" + longLine + "20004000\n",
      ".text  0x08020000\n" + symbols + "main_loop 0x0802 subloop\nloop\n" + data,
      ".text  0x08020000\n" + symbols,
      ".data  0x20000000\n.text 0x08020000\n" + symbols,
      "",
  };
  for (const std::string& map : maps) {
    for (std::size_t size : kBufferSizes) {
      SCOPED_TRACE("map of " + std::to_string(map.size()) + " bytes, buffer " +
                   std::to_string(size));
      EXPECT_EQ(together(map, size), separately(map, size));
    }
  }
}

// A map that can't be opened: the message on standard output only, nothing
// on standard error (no RAM section), whether it is missing or a folder.
TEST(ScanMap, MapFileThatCannotBeOpened) {
  for (const std::string path : {"/nonexistent/pakforge.map", "/"}) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    MapFacts facts;
    EXPECT_FALSE(readMapFile(path, facts));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "map file not open " + path + "\n");
  }
}

// GNU ld's block of discarded input sections (--gc-sections): neither check
// sees its lines, so a map reads as it would without them; anything short of
// the exact heading is read as before.
TEST(ScanMap, TheDiscardedSectionsBlockIsSkippedByBoth) {
  const std::string pad(16, ' ');
  const std::string code = ".text  0x08020000  0x5000\n" + pad + "0x08020000" + pad +
                           "__entryPoint__\n" + pad + "0x08020400" + pad + "loop\n" + pad +
                           "0x08023000" + pad + "ModbusHGroups_Table\n" + pad + "0x08023400" + pad +
                           "ModbusIGroups_Table\n" + pad + "0x08023800" + pad +
                           "ModbusRemoteRegTables\n" + pad + "0x08025000" + pad + "_etext\n" +
                           ".data  0x20000000  0x400\n" + pad + "0x20000400" + pad + "_ebss\n";
  const std::string memory = "Memory Configuration\n\nRAM 0x20000000 0x00008000 xrw\n\n";
  const std::string discarded =
      std::string(
          " .text          0x00000000        0x0 obj/unused8.o\n"
          " .data          0x00000000        0x0 obj/startup.o\n"
          " .text.unused_checksum8\n"
          "                0x00000000       0x24 obj/unused8.o\n"
          "\n"
          "\t.data.unused_buffer8 0x00000000     0x2000 obj/unused8.o\n") +
      " " + std::string(3000, 'x') + " .text 0x08000008\n";
  const auto crlf = [](const std::string& text) {
    std::string out;
    for (const char c : text) {
      out += c == '\n' ? "\r\n" : std::string(1, c);
    }
    return out;
  };
  struct Case {
    std::string what, map, readsAs;
  };
  const std::vector<Case> cases = {
      {"the block", "\nDiscarded input sections\n\n" + discarded + "\n" + memory + code,
       "\n" + memory + code},
      {"the block, CR LF",
       crlf("\nDiscarded input sections\n\n" + discarded + "\n" + memory + code),
       crlf("\n" + memory + code)},
      {"twice",
       "Discarded input sections\n" + discarded + memory + "Discarded input sections\n" +
           discarded + code,
       memory + code},
      {"to the end of the file", "Discarded input sections\n" + discarded, ""},
      {"ended by a long line",
       "Discarded input sections\n" + discarded + std::string(3000, 'y') + "\n" + code,
       std::string(3000, 'y') + "\n" + code},
      {"heading with a colon", "Discarded input sections:\n" + discarded + code,
       "Discarded input sections:\n" + discarded + code},
      {"indented heading", " Discarded input sections\n" + discarded + code,
       " Discarded input sections\n" + discarded + code},
      {"heading as the last line", code + "Discarded input sections", code},
  };
  for (const Case& c : cases) {
    for (std::size_t size : kBufferSizes) {
      SCOPED_TRACE(c.what + ", buffer " + std::to_string(size));
      EXPECT_EQ(together(c.map, size), together(c.readsAs, size));
    }
  }
  // A map that is all block holds no code start.
  EXPECT_EQ(together("Discarded input sections\n" + discarded, 13).messages, "addrExe not found");
  // And the block really hid something: read as today, its first .text line
  // would give the code start.
  const Both plain = together(".text 0x08000008 obj/unused8.o\n" + code, 256 * 1024);
  EXPECT_NE(plain, together(code, 256 * 1024));
}

}  // namespace
}  // namespace pakforge
