// Streams the lines of a map file through one fixed buffer, so that reading a
// map costs the same memory whatever its size, and gathers what the two scans
// need to know of a line even when the line is longer than the buffer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
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
  static constexpr std::size_t kDefaultBufferSize = std::size_t{256} * 1024;

  explicit LineReader(std::istream& in, std::size_t bufferSize = kDefaultBufferSize);

  // False once the input is used up. A read error ends the input like its
  // end, and so does a buffer that could not be had.
  bool next(Chunk& chunk);

 private:
  std::istream& in_;
  std::unique_ptr<char[]> buffer_;
  std::size_t size_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  bool atEnd_ = false;
};

// The leading run of hex digits of `text`, which holds at most eight.
std::uint32_t hexValue(std::string_view text);

// Where `pattern` first occurs in `text` at or after `from`, or npos. Faster
// than string_view::find on map text, where the first character of a
// pattern ('2', '.') is common.
std::size_t findPattern(std::string_view text, std::string_view pattern, std::size_t from = 0);

// What a scan needs of one line: whether it holds each of up to two
// patterns, the few characters from the first occurrence of a lead
// character, and the text after its last space. A line that fits the buffer
// is looked at in place, and only as far as a scan asks; a longer one is
// gathered piece by piece into the same answers.
class LineFeatures {
 public:
  static constexpr std::size_t kMaxWindow = 8;
  // Longer names than this are told apart from every name looked up.
  static constexpr std::size_t kMaxName = 32;

  LineFeatures(std::string_view pattern0, std::string_view pattern1, char lead, std::size_t window);

  // Whole lines: first the run of lines they are taken from, then each line
  // of it in order, without its line end. Patterns are searched once per
  // run, not once per line.
  void beginRun(std::string_view run);
  void set(std::string_view line);

  // A line given in pieces: reset, feed each piece, then finish.
  void reset();
  void feed(std::string_view piece);
  // A carriage return right before the line feed is not part of the line.
  void finish(bool endedByLineFeed);

  bool holds(std::size_t pattern) const;
  // Up to `window` characters from the first lead character; empty when the
  // line holds none.
  std::string_view leadWindow() const;
  // The window read as the leading run of its hex digits.
  std::uint32_t windowValue() const { return hexValue(leadWindow()); }
  // The text after the last space (the whole line when it holds none);
  // unknown when a line given in pieces has a longer one than kMaxName.
  bool nameKnown() const { return whole_ || !nameOverflow_; }
  std::string_view name() const;

 private:
  std::array<std::string_view, 2> patterns_;
  char lead_;
  std::size_t window_;

  bool whole_ = false;
  std::string_view run_;
  std::string_view line_;
  // Where each pattern next occurs in the run, from the last line asked
  // about; kUnknown until first asked.
  static constexpr std::size_t kUnknown = std::string_view::npos - 1;
  mutable std::array<std::size_t, 2> next_{};

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
  constexpr std::size_t npos = std::string_view::npos;
  LineReader reader(in, bufferSize);
  Chunk chunk;
  bool inLongLine = false;
  while (reader.next(chunk)) {
    std::string_view text = chunk.text;
    if (inLongLine) {
      const std::size_t lineFeed = text.find('\n');
      features.feed(text.substr(0, lineFeed));
      if (lineFeed == npos && chunk.partial) {
        continue;
      }
      inLongLine = false;
      features.finish(lineFeed != npos);
      if (!onLine(features)) {
        return;
      }
      text.remove_prefix(lineFeed == npos ? text.size() : lineFeed + 1);
    }
    if (chunk.partial) {
      inLongLine = true;
      features.reset();
      features.feed(text);
      continue;
    }
    features.beginRun(text);
    while (!text.empty()) {
      const std::size_t skip = skipTo(text);
      if (skip == npos) {
        break;
      }
      if (skip > 0) {
        const void* lineFeedBefore = memrchr(text.data(), '\n', skip);
        if (lineFeedBefore != nullptr) {
          text.remove_prefix(
              static_cast<std::size_t>(static_cast<const char*>(lineFeedBefore) - text.data()) + 1);
        }
      }
      const std::size_t lineFeed = text.find('\n');
      std::string_view line = text.substr(0, lineFeed);
      if (lineFeed != npos && !line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
      }
      features.set(line);
      if (!onLine(features)) {
        return;
      }
      text.remove_prefix(lineFeed == npos ? text.size() : lineFeed + 1);
    }
  }
  if (inLongLine) {
    features.finish(false);
    onLine(features);
  }
}

}  // namespace pakforge
