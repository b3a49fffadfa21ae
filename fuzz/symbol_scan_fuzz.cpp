// The streaming symbol scan against the plain reading, on any map text and
// any buffer size; and the one read that serves both map checks against
// each check's plain reading.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "mapfile/map_scan.h"
#include "mapfile/symbol_scan.h"
#include "reference_scans.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0)
    return 0;
  const std::size_t bufferSize = 1 + data[0] % 64;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);

  const std::uint32_t untouched = 0xEEEEEEEE;
  pakforge::ImageHeader header;
  header.entryPointAddr = header.loopAddr = header.hGroupsTableAddr = header.iGroupsTableAddr =
      header.remoteRegTablesAddr = header.addrExe = header.appSize = untouched;
  pakforge::ImageHeader streamed = header;
  std::istringstream in(text);
  std::ostringstream messages;
  const bool ok = pakforge::scanMapSymbols(in, streamed, messages, bufferSize);

  const reference::Symbols expected = reference::symbols(text);
  const std::uint32_t fields[] = {streamed.entryPointAddr, streamed.loopAddr,
                                  streamed.hGroupsTableAddr, streamed.iGroupsTableAddr,
                                  streamed.remoteRegTablesAddr};
  bool same = ok == expected.ok && messages.str() == expected.message &&
              streamed.addrExe == (expected.addrExeSet ? expected.addrExe : untouched) &&
              streamed.appSize == (expected.appSizeSet ? expected.appSize : untouched);
  for (std::size_t i = 0; i < 5; ++i) {
    const std::uint32_t want = i < expected.fields.size() ? expected.fields[i] : untouched;
    same = same && fields[i] == want;
  }
  std::istringstream again(text);
  const pakforge::MapFacts facts = pakforge::scanMap(again, bufferSize);
  const reference::Ram ram = reference::ramUsage(text);
  pakforge::ImageHeader together = header;
  std::ostringstream togetherMessages;
  same = same && facts.ram.dataStart == ram.dataStart && facts.ram.dataEnd == ram.dataEnd &&
         pakforge::applyMapSymbols(facts.symbols, together, togetherMessages) == ok &&
         togetherMessages.str() == messages.str() &&
         pakforge::encodeHeader(together) == pakforge::encodeHeader(streamed);
  if (!same)
    std::abort();
  return 0;
}
