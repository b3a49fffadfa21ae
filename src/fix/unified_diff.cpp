#include "fix/unified_diff.h"

#include <algorithm>
#include <string_view>
#include <vector>

namespace pakforge::fix {
namespace {

std::vector<std::string_view> linesOf(const std::string& text) {
  std::vector<std::string_view> lines;
  std::size_t from = 0;
  while (from < text.size()) {
    std::size_t feed = text.find('\n', from);
    feed = feed == std::string::npos ? text.size() : feed + 1;
    lines.emplace_back(text.data() + from, feed - from);
    from = feed;
  }
  return lines;
}

// One line of the edit script: kept, removed from `before`, added.
struct Op {
  char kind;  // ' ', '-', '+'
  std::size_t a;
  std::size_t b;
};

// The edit script of a longest common subsequence. Scripts are small; a
// pair too large for the table is shown as one replacement.
std::vector<Op> editScript(const std::vector<std::string_view>& a,
                           const std::vector<std::string_view>& b) {
  std::size_t prefix = 0;
  while (prefix < a.size() && prefix < b.size() && a[prefix] == b[prefix]) {
    ++prefix;
  }
  std::size_t suffix = 0;
  while (suffix < a.size() - prefix && suffix < b.size() - prefix &&
         a[a.size() - 1 - suffix] == b[b.size() - 1 - suffix]) {
    ++suffix;
  }
  const std::size_t n = a.size() - prefix - suffix;
  const std::size_t m = b.size() - prefix - suffix;
  std::vector<Op> ops;
  for (std::size_t i = 0; i < prefix; ++i) {
    ops.push_back({' ', i, i});
  }
  constexpr std::size_t kMaxCells = std::size_t{1} << 24;
  if (n != 0 && m != 0 && (n + 1) * (m + 1) <= kMaxCells) {
    std::vector<std::uint32_t> table((n + 1) * (m + 1), 0);
    const auto at = [&](std::size_t i, std::size_t j) -> std::uint32_t& {
      return table[i * (m + 1) + j];
    };
    for (std::size_t i = n; i-- > 0;) {
      for (std::size_t j = m; j-- > 0;) {
        at(i, j) = a[prefix + i] == b[prefix + j] ? at(i + 1, j + 1) + 1
                                                  : std::max(at(i + 1, j), at(i, j + 1));
      }
    }
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < n || j < m) {
      if (i < n && j < m && a[prefix + i] == b[prefix + j]) {
        ops.push_back({' ', prefix + i++, prefix + j++});
      } else if (i < n && (j == m || at(i + 1, j) >= at(i, j + 1))) {
        ops.push_back({'-', prefix + i++, prefix + j});
      } else {
        ops.push_back({'+', prefix + i, prefix + j++});
      }
    }
  } else {
    for (std::size_t i = 0; i < n; ++i) {
      ops.push_back({'-', prefix + i, prefix});
    }
    for (std::size_t j = 0; j < m; ++j) {
      ops.push_back({'+', prefix + n, prefix + j});
    }
  }
  for (std::size_t k = 0; k < suffix; ++k) {
    ops.push_back({' ', prefix + n + k, prefix + m + k});
  }
  return ops;
}

std::string range(std::size_t start, std::size_t count) {
  // diff -u numbers from 1; an empty side names the line before it.
  const std::size_t first = count == 0 ? start : start + 1;
  return count == 1 ? std::to_string(first) : std::to_string(first) + "," + std::to_string(count);
}

}  // namespace

std::string unifiedDiff(const std::string& before, const std::string& after,
                        const std::string& name) {
  if (before == after) {
    return {};
  }
  const std::vector<std::string_view> a = linesOf(before);
  const std::vector<std::string_view> b = linesOf(after);
  const std::vector<Op> ops = editScript(a, b);
  constexpr std::size_t kContext = 3;
  std::string out = "--- a/" + name + "\n+++ b/" + name + "\n";
  std::size_t k = 0;
  while (k < ops.size()) {
    while (k < ops.size() && ops[k].kind == ' ') {
      ++k;
    }
    if (k == ops.size()) {
      break;
    }
    // A hunk: kContext lines around its changes; changes no more than
    // 2 * kContext kept lines apart share one.
    const std::size_t begin = k >= kContext ? k - kContext : 0;
    std::size_t last = k;
    for (std::size_t i = k + 1; i < ops.size() && i - last <= 2 * kContext + 1; ++i) {
      if (ops[i].kind != ' ') {
        last = i;
      }
    }
    const std::size_t end = std::min(ops.size(), last + 1 + kContext);
    std::size_t countA = 0;
    std::size_t countB = 0;
    std::string body;
    for (std::size_t i = begin; i < end; ++i) {
      const std::string_view line = ops[i].kind == '+' ? b[ops[i].b] : a[ops[i].a];
      countA += ops[i].kind != '+' ? 1U : 0U;
      countB += ops[i].kind != '-' ? 1U : 0U;
      body += ops[i].kind;
      body.append(line);
      if (line.empty() || line.back() != '\n') {
        body += "\n\\ No newline at end of file\n";
      }
    }
    out +=
        "@@ -" + range(ops[begin].a, countA) + " +" + range(ops[begin].b, countB) + " @@\n" + body;
    k = end;
  }
  return out;
}

}  // namespace pakforge::fix
