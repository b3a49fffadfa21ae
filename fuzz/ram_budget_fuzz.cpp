// The streaming RAM scan against the plain reading, the RAM section's verdict
// against its own figures, and the map scans' pattern search against the
// plain search.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <sstream>
#include <string>
#include <string_view>

#include "mapfile/line_reader.h"
#include "mapfile/ram_budget.h"
#include "reference_scans.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0)
    return 0;
  const std::size_t bufferSize = 1 + data[0] % 64;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);

  std::istringstream in(text);
  const pakforge::RamUsage usage = pakforge::scanRamUsage(in, bufferSize);
  const reference::Ram expected = reference::ramUsage(text);
  if (usage.dataStart != expected.dataStart || usage.dataEnd != expected.dataEnd)
    std::abort();

  // Every occurrence, in order, of each set of patterns the scans look for.
  static const std::string_view kSets[][4] = {
      {"2000"}, {".text", ".data"}, {".data", "__entryPoint__", "loop", "Modbus"}};
  static const std::size_t kSizes[] = {1, 2, 4};
  for (std::size_t set = 0; set < 3; ++set) {
    const std::span<const std::string_view> patterns(kSets[set], kSizes[set]);
    for (std::size_t from = 0;;) {
      const std::size_t at = pakforge::findAny(text, patterns, from);
      if (at != pakforge::findAnyPortable(text, patterns, from))
        std::abort();
      if (at == std::string::npos)
        break;
      from = at + 1;
    }
  }

  std::ostringstream report;
  const int result = pakforge::reportRamBudget(usage, report);
  const auto used = static_cast<std::int32_t>(usage.dataEnd - usage.dataStart);
  const auto limit = static_cast<std::int32_t>(0x20008000u - usage.dataStart);
  const std::string over = "\033[31mError: Not enough RAM memory on the selected device.\033[0m";
  const std::string& out = report.str();
  const bool endsOver =
      out.size() >= over.size() && out.compare(out.size() - over.size(), over.size(), over) == 0;
  if (result != (limit < used ? -2 : 0) || endsOver != (result == -2) ||
      out.rfind("\n---------  RAM  -----------\nApp RAM data size = ", 0) != 0) {
    std::abort();
  }
  return 0;
}
