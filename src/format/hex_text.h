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

}  // namespace pakforge
