// aelfdump's first mode: what an AELF image holds, and (--elf) whether it
// still matches an ELF file.
#pragma once

#include <optional>
#include <string>

namespace pakforge::aelfdump {

// Prints the image at `imagePath` as text or JSON; returns the exit status.
int dumpImage(const std::string& imagePath, bool json, const std::optional<std::string>& elfPath);

}  // namespace pakforge::aelfdump
