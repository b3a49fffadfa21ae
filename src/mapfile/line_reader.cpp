#include "mapfile/line_reader.h"

#include <algorithm>
#include <cstring>
#include <new>

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
  const void* lastLineFeed = memrchr(buffer, '\n', end_);
  if (lastLineFeed != nullptr) {
    begin_ = static_cast<std::size_t>(static_cast<const char*>(lastLineFeed) - buffer) + 1;
    chunk = {std::string_view(buffer, begin_), false};
  } else {
    // Without a line feed in a full buffer the line is longer than the
    // buffer; at the end of the input it is the last line.
    begin_ = end_;
    chunk = {std::string_view(buffer, end_), !atEnd_};
  }
  return true;
}

LineFeatures::LineFeatures(std::string_view pattern0, std::string_view pattern1, char lead,
                           std::size_t window)
    : patterns_{pattern0, pattern1}, lead_(lead), window_(std::min(window, kMaxWindow)) {}

void LineFeatures::beginRun(std::string_view run) {
  run_ = run;
  next_ = {kUnknown, kUnknown};
}

void LineFeatures::set(std::string_view line) {
  whole_ = true;
  line_ = line;
}

void LineFeatures::reset() {
  whole_ = false;
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
  // Lines are set in order, so the next occurrence only moves forward.
  const auto start = static_cast<std::size_t>(line_.data() - run_.data());
  std::size_t& next = next_[pattern];
  if (next == kUnknown || (next != std::string_view::npos && next < start)) {
    next = findPattern(run_, patterns_[pattern], start);
  }
  return next != std::string_view::npos && next < start + line_.size();
}

std::string_view LineFeatures::leadWindow() const {
  if (!whole_) {
    return {windowText_.data(), windowLength_};
  }
  const std::size_t at = line_.find(lead_);
  return at == std::string_view::npos ? std::string_view() : line_.substr(at, window_);
}

std::string_view LineFeatures::name() const {
  if (!whole_) {
    return {name_.data(), nameLength_};
  }
  const void* space = memrchr(line_.data(), ' ', line_.size());
  if (space == nullptr) {
    return line_;
  }
  return line_.substr(static_cast<std::size_t>(static_cast<const char*>(space) - line_.data()) + 1);
}

std::size_t findPattern(std::string_view text, std::string_view pattern, std::size_t from) {
  if (from > text.size() || pattern.empty()) {
    return std::string_view::npos;
  }
  const void* at = memmem(text.data() + from, text.size() - from, pattern.data(), pattern.size());
  return at == nullptr ? std::string_view::npos
                       : static_cast<std::size_t>(static_cast<const char*>(at) - text.data());
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

}  // namespace pakforge
