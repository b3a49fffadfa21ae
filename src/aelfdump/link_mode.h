// aelfdump's second mode: everything that stands between a link (its map
// and ELF file) and a correct image, with the change that fixes each
// problem, and pakforge's own verdict last.
#pragma once

#include <string>

namespace pakforge::aelfdump {

// Exit statuses of --link beyond those the image mode shares (1: a file
// can't be opened, 2: wrong arguments, 7: no readable ELF file).
inline constexpr int kLinkRefused = 8;

// Prints the diagnosis as text or JSON; returns the exit status: 0 when
// pakforge builds a correct image from this link.
int dumpLink(const std::string& mapPath, const std::string& elfPath, bool json);

// Prints the explanation of a problem's code (PF101 ...); 2 (wrong
// arguments) for a code no problem has.
int explainRule(const std::string& code);

}  // namespace pakforge::aelfdump
