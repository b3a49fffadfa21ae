// Runs a map scan over text held in memory, through buffers of several sizes,
// so that every test also checks lines split across reads.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <sstream>
#include <string>

namespace pakforge {

// 1 byte, a few bytes, shorter and longer than typical lines, the default.
inline constexpr std::array<std::size_t, 5> kBufferSizes = {1, 5, 13, 64, 256 * 1024};

// Calls scan(stream, bufferSize) for each buffer size and checks that all
// agree with the default size; returns that result.
template <typename Scan>
auto scanEverySize(const std::string& text, Scan scan) {
  std::istringstream whole(text);
  const auto expected = scan(whole, kBufferSizes.back());
  for (std::size_t size : kBufferSizes) {
    std::istringstream in(text);
    EXPECT_EQ(scan(in, size), expected) << "buffer of " << size << " bytes";
  }
  return expected;
}

}  // namespace pakforge
