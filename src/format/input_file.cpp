#include "format/input_file.h"

#include <filesystem>
#include <sstream>
#include <system_error>

#include "platform/platform.h"

namespace pakforge {

bool openInputFile(const std::string& path, std::ios::openmode mode, std::ifstream& file) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path native = platform::nativePath(path);
  const fs::file_type type = fs::status(native, ec).type();
  if (type == fs::file_type::directory || type == fs::file_type::fifo ||
      type == fs::file_type::socket) {
    return false;
  }
  file.open(native, mode | std::ios::in);
  return file.is_open();
}

bool readWholeFile(const std::string& path, std::string& text) {
  std::ifstream in;
  if (!openInputFile(path, std::ios::binary, in)) {
    return false;
  }
  std::ostringstream all;
  all << in.rdbuf();
  text = all.str();
  return !in.bad();
}

}  // namespace pakforge
