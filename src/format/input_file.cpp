#include "format/input_file.h"

#include <filesystem>
#include <system_error>

namespace pakforge {

bool openInputFile(const std::string& path, std::ios::openmode mode, std::ifstream& file) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::file_type type = fs::status(path, ec).type();
  if (type == fs::file_type::directory || type == fs::file_type::fifo ||
      type == fs::file_type::socket) {
    return false;
  }
  file.open(path, mode | std::ios::in);
  return file.is_open();
}

}  // namespace pakforge
