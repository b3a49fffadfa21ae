// Streams the lines of a map file through one fixed buffer, so that reading a
// map costs the same memory whatever its size, and gathers what the two scans
// need to know of a line even when the line is longer than the buffer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <istream>
#include <memory>
#include <string_view>

namespace pakforge {

// The next piece of input: either whole lines, each ended by a line feed but
// for the last line of the input, or (`partial`) a piece of a line too long
// for the buffer, holding no line feed; the line goes on in the next chunk.
struct Chunk {
  std::string_view text;
  bool partial = false;
};

class LineReader {
 public:
  static constexpr std::size_t kDefaultBufferSize = 256 * 1024;

  explicit LineReader(std::istream& in, std::size_t bufferSize = kDefaultBufferSize);

  // False once the input is used up. A read error ends the input like its end.
  bool next(Chunk& chunk);

 private:
  std::istream& in_;
  std::unique_ptr<char[]> buffer_;
  std::size_t size_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  bool atEnd_ = false;
};

// What a scan needs of one line: whether it holds each of up to two
// patterns, the few characters from the first occurrence of a lead
// character, and the text after its last space.
class LineFeatures {
 public:
  static constexpr std::size_t kMaxWindow = 8;
  // Longer names than this are told apart from every name looked up.
  static constexpr std::size_t kMaxName = 32;

  LineFeatures(std::string_view pattern0, std::string_view pattern1, char lead, std::size_t window);

  void reset();
  void feed(std::string_view piece);
  // A carriage return right before the line feed is not part of the line.
  void finish(bool endedByLineFeed);

  bool holds(std::size_t pattern) const { return found_[pattern]; }
  bool hasLead() const { return leadSeen_; }
  // The window read as the leading run of its hex digits.
  std::uint32_t windowValue() const;
  // The text after the last space, unless it is longer than kMaxName.
  bool nameKnown() const { return !nameOverflow_; }
  std::string_view name() const { return {name_.data(), nameLength_}; }

 private:
  std::array<std::string_view, 2> patterns_;
  char lead_;
  std::size_t window_;

  std::array<bool, 2> found_{};
  bool leadSeen_ = false;
  std::array<char, kMaxWindow> windowText_{};
  std::size_t windowLength_ = 0;
  std::array<char, kMaxName + 1> name_{};
  std::size_t nameLength_ = 0;
  bool nameOverflow_ = false;
  // The last bytes fed, to find a pattern split between two pieces.
  std::array<char, 4> tail_{};
  std::size_t tailLength_ = 0;
};

// Calls onLine(features) for every line of `in`, in order, until onLine
// returns false or the input ends. skipTo(text) may name the offset in a run
// of whole lines before which no line needs a look (npos: none does); the
// lines it passes over are not handed to onLine.
template <typename SkipTo, typename OnLine>
void forEachLine(std::istream& in, LineFeatures& features, SkipTo skipTo, OnLine onLine,
                 std::size_t bufferSize = LineReader::kDefaultBufferSize) {
  LineReader reader(in, bufferSize);
  Chunk chunk;
  bool inLongLine = false;
  while (reader.next(chunk)) {
    std::string_view text = chunk.text;
    if (inLongLine) {
      const std::size_t lineFeed = text.find('\n');
      if (lineFeed == std::string_view::npos) {
        features.feed(text);
        if (!chunk.partial) {
          inLongLine = false;
          features.finish(false);
          if (!onLine(features))
            return;
        }
        continue;
      }
      inLongLine = false;
      features.feed(text.substr(0, lineFeed));
      features.finish(true);
      if (!onLine(features))
        return;
      text.remove_prefix(lineFeed + 1);
    }
    if (chunk.partial) {
      inLongLine = true;
      features.reset();
      features.feed(text);
      continue;
    }
    while (!text.empty()) {
      const std::size_t skip = skipTo(text);
      if (skip == std::string_view::npos)
        break;
      const std::size_t lineFeedBefore =
          skip == 0 ? std::string_view::npos : text.rfind('\n', skip - 1);
      if (lineFeedBefore != std::string_view::npos)
        text.remove_prefix(lineFeedBefore + 1);
      const std::size_t lineFeed = text.find('\n');
      features.reset();
      features.feed(text.substr(0, lineFeed));
      features.finish(lineFeed != std::string_view::npos);
      if (!onLine(features))
        return;
      text.remove_prefix(lineFeed == std::string_view::npos ? text.size() : lineFeed + 1);
    }
  }
  if (inLongLine) {
    features.finish(false);
    onLine(features);
  }
}

}  // namespace pakforge
