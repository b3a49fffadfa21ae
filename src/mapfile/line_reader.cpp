#include "mapfile/line_reader.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <span>
#include <utility>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define PAKFORGE_SSE2 1
#endif

namespace pakforge {

LineReader::LineReader(std::istream& in, std::size_t bufferSize)
    : in_(in), buffer_(new (std::nothrow) char[bufferSize]), size_(buffer_ ? bufferSize : 0) {}

bool LineReader::next(Chunk& chunk) {
  char* const buffer = buffer_.get();
  if (begin_ > 0) {
    std::memmove(buffer, buffer + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  while (!atEnd_ && end_ < size_) {
    in_.read(buffer + end_, static_cast<std::streamsize>(size_ - end_));
    end_ += static_cast<std::size_t>(in_.gcount());
    if (!in_) {
      atEnd_ = true;
    }
  }
  if (end_ == 0) {
    return false;
  }
  const std::size_t lastLineFeed = std::string_view(buffer, end_).rfind('\n');
  if (lastLineFeed != npos) {
    begin_ = lastLineFeed + 1;
    chunk = {std::string_view(buffer, begin_), false, handedOut_};
  } else {
    // Without a line feed in a full buffer the line is longer than the
    // buffer; at the end of the input it is the last line.
    begin_ = end_;
    chunk = {std::string_view(buffer, end_), !atEnd_, handedOut_};
  }
  handedOut_ += chunk.text.size();
  return true;
}

LineFeatures::LineFeatures(std::string_view pattern0, std::string_view pattern1, char lead,
                           std::size_t window)
    : patterns_{pattern0, pattern1}, lead_(lead), window_(std::min(window, kMaxWindow)) {}

void LineFeatures::set(std::string_view line) {
  whole_ = true;
  line_ = line;
}

void LineFeatures::reset() {
  whole_ = false;
  headLength_ = 0;
  found_ = {};
  leadSeen_ = false;
  windowLength_ = 0;
  nameLength_ = 0;
  nameOverflow_ = false;
  tailLength_ = 0;
}

void LineFeatures::feed(std::string_view piece) {
  if (piece.empty()) {
    return;
  }
  const std::size_t headTake = std::min(piece.size(), head_.size() - headLength_);
  std::memcpy(head_.data() + headLength_, piece.data(), headTake);
  headLength_ += headTake;
  // The patterns are at most five characters long, so four bytes of the
  // previous piece and four of this one hold any match across the seam.
  std::array<char, 8> seam{};
  std::memcpy(seam.data(), tail_.data(), tailLength_);
  const std::size_t head = std::min<std::size_t>(piece.size(), 4);
  std::memcpy(seam.data() + tailLength_, piece.data(), head);
  const std::string_view seamText(seam.data(), tailLength_ + head);
  for (std::size_t i = 0; i < patterns_.size(); ++i) {
    if (!found_[i] && !patterns_[i].empty()) {
      found_[i] = findPattern(seamText, patterns_[i]) != std::string_view::npos ||
                  findPattern(piece, patterns_[i]) != std::string_view::npos;
    }
  }
  const std::string_view recent = piece.size() >= 4 ? piece.substr(piece.size() - 4) : seamText;
  tailLength_ = std::min<std::size_t>(recent.size(), 4);
  std::memcpy(tail_.data(), recent.data() + recent.size() - tailLength_, tailLength_);

  if (windowLength_ < window_) {
    std::string_view from = piece;
    if (!leadSeen_) {
      const std::size_t at = piece.find(lead_);
      from = at == std::string_view::npos ? std::string_view() : piece.substr(at);
      leadSeen_ = at != std::string_view::npos;
    }
    const std::size_t take = std::min(window_ - windowLength_, from.size());
    if (take > 0) {
      std::memcpy(windowText_.data() + windowLength_, from.data(), take);
      windowLength_ += take;
    }
  }

  std::string_view nameText = piece;
  const std::size_t space = piece.rfind(' ');
  if (space != std::string_view::npos) {
    nameText = piece.substr(space + 1);
    nameLength_ = 0;
    nameOverflow_ = false;
  }
  if (!nameOverflow_) {
    if (nameLength_ + nameText.size() > name_.size()) {
      nameOverflow_ = true;
    } else {
      std::memcpy(name_.data() + nameLength_, nameText.data(), nameText.size());
      nameLength_ += nameText.size();
    }
  }
}

void LineFeatures::finish(bool endedByLineFeed) {
  // Only the name can see the carriage return: it is no pattern character,
  // and the hex digits of the window stop before it.
  if (endedByLineFeed && !nameOverflow_ && nameLength_ > 0 && name_[nameLength_ - 1] == '\r') {
    --nameLength_;
  }
}

bool LineFeatures::holds(std::size_t pattern) const {
  if (!whole_) {
    return found_[pattern];
  }
  // Scans look only at the few lines they need, so a search of the line
  // itself costs less than keeping track of the pattern in the whole run.
  return !patterns_[pattern].empty() && line_.find(patterns_[pattern]) != npos;
}

std::string_view LineFeatures::leadWindow() const {
  if (!whole_) {
    return {windowText_.data(), windowLength_};
  }
  const std::size_t at = line_.find(lead_);
  return at == std::string_view::npos ? std::string_view() : line_.substr(at, window_);
}

std::string_view LineFeatures::head() const {
  return whole_ ? line_.substr(0, kMaxHead) : std::string_view(head_.data(), headLength_);
}

std::string_view LineFeatures::name() const {
  if (!whole_) {
    return {name_.data(), nameLength_};
  }
  const std::size_t space = line_.rfind(' ');
  return space == npos ? line_ : line_.substr(space + 1);
}

std::size_t findAnyPortable(std::string_view text, std::span<const std::string_view> patterns,
                            std::size_t from) {
  std::size_t first = npos;
  for (const std::string_view pattern : patterns) {
    if (from <= text.size() && !pattern.empty()) {
      first = std::min(first, text.find(pattern, from));
    }
  }
  return first;
}

#ifdef PAKFORGE_SSE2
namespace {

// The search of findAny for N patterns, none of them empty. A position is a
// candidate when both the first and the last byte of some pattern match
// there; only candidates are compared in full.
template <std::size_t N>
std::size_t findAnySse2(std::string_view text, std::span<const std::string_view> patterns,
                        std::size_t from) {
  struct Ends {
    __m128i first;
    __m128i last;
    std::size_t lastAt;
  };
  std::array<Ends, N> ends{};
  std::size_t longest = 0;
  for (std::size_t k = 0; k < N; ++k) {
    const std::string_view pattern = patterns[k];
    ends[k] = {_mm_set1_epi8(pattern.front()), _mm_set1_epi8(pattern.back()), pattern.size() - 1};
    longest = std::max(longest, pattern.size());
  }
  const char* const p = text.data();
  // Unrolled over the patterns, so that their bytes stay in registers.
  const auto candidates = [&](std::size_t at) {
    const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at));
    const auto pattern = [&](const Ends& e) {
      const __m128i end = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at + e.lastAt));
      return _mm_and_si128(_mm_cmpeq_epi8(here, e.first), _mm_cmpeq_epi8(end, e.last));
    };
    const __m128i any = [&]<std::size_t... K>(std::index_sequence<K...>) {
      __m128i all = _mm_setzero_si128();
      ((all = _mm_or_si128(all, pattern(ends[K]))), ...);
      return all;
    }
    (std::make_index_sequence<N>());
    return static_cast<std::uint32_t>(_mm_movemask_epi8(any));
  };
  const auto firstMatch = [&](std::size_t at, std::uint64_t hits) {
    for (; hits != 0; hits &= hits - 1) {
      const std::size_t pos = at + static_cast<std::size_t>(std::countr_zero(hits));
      for (const std::string_view pattern : patterns) {
        if (text.compare(pos, pattern.size(), pattern) == 0) {
          return pos;
        }
      }
    }
    return npos;
  };
  // A step of 64 positions from i reads up to p[i + 63 + longest - 1], and
  // one of 16 up to p[i + 15 + longest - 1]: never past the text.
  std::size_t i = from;
  for (; i + 64 + longest - 1 <= text.size(); i += 64) {
    const std::uint64_t hits = candidates(i) | (std::uint64_t{candidates(i + 16)} << 16) |
                               (std::uint64_t{candidates(i + 32)} << 32) |
                               (std::uint64_t{candidates(i + 48)} << 48);
    if (hits != 0) {
      const std::size_t at = firstMatch(i, hits);
      if (at != npos) {
        return at;
      }
    }
  }
  for (; i + 16 + longest - 1 <= text.size(); i += 16) {
    const std::size_t at = firstMatch(i, candidates(i));
    if (at != npos) {
      return at;
    }
  }
  return findAnyPortable(text, patterns, i);
}

}  // namespace
#endif

