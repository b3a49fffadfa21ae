// Plain line-by-line readings of the two map scans, kept as simple as the
// rules themselves, against which the streaming scans are fuzzed.
#pragma once

#include <cstdint>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace reference {

// The lines both scans see: every line but those of GNU ld's block of
// discarded input sections, from a line that is exactly its heading to the
// next line that is not empty and starts with neither a space nor a tab.
inline std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream in(text);
  std::string line;
  bool discarded = false;
  while (std::getline(in, line)) {
    const bool endedByLineFeed = !in.eof();
    if (endedByLineFeed && !line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    if (discarded && !line.empty() && line[0] != ' ' && line[0] != '\t') {
      discarded = false;
    }
    if (!discarded && line == "Discarded input sections") {
      discarded = true;
    }
    if (!discarded) {
      result.push_back(line);
    }
  }
  return result;
}

inline std::uint32_t hex(const std::string& text) {
  std::uint32_t value = 0;
  for (char c : text) {
    int d = c >= '0' && c <= '9'   ? c - '0'
            : c >= 'a' && c <= 'f' ? c - 'a' + 10
            : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                   : -1;
    if (d < 0)
      break;
    value = value * 16 + static_cast<std::uint32_t>(d);
  }
  return value;
}

struct Ram {
  std::uint32_t dataStart = 0, dataEnd = 0;
};

inline Ram ramUsage(const std::string& text) {
  Ram r;
  for (const std::string& line : lines(text)) {
    if (line.find("2000") == std::string::npos)
      continue;
    const std::uint32_t value = hex(line.substr(line.find('2'), 8));
    if (line.find(".data") != std::string::npos) {
      r.dataStart = value;
    } else if (value > r.dataEnd && value > r.dataStart) {
      r.dataEnd = value;
    }
  }
  return r;
}

struct Symbols {
  bool ok = false;
  std::string message;
  bool addrExeSet = false, appSizeSet = false;
  std::uint32_t addrExe = 0, appSize = 0;
  std::vector<std::uint32_t> fields;  // the symbol fields written, in order
};

inline Symbols symbols(const std::string& text) {
  static const char* const kNames[] = {"__entryPoint__", "loop", "ModbusHGroups_Table",
                                       "ModbusIGroups_Table", "ModbusRemoteRegTables"};
  Symbols s;
  std::map<std::string, std::string> table;
  std::string last;
  bool haveLast = false, inRange = false;
  for (const std::string& line : lines(text)) {
    if (!inRange) {
      if (line.find(".text") != std::string::npos) {
        if (line.find('8') == std::string::npos) {
          s.message = "addrExe not found: the .text line holds no address\n";
          return s;
        }
        s.addrExe = hex(line.substr(line.find('8'), 7));
        s.addrExeSet = inRange = true;
      } else if (line.find(".data") != std::string::npos) {
        break;
      }
      continue;
    }
    if (line.find(".data") != std::string::npos) {
      if (!haveLast) {
        s.message = "appSize not found: no symbol line between the .text and .data lines\n";
        return s;
      }
      s.appSize = hex(last) - s.addrExe;
      s.appSizeSet = true;
      break;
    }
    if (line.find('8') == std::string::npos)
      continue;
    const std::size_t space = line.rfind(' ');
    const std::string name = space == std::string::npos ? line : line.substr(space + 1);
    table[name] = line.substr(line.find('8'), 7);
    last = table[name];
    haveLast = true;
  }
  if (!inRange) {
    s.message = "addrExe not found";
    return s;
  }
  for (const char* name : kNames) {
    const auto it = table.find(name);
    if (it == table.end()) {
      s.message = std::string("func ") + name + " not found\n";
      return s;
    }
    s.fields.push_back(hex(it->second));
  }
  s.ok = true;
  return s;
}

}  // namespace reference
