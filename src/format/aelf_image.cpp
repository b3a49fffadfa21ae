#include "format/aelf_image.h"

#include <algorithm>
#include <array>
#include <fstream>

#include "format/input_file.h"

namespace pakforge {

ImageProblem readAelfImage(const std::string& path, AelfImage& image) {
  std::ifstream file;
  if (!openInputFile(path, std::ios::binary, file)) {
    return ImageProblem::cannotOpen;
  }
  file.seekg(0, std::ios::end);
  const std::streamoff size = file.tellg();
  file.seekg(0, std::ios::beg);
  if (!file || size < 0) {
    return ImageProblem::cannotOpen;
  }
  image.fileSize = static_cast<std::uint64_t>(size);

  std::array<char, kImagePrefixSize> prefix{};
  file.read(prefix.data(), static_cast<std::streamsize>(prefix.size()));
  const auto got = static_cast<std::size_t>(file.gcount());
  // A short file whose first bytes already differ from the magic is no
  // image at all; one that only stops early is a cut image.
  const std::size_t magicBytes = std::min(got, kAelfMagic.size());
  if (!std::equal(prefix.begin(), prefix.begin() + static_cast<std::ptrdiff_t>(magicBytes),
                  kAelfMagic.begin())) {
    return ImageProblem::notAelf;
  }
  if (got < prefix.size()) {
    return ImageProblem::tooShort;
  }
  HeaderBytes bytes{};
  std::copy(prefix.begin() + static_cast<std::ptrdiff_t>(kAelfMagic.size()), prefix.end(),
            bytes.begin());
  image.header = decodeHeader(bytes);
  const std::uint64_t expected =
      std::uint64_t{kImagePrefixSize} + image.header.appSize + image.header.resourcesSize;
  return image.fileSize == expected ? ImageProblem::none : ImageProblem::lengthMismatch;
}

}  // namespace pakforge