std::size_t findAny(std::string_view text, std::span<const std::string_view> patterns,
                    std::size_t from) {
#ifdef PAKFORGE_SSE2
  const bool searchable =
      from <= text.size() &&
      std::none_of(patterns.begin(), patterns.end(), [](std::string_view p) { return p.empty(); });
  switch (searchable ? patterns.size() : 0) {
    case 1:
      return findAnySse2<1>(text, patterns, from);
    case 2:
      return findAnySse2<2>(text, patterns, from);
    case 3:
      return findAnySse2<3>(text, patterns, from);
    case 4:
      return findAnySse2<4>(text, patterns, from);
    case 5:
      return findAnySse2<5>(text, patterns, from);
    case 6:
      return findAnySse2<6>(text, patterns, from);
    case 7:
      return findAnySse2<7>(text, patterns, from);
    default:
      break;
  }
#endif
  return findAnyPortable(text, patterns, from);
}

std::size_t countLineFeeds(std::string_view text) {
  std::size_t count = 0;
  std::size_t i = 0;
#ifdef PAKFORGE_SSE2
  // Each byte of `counts` counts the line feeds at its position, up to 255
  // blocks at a time; _mm_sad_epu8 adds them up.
  const __m128i lineFeed = _mm_set1_epi8('\n');
  const __m128i zero = _mm_setzero_si128();
  while (i + 16 <= text.size()) {
    __m128i counts = zero;
    for (int blocks = 0; blocks < 255 && i + 16 <= text.size(); ++blocks, i += 16) {
      const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
      counts = _mm_sub_epi8(counts, _mm_cmpeq_epi8(block, lineFeed));
    }
    const __m128i sums = _mm_sad_epu8(counts, zero);
    count += static_cast<std::size_t>(_mm_cvtsi128_si32(sums)) +
             static_cast<std::size_t>(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
  }
#endif
  return count + static_cast<std::size_t>(
                     std::count(text.begin() + static_cast<std::ptrdiff_t>(i), text.end(), '\n'));
}

std::size_t findPattern(std::string_view text, std::string_view pattern, std::size_t from) {
  return findAny(text, {&pattern, 1}, from);
}

std::uint32_t hexValue(std::string_view text) {
  std::uint32_t value = 0;
  for (const char c : text) {
    std::uint32_t digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<std::uint32_t>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<std::uint32_t>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<std::uint32_t>(c - 'A' + 10);
    } else {
      break;
    }
    value = (value << 4) | digit;
  }
  return value;
}

