// What aelfdump's two modes share: text in JSON, and labels in a column.
#pragma once

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>

namespace pakforge::aelfdump {

inline std::string jsonString(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[7];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// A label padded to the column where values start.
inline std::string label(std::string_view text, std::size_t column = 21) {
  std::string padded(text);
  padded.resize(std::max(padded.size() + 1, column), ' ');
  return padded;
}

}  // namespace pakforge::aelfdump
