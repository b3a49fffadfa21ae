// Streams the lines of a map file through one fixed buffer, so that reading a
// map costs the same memory whatever its size, and hands each buffer to every
// scan of the map: one read of the file serves them all. A scan names the
// next line it needs and is shown only that line; lines longer than the
// buffer are gathered into the same few answers piece by piece.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <istream>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace pakforge {

inline constexpr std::size_t npos = std::string_view::npos;

// The next piece of input: either whole lines, each ended by a line feed but
// for the last line of the input, or (`partial`) a piece of a line too long
// for the buffer, holding no line feed; the line goes on in the next chunk.
struct Chunk {
  std::string_view text;
  bool partial = false;
  // Where `text` starts in the input.
  std::uint64_t offset = 0;
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
  std::uint64_t handedOut_ = 0;
};

// The leading run of hex digits of `text`, which holds at most eight.
std::uint32_t hexValue(std::string_view text);

// Where the first of up to six `patterns` first occurs in `text` at or
// after `from`, or npos. On x86-64 it compares the first and last bytes of
// every pattern at 16 positions at once: one pass over the text for all of
// them, and far fewer false starts than a search for a first byte alone on
// map text, where '2', '.' and 'l' are common.
std::size_t findAny(std::string_view text, std::span<const std::string_view> patterns,
                    std::size_t from = 0);
// The plain search, for every processor; the same answers.
std::size_t findAnyPortable(std::string_view text, std::span<const std::string_view> patterns,
                            std::size_t from = 0);
std::size_t findPattern(std::string_view text, std::string_view pattern, std::size_t from = 0);
// Where the line holding `at` starts, looking back no further than `from`.
std::size_t lineStart(std::string_view run, std::size_t from, std::size_t at);
// How many line feeds `text` holds: 16 bytes at a time on x86-64.
std::size_t countLineFeeds(std::string_view text);

// A line of the map that a scan took something from, to point to it.
struct MapLine {
  std::uint64_t number = 0;  // from 1; 0 when there is no such line
  std::string text;          // without its line end, cut to kMaxText characters
  // Where it starts in the map: a scan that does not count lines records
  // this, and a later read of the map numbers it.
  std::uint64_t offset = 0;
  bool found() const { return number != 0; }
  static constexpr std::size_t kMaxText = 120;
};

// Where the first of some patterns next occurs in a run of text, searched for
// again only once the reading has passed it.
class NextMatch {
 public:
  void reset() { at_ = kUnknown; }
  std::size_t from(std::string_view run, std::span<const std::string_view> patterns,
                   std::size_t pos) {
    if (at_ == kUnknown || (at_ != npos && at_ < pos)) {
      at_ = findAny(run, patterns, pos);
    }
    return at_;
  }

 private:
  static constexpr std::size_t kUnknown = npos - 1;
  std::size_t at_ = kUnknown;
};

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

  // A whole line, without its line end.
  void set(std::string_view line);

  // Where the line starts in the input, as a byte offset.
  void setOffset(std::uint64_t offset) { offset_ = offset; }
  std::uint64_t offset() const { return offset_; }

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
  // The line's first kMaxHead characters (all of a shorter line), to quote
  // it and to read its columns.
  static constexpr std::size_t kMaxHead = 160;
  std::string_view head() const;

 private:
  std::array<std::string_view, 2> patterns_;
  char lead_;
  std::size_t window_;

  bool whole_ = false;
  std::string_view line_;
  std::uint64_t offset_ = 0;

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
  std::array<char, kMaxHead> head_{};
  std::size_t headLength_ = 0;
};

// One scan of a map's lines. It says where in a run of whole lines the next
// line it needs to see lies, and looks at the lines it is shown; every line
// too long for the buffer is shown to it as well.
class LineScan {
 public:
  explicit LineScan(LineFeatures features) : features_(features) {}
  virtual ~LineScan() = default;
  LineScan(const LineScan&) = delete;
  LineScan& operator=(const LineScan&) = delete;

  // A new run of whole lines starts, at `offset` in the input; where the
  // scan's searches stand in the old one means nothing any more.
  virtual void beginRun(std::string_view /*run*/) {}
  void setRunOffset(std::uint64_t offset) { runOffset_ = offset; }
  std::uint64_t runOffset() const { return runOffset_; }
  // The offset of a byte of the next line at or after `from` (a line start)
  // that the scan must see, or npos when no further line of `run` matters.
  virtual std::size_t nextCandidate(std::string_view run, std::size_t from) = 0;
  // Looks at one line; false once the scan needs no further line.
  virtual bool onLine(const LineFeatures& line) = 0;
  // A line hidden from every scan (GNU ld's block of discarded sections),
  // for a scan that counts or names lines; of a line longer than the
  // buffer, its first bytes.
  virtual void onHiddenLine(std::string_view /*line*/) {}

  LineFeatures& features() { return features_; }
  // Features of another pair of patterns and lead character, for a scan
  // that applies two scans' rules to the same lines; set with the first.
  virtual LineFeatures* secondFeatures() { return nullptr; }

 private:
  LineFeatures features_;
  std::uint64_t runOffset_ = 0;
};

// Reads `in` to its end once, through one buffer of `bufferSize` bytes, and
// shows every scan the lines it asks for, in file order, until it is done.
void scanLines(std::istream& in, std::initializer_list<LineScan*> scans,
               std::size_t bufferSize = LineReader::kDefaultBufferSize);

}  // namespace pakforge