std::size_t lineStart(std::string_view run, std::size_t from, std::size_t at) {
  const std::size_t lineFeed = run.substr(0, at).rfind('\n');
  return lineFeed == npos || lineFeed < from ? from : lineFeed + 1;
}

namespace {

// Shows `scan` the lines of a run of whole lines that it asks for; false
// once it is done.
bool scanRun(LineScan& scan, std::string_view run, std::uint64_t offset) {
  scan.setRunOffset(offset);
  scan.beginRun(run);
  LineFeatures& features = scan.features();
  std::size_t pos = 0;
  while (pos < run.size()) {
    const std::size_t candidate = scan.nextCandidate(run, pos);
    if (candidate == npos) {
      return true;
    }
    const std::size_t start = lineStart(run, pos, candidate);
    const std::size_t lineFeed = run.find('\n', candidate);
    std::string_view line = run.substr(start, lineFeed == npos ? npos : lineFeed - start);
    if (lineFeed != npos && !line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    features.set(line);
    features.setOffset(offset + start);
    if (LineFeatures* second = scan.secondFeatures()) {
      second->set(line);
      second->setOffset(offset + start);
    }
    if (!scan.onLine(features)) {
      return false;
    }
    pos = lineFeed == npos ? run.size() : lineFeed + 1;
  }
  return true;
}

// GNU ld lists the input sections that --gc-sections threw away in a block
// at the top of the map, at address 0, with ".text" and ".data" in their
// names: no scan may take a code start or a RAM address from there. The
// block starts at a line that is exactly this and ends before the next line
// that is not empty and does not start with a space or a tab.
constexpr std::string_view kDiscardedHeading = "Discarded input sections";

bool endsDiscardedBlock(std::string_view line) {
  return !line.empty() && line.front() != ' ' && line.front() != '\t';
}

// Where the first line of `text` (whole lines) that is exactly the heading
// starts, or npos. A carriage return before the line feed does not count.
std::size_t findDiscardedHeading(std::string_view text) {
  for (std::size_t at = findPattern(text, kDiscardedHeading); at != npos;
       at = findPattern(text, kDiscardedHeading, at + 1)) {
    const std::string_view rest = text.substr(at + kDiscardedHeading.size());
    if ((at == 0 || text[at - 1] == '\n') &&
        (rest.empty() || rest.front() == '\n' || rest.substr(0, 2) == "\r\n")) {
      return at;
    }
  }
  return npos;
}

// Hands the map's lines to the scans still reading, leaving out the block of
// discarded sections for all of them alike.
class Dispatch {
 public:
  explicit Dispatch(std::initializer_list<LineScan*> scans) {
    for (LineScan* scan : scans) {
      if (count_ < active_.size()) {
        active_[count_++] = scan;
      }
    }
  }
  bool done() const { return count_ == 0; }

  // A run of whole lines.
  void wholeLines(std::string_view text, std::uint64_t offset) {
    const auto skip = [&text, &offset](std::size_t n) {
      text.remove_prefix(n);
      offset += n;
    };
    while (!text.empty() && count_ > 0) {
      if (inDiscarded_) {
        std::size_t pos = 0;
        while (pos < text.size()) {
          const std::size_t lineFeed = text.find('\n', pos);
          std::string_view line = text.substr(pos, lineFeed == npos ? npos : lineFeed - pos);
          if (lineFeed != npos && !line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
          }
          if (endsDiscardedBlock(line)) {
            inDiscarded_ = false;
            break;
          }
          hidden(line);
          pos = lineFeed == npos ? text.size() : lineFeed + 1;
        }
        skip(pos);
        continue;
      }
      const std::size_t heading = findDiscardedHeading(text);
      show(text.substr(0, heading), offset);
      if (heading == npos) {
        return;
      }
      inDiscarded_ = true;
      const std::size_t lineFeed = text.find('\n', heading);
      hidden(text.substr(heading, kDiscardedHeading.size()));
      skip(lineFeed == npos ? text.size() : lineFeed + 1);
    }
  }

  // A piece of a line too long for the buffer. Its first bytes are held
  // back until it is known whether the line is the heading, or ends the
  // block: then the scans get them, or never see the line.
  void longLinePiece(std::string_view piece, bool first, std::uint64_t offset = 0) {
    if (first) {
      longLineOffset_ = offset;
      headLength_ = 0;
      longLine_ = LongLine::deciding;
    }
    if (longLine_ == LongLine::deciding) {
      const std::size_t take = std::min(piece.size(), head_.size() - headLength_);
      std::copy_n(piece.data(), take, head_.data() + headLength_);
      headLength_ += take;
      piece.remove_prefix(take);
      if (headLength_ < head_.size()) {
        return;
      }
      decide(false, false);
    }
    if (longLine_ == LongLine::shown) {
      for (std::size_t i = 0; i < count_; ++i) {
        active_[i]->features().feed(piece);
        if (LineFeatures* second = active_[i]->secondFeatures()) {
          second->feed(piece);
        }
      }
    }
  }

  void longLineEnd(bool endedByLineFeed) {
    if (longLine_ == LongLine::deciding) {
      decide(true, endedByLineFeed);
    }
    if (longLine_ != LongLine::shown) {
      return;
    }
    for (std::size_t i = count_; i-- > 0;) {
      active_[i]->features().finish(endedByLineFeed);
      if (LineFeatures* second = active_[i]->secondFeatures()) {
        second->finish(endedByLineFeed);
      }
      if (!active_[i]->onLine(active_[i]->features())) {
        drop(i);
      }
    }
  }

 private:
  void drop(std::size_t i) { active_[i] = active_[--count_]; }

  // A line no scan reads: the heading of the discarded block and its lines
  // (of a line too long for the buffer, its first bytes).
  void hidden(std::string_view line) {
    for (std::size_t i = 0; i < count_; ++i) {
      active_[i]->onHiddenLine(line);
    }
  }

  void show(std::string_view text, std::uint64_t offset) {
    for (std::size_t i = count_; !text.empty() && i-- > 0;) {
      if (!scanRun(*active_[i], text, offset)) {
        drop(i);
      }
    }
  }

  // `complete`: the head holds the whole line.
  void decide(bool complete, bool endedByLineFeed) {
    std::string_view line(head_.data(), headLength_);
    if (complete && endedByLineFeed && !line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    if (inDiscarded_ && !endsDiscardedBlock(line)) {
      longLine_ = LongLine::hidden;
      hidden(line);
      return;
    }
    inDiscarded_ = complete && line == kDiscardedHeading;
    if (inDiscarded_) {
      longLine_ = LongLine::hidden;
      hidden(line);
      return;
    }
    longLine_ = LongLine::shown;
    for (std::size_t i = 0; i < count_; ++i) {
      active_[i]->features().reset();
      active_[i]->features().setOffset(longLineOffset_);
      active_[i]->features().feed({head_.data(), headLength_});
      if (LineFeatures* second = active_[i]->secondFeatures()) {
        second->reset();
        second->setOffset(longLineOffset_);
        second->feed({head_.data(), headLength_});
      }
    }
  }

  std::array<LineScan*, 4> active_{};
  std::size_t count_ = 0;
  bool inDiscarded_ = false;
  enum class LongLine { deciding, shown, hidden };
  LongLine longLine_ = LongLine::deciding;
  // Longer than the heading with a carriage return: a line that fills it is
  // neither the heading nor empty.
  std::array<char, kDiscardedHeading.size() + 2> head_{};
  std::size_t headLength_ = 0;
  std::uint64_t longLineOffset_ = 0;
};

}  // namespace

void scanLines(std::istream& in, std::initializer_list<LineScan*> scans, std::size_t bufferSize) {
  Dispatch dispatch(scans);
  LineReader reader(in, bufferSize);
  Chunk chunk;
  bool inLongLine = false;
  while (!dispatch.done() && reader.next(chunk)) {
    std::string_view text = chunk.text;
    std::uint64_t offset = chunk.offset;
    if (inLongLine) {
      const std::size_t lineFeed = text.find('\n');
      dispatch.longLinePiece(text.substr(0, lineFeed), false);
      if (lineFeed == npos && chunk.partial) {
        continue;
      }
      inLongLine = false;
      dispatch.longLineEnd(lineFeed != npos);
      const std::size_t done = lineFeed == npos ? text.size() : lineFeed + 1;
      text.remove_prefix(done);
      offset += done;
    }
    if (chunk.partial) {
      inLongLine = true;
      dispatch.longLinePiece(text, true, offset);
      continue;
    }
    dispatch.wholeLines(text, offset);
  }
  if (inLongLine) {
    dispatch.longLineEnd(false);
  }
}

}  // namespace pakforge
