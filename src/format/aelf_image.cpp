#include "format/aelf_image.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <fstream>

#include "format/hex_text.h"
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
  // are of the first 76, and the file's length stands for the rest.
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
  image.deviceStatus = status;
  if (status == AELF_BAD_LENGTH) {
    return ImageProblem::lengthMismatch;
  }
  return status == AELF_OK ? ImageProblem::none : ImageProblem::deviceRefuses;
}

int deviceCheck(const ImageHeader& header) {
  const HeaderBytes bytes = encodeHeader(header);
  std::array<std::uint8_t, kImagePrefixSize> prefix{};
  std::copy(kAelfMagic.begin(), kAelfMagic.end(), prefix.begin());
  std::copy(bytes.begin(), bytes.end(),
            prefix.begin() + static_cast<std::ptrdiff_t>(kAelfMagic.size()));
  // It reads the first 76 bytes alone; the length the payloads give stands
  // for the rest.
  const std::uint64_t length =
      std::uint64_t{kImagePrefixSize} + header.appSize + header.resourcesSize;
  if (length > SIZE_MAX) {
    return AELF_BAD_LENGTH;
  }
  aelf_image image{};
  return aelf_check(prefix.data(), static_cast<std::size_t>(length), &image);
}

std::string deviceRefusal(const ImageHeader& header, int status) {
  const std::uint64_t end = std::uint64_t{header.addrExe} + header.appSize;
  const std::string code = rangeText(header.addrExe, end);
  switch (status) {
    case AELF_OK:
      return {};
    case AELF_BAD_MAGIC:
      return "its magic is not AELF (AELF_BAD_MAGIC)";
    case AELF_TOO_SHORT:
      return "it is shorter than its magic and header (AELF_TOO_SHORT)";
    case AELF_BAD_LENGTH:
      return "its length is not 76 + appSize + resourcesSize (AELF_BAD_LENGTH)";
    case AELF_CODE_OUTSIDE_FLASH:
      return "its code, " + code + ", does not lie in the application's flash, " +
             hexText(FLASH_BASE) + "-" + hexText(ROM_LIMIT) + " (AELF_CODE_OUTSIDE_FLASH)";
    case AELF_ENTRY_OUTSIDE_CODE:
      return "entryPointAddr " + hexText(header.entryPointAddr) + " lies outside the code, " +
             code + " (AELF_ENTRY_OUTSIDE_CODE)";
    case AELF_LOOP_OUTSIDE_CODE:
      return "loopAddr " + hexText(header.loopAddr) + " lies outside the code, " + code +
             " (AELF_LOOP_OUTSIDE_CODE)";
    default:
      return "aelf_check status " + std::to_string(status);
  }
}

}  // namespace pakforge
