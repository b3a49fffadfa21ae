#include "output/output_file.h"

#include <atomic>
#include <chrono>

namespace pakforge {
namespace {

// A number that differs between processes and between calls.
std::uint64_t uniqueNumber() {
  static std::atomic<std::uint64_t> calls{0};
  const auto now = static_cast<std::uint64_t>(
      std::chrono::high_resolution_clock::now().time_since_epoch().count());
  std::uint64_t x = now ^ (platform::processId() << 32) ^ (++calls * 0x9E3779B97F4A7C15ull);
  // Mix the bits so that close inputs give unlike numbers.
  x ^= x >> 31;
  x *= 0xBF58476D1CE4E5B9ull;
  x ^= x >> 27;
  return x;
}

// Six characters from a random number, to tell temporary files apart.
std::string randomSuffix() {
  constexpr std::string_view kDigits = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::uint64_t n = uniqueNumber();
  std::string suffix(6, '0');
  for (char& c : suffix) {
    c = kDigits[n % kDigits.size()];
    n /= kDigits.size();
  }
  return suffix;
}

std::string folderOf(const std::string& path) {
  const std::size_t separator = platform::lastSeparator(path);
  return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

// The temporary file's name: ".NAME.tmp-XXXXXX", so that a file left by a
// kill says what it is. File names are limited to 255 bytes (UTF-16 units on
// Windows): a long NAME is cut, at a character boundary, to leave room.
std::string temporaryName(std::string_view name) {
  constexpr std::size_t kLongest = 200;
  if (name.size() > kLongest) {
    std::size_t cut = kLongest;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) {
      --cut;
    }
    name = name.substr(0, cut);
  }
  return std::string(".").append(name).append(".tmp-").append(randomSuffix());
}

}  // namespace

OutputFile::~OutputFile() {
  discard();
}

bool OutputFile::open(const std::string& path) {
  // What the path opens to decides, before any link is followed by hand: a
  // link to a pipe (/dev/stdout, /dev/fd/N) names no file to replace.
  platform::FileKind kind = platform::fileKind(path);
  if (kind == platform::FileKind::directory || kind == platform::FileKind::unreachable) {
    return false;
  }
  if (kind == platform::FileKind::other) {
    // A device or a pipe can't be renamed over; it holds no image to keep.
    isDirect_ = true;
    direct_.open(platform::nativePath(path), std::ios::binary | std::ios::trunc);
    return direct_.is_open();
  }
  target_ = platform::resolveLinks(path);
  kind = platform::fileKind(target_);
  // Renaming over a file ignores its mode: a read-only image is refused as
  // writing it in place would be.
  if ((kind != platform::FileKind::regular && kind != platform::FileKind::missing) ||
      (kind == platform::FileKind::regular && !platform::mayWrite(target_))) {
    return false;
  }
  const std::string folder = folderOf(target_);
  const std::string name = target_.substr(folder.size());
  if (name.empty()) {
    return false;
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    temporary_ = folder + temporaryName(name);
    switch (platform::createNewFile(temporary_, file_)) {
      case platform::Created::ok:
        platform::removeOnInterrupt(temporary_);
        if (kind == platform::FileKind::regular) {
          platform::copyOwnerAndPermissions(target_, file_);
        }
        return true;
      case platform::Created::exists:
        continue;
      case platform::Created::failed:
        break;
    }
    break;
  }
  temporary_.clear();
  return false;
}

bool OutputFile::write(const char* bytes, std::size_t size) {
  if (ok_ && size > 0) {
    if (isDirect_) {
      direct_.write(bytes, static_cast<std::streamsize>(size));
      ok_ = static_cast<bool>(direct_);
    } else {
      ok_ = platform::writeFile(file_, bytes, size);
    }
  }
  return ok_;
}

bool OutputFile::finish() {
  if (isDirect_) {
    direct_.close();
    return ok_ && !direct_.fail();
  }
  ok_ = ok_ && platform::syncFile(file_);
  const bool closed = platform::closeFile(file_);
  file_ = platform::kNoFile;
  ok_ = ok_ && closed && platform::replaceFile(temporary_, target_);
  if (!ok_) {
    discard();
    return false;
  }
  temporary_.clear();
  platform::keepOnInterrupt();
  return true;
}

void OutputFile::discard() {
  if (file_ != platform::kNoFile) {
    platform::closeFile(file_);
    file_ = platform::kNoFile;
  }
  if (!temporary_.empty()) {
    platform::removeFile(temporary_);
    temporary_.clear();
    platform::keepOnInterrupt();
  }
}

const std::string* replacedInput(const std::string& path,
                                 std::initializer_list<const std::string*> inputs) {
  platform::FileId output;
  if (platform::fileKind(path) != platform::FileKind::regular || !platform::fileId(path, output)) {
    return nullptr;
  }
  for (const std::string* input : inputs) {
    platform::FileId id;
    if (platform::fileId(*input, id) && id == output) {
      return input;
    }
  }
  return nullptr;
}

}  // namespace pakforge
