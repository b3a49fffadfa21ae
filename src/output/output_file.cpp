#include "output/output_file.h"

namespace pakforge {
namespace {

// Six characters from a random number, to tell temporary files apart.
std::string randomSuffix() {
  constexpr std::string_view kDigits = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::uint64_t n = platform::uniqueNumber();
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

}  // namespace

OutputFile::~OutputFile() {
  discard();
}

bool OutputFile::open(const std::string& path) {
  target_ = platform::resolveLinks(path);
  const platform::FileKind kind = platform::fileKind(target_);
  if (kind == platform::FileKind::directory) {
    return false;
  }
  if (kind == platform::FileKind::other) {
    // A device or a pipe can't be renamed over; it holds no image to keep.
    isDirect_ = true;
    direct_.open(platform::nativePath(path), std::ios::binary | std::ios::trunc);
    return direct_.is_open();
  }
  const std::string folder = folderOf(target_);
  const std::string name = target_.substr(folder.size());
  if (name.empty()) {
    return false;
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    temporary_ = folder;
    temporary_.append(".").append(name).append(".tmp-").append(randomSuffix());
    switch (platform::createNewFile(temporary_, file_)) {
      case platform::Created::ok:
        platform::removeOnInterrupt(temporary_);
        if (kind == platform::FileKind::regular) {
          platform::copyPermissions(target_, file_);
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

}  // namespace pakforge
