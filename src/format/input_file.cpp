#include "format/input_file.h"

#include <filesystem>
#include <system_error>

namespace pakforge {

bool openInputFile(const std::string& path, std::ios::openmode mode, std::ifstream& file) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    return false;
  }
  file.open(path, mode | std::ios::in);
  return file.is_open();
}

}  // namespace pakforge
