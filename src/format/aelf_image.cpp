#include "format/aelf_image.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <fstream>

#include "format/input_file.h"
#include "pakforge/aelf.h"

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
  // The format's own check, as a loader runs it: it reads the bytes there
  // are of the first 76, and the file's length stands for the rest. The
  // code range and the symbols are aelfdump's to warn about, not to refuse.
  aelf_image checked{};
  const aelf_status status = aelf_check(reinterpret_cast<const std::uint8_t*>(prefix.data()),
                                        static_cast<std::size_t>(image.fileSize), &checked);
  if (status == AELF_BAD_MAGIC) {
    return ImageProblem::notAelf;
  }
  if (status == AELF_TOO_SHORT) {
    return ImageProblem::tooShort;
  }
  HeaderBytes bytes{};
  std::copy(prefix.begin() + static_cast<std::ptrdiff_t>(kAelfMagic.size()), prefix.end(),
            bytes.begin());
  image.header = decodeHeader(bytes);
  return status == AELF_BAD_LENGTH ? ImageProblem::lengthMismatch : ImageProblem::none;
}

}  // namespace pakforge
