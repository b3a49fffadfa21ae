// Addresses and offsets as the messages and reports write them: 0x, upper
// case, at least `digits` digits.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

namespace pakforge {

inline std::string hexText(std::uint64_t value, int digits = 8) {
  std::array<char, 24> text{};
  std::snprintf(text.data(), text.size(), "0x%0*llX", digits,
                static_cast<unsigned long long>(value));
  return text.data();
}

// A code range from `start` for `size` bytes, as addresses of the device's
// 32-bit space: an end past 4 GiB (a range end line before the start line
// makes appSize wrap) is written as the address it wraps to, and said.
inline std::string rangeText(std::uint64_t start, std::uint64_t end) {
  const std::string text = hexText(start) + "-" + hexText(end & 0xFFFFFFFFu);
  return end > 0xFFFFFFFFu ? text + " (wrapping past 4 GiB: it ends before it starts)" : text;
}

}  // namespace pakforge
