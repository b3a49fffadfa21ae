// A unified diff of two texts, as diff -u writes it, for showing what a
// fix changes in a file.
#pragma once

#include <string>

namespace pakforge::fix {

// "--- a/NAME", "+++ b/NAME" and the hunks with three lines of context;
// empty when the texts are the same.
std::string unifiedDiff(const std::string& before, const std::string& after,
                        const std::string& name);

}  // namespace pakforge::fix
