// aelfdump's second mode: everything that stands between a link (its map
// and ELF file) and a correct image, with the change that fixes each
// problem, and pakforge's own verdict last.
#pragma once

#include <string>

namespace pakforge::aelfdump {

// Exit statuses of --link beyond those the image mode shares (1: a file
// can't be opened, 2: wrong arguments, 7: no readable ELF file).
inline constexpr int kLinkRefused = 8;
inline constexpr int kScriptUnreadable = 10;  // --script's file is no script it can read

// Prints the diagnosis as text or JSON; returns the exit status: 0 when
// pakforge builds a correct image from this link. With `scriptPath`, the
// linker script the link was made with: the lines that end the code range
// start from .data's own AT(SYMBOL) where it has one, as --fix writes them.
// 10 when that script can't be read as one.
int dumpLink(const std::string& mapPath, const std::string& elfPath, bool json,
             const std::string& scriptPath = {});

// Prints the explanation of a problem's code (PF101 ...); 2 (wrong
// arguments) for a code no problem has.
int explainRule(const std::string& code);

}  // namespace pakforge::aelfdump
