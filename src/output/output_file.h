// Writing the image so that its path never holds a partial one. A regular
// file (or none yet) is replaced whole: the bytes go to a new temporary file
// beside it, which is flushed to the disk and then renamed over the path in
// one step. Until then the path holds the previous image, untouched; a
// failure, Ctrl-C or a request to terminate removes the temporary file.
// Only a kill that can't be caught leaves it behind, named
// ".NAME.tmp-XXXXXX" beside NAME.
#pragma once

#include <cstddef>
#include <fstream>
#include <initializer_list>
#include <string>

#include "platform/platform.h"

namespace pakforge {

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // False when the file can't be created: a missing or read-only folder, or
  // a folder at the path. A symbolic link stays a link: the file it points
  // to is replaced. What is no regular file (/dev/null, a character device,
  // a named pipe) is written directly.
  bool open(const std::string& path);
  // False once any byte could not be written; later writes do nothing.
  bool write(const char* bytes, std::size_t size);
  // Puts the new file in place. False when anything failed on the way: the
  // previous file is then as it was and no temporary file remains.
  bool finish();

 private:
  void discard();

  std::string target_;
  std::string temporary_;
  platform::FileHandle file_ = platform::kNoFile;
  std::ofstream direct_;
  bool isDirect_ = false;
  bool ok_ = true;
};

// The first of `inputs` that is the same file as the existing regular file at
// `path`, whatever paths reach the two (links, another spelling, a hard
// link); null when there is none. An image written there would replace it.
const std::string* replacedInput(const std::string& path,
                                 std::initializer_list<const std::string*> inputs);

}  // namespace pakforge
