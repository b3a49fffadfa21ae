// The lines of the RAM and ROM usage report. This file alone knows their
// bytes: colours, number formats and shapes.
#pragma once

#include <cstdint>
#include <ostream>
#include <string_view>

namespace pakforge {

enum class Budget { rom, ram };

// value * 100 / limit in single precision, in that order.
float percentOf(float value, float limit);

void printSectionTitle(std::ostream& out, Budget which);
// An item's value is a byte count, shown and converted unsigned.
void printItemLine(std::ostream& out, std::string_view label, std::uint32_t value,
                   std::int32_t limit);
void printUsageLine(std::ostream& out, std::string_view label, std::int32_t used,
                    std::int32_t limit);
void printFreeSpaceLine(std::ostream& out, std::int32_t used, std::int32_t limit);
void printClosingRule(std::ostream& out);
// Ends without a line feed.
void printOverBudgetLine(std::ostream& out, Budget which);

// The end of a section: usage line, free-space line, closing rule, then the
// over-budget line when used > limit (equal fits). True when within budget.
bool printSectionTotals(std::ostream& out, Budget which, std::string_view label, std::int32_t used,
                        std::int32_t limit);

}  // namespace pakforge
