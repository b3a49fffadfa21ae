// Edits of the MEMORY block: the regions' origins and lengths, written as
// the team wrote them.
#include "fix/edits.h"

#include <algorithm>
#include <string>
#include <vector>

#include "format/image_header.h"
#include "ldscript/script_edit.h"

namespace pakforge::fix::edit {
namespace {

// A number of a MEMORY line: 0x..., decimal, with K or M.
bool memoryNumber(std::string_view text, std::uint64_t& value) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
    text.remove_prefix(1);
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  std::uint64_t scale = 1;
  if (!text.empty() && (text.back() == 'K' || text.back() == 'k')) {
    scale = 1024;
    text.remove_suffix(1);
  } else if (!text.empty() && (text.back() == 'M' || text.back() == 'm')) {
    scale = std::uint64_t{1024} * 1024;
    text.remove_suffix(1);
  }
  const bool hex = text.starts_with("0x") || text.starts_with("0X");
  if (hex) {
    text.remove_prefix(2);
  }
  if (text.empty() || text.size() > 10) {
    return false;
  }
  value = 0;
  for (const char c : text) {
    const int digit = c >= '0' && c <= '9'          ? c - '0'
                      : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                    : -1;
    if (digit < 0) {
      return false;
    }
    value = value * (hex ? 16 : 10) + static_cast<std::uint64_t>(digit);
  }
  value *= scale;
  return true;
}

// One region of a MEMORY block: where its ORIGIN and LENGTH values stand in
// the file's text, and what they are.
struct MemoryLine {
  std::size_t originAt = 0, originEnd = 0, lengthAt = 0, lengthEnd = 0;
  std::uint64_t origin = 0, length = 0;
};

bool findMemoryLine(const Script& script, const Statement& memory, const std::string& name,
                    MemoryLine& line) {
  const std::string& text = script.text;
  const std::size_t begin = script.byteOf(memory.open + 1);
  const std::size_t end = script.byteOf(memory.close);
  for (std::size_t from = begin; from < end;) {
    std::size_t feed = text.find('\n', from);
    feed = feed == std::string::npos || feed > end ? end : feed;
    const std::string_view l = std::string_view(text).substr(from, feed - from);
    const std::size_t first = l.find_first_not_of(" \t");
    if (first != std::string_view::npos && l.substr(first, name.size()) == name &&
        (first + name.size() == l.size() || l[first + name.size()] == ' ' ||
         l[first + name.size()] == '(' || l[first + name.size()] == ':')) {
      // "ORIGIN = X, LENGTH = Y" (or org/o, len/l).
      const std::size_t colon = l.find(':', first);
      const std::size_t comma = l.find(',', colon);
      const std::size_t equals1 = l.find('=', colon);
      const std::size_t equals2 = comma == std::string_view::npos ? comma : l.find('=', comma);
      if (colon == std::string_view::npos || comma == std::string_view::npos ||
          equals1 == std::string_view::npos || equals2 == std::string_view::npos) {
        return false;
      }
      std::size_t lengthEnd = l.find_first_of(",/", equals2);
      lengthEnd = lengthEnd == std::string_view::npos ? l.size() : lengthEnd;
      line = {from + equals1 + 1, from + comma, from + equals2 + 1, from + lengthEnd, 0, 0};
      return memoryNumber(l.substr(equals1 + 1, comma - equals1 - 1), line.origin) &&
             memoryNumber(l.substr(equals2 + 1, lengthEnd - equals2 - 1), line.length);
    }
    from = feed + 1;
  }
  return false;
}

// `value` in hex, with at least `digits` digits, in the case `like` uses.
std::string hex(std::uint64_t value, std::size_t digits = 1, std::string_view like = {}) {
  const bool lower = like.find_first_of("abcdef") != std::string_view::npos;
  const char* const kDigits = lower ? "0123456789abcdef" : "0123456789ABCDEF";
  std::string text;
  do {
    text.insert(text.begin(), kDigits[value % 16]);
    value /= 16;
  } while (value != 0 || text.size() < digits);
  return "0x" + text;
}

// A MEMORY value written again as the one it replaces was: the spaces
// around it, its hex digits' count and case, or in K.
std::string likeBefore(std::string_view before, std::uint64_t value) {
  const std::size_t start = before.find_first_not_of(" \t");
  const std::string_view old = start == std::string_view::npos ? before : before.substr(start);
  const std::size_t end = old.find_first_of(" \t\r");
  const std::string_view number = old.substr(0, end);
  const bool hexWritten = number.starts_with("0x") || number.starts_with("0X");
  const bool kilo =
      !hexWritten && !number.empty() && (number.back() == 'k' || number.back() == 'K');
  std::string text(before.substr(0, start == std::string_view::npos ? 0 : start));
  if (value == 0) {
    text.push_back('0');
  } else if (kilo && value % 1024 == 0) {
    text.append(std::to_string(value / 1024)).push_back(number.back());
  } else {
    text.append(hex(value, hexWritten ? number.size() - 2 : 1, number));
  }
  return text.append(end == std::string_view::npos ? std::string_view() : old.substr(end));
}

// `text` (the file's) with the region of `line` given `origin` and
// `length`, each written as the value it replaces was.
void rewriteRegion(std::string& text, std::string_view written, const MemoryLine& line,
                   std::uint64_t origin, std::uint64_t length) {
  // The length stands after the origin: replaced first, it moves nothing.
  text.replace(line.lengthAt, line.lengthEnd - line.lengthAt,
               likeBefore(written.substr(line.lengthAt, line.lengthEnd - line.lengthAt), length));
  text.replace(line.originAt, line.originEnd - line.originAt,
               likeBefore(written.substr(line.originAt, line.originEnd - line.originAt), origin));
}

}  // namespace

// A section moved into .text from a region of its own just before .text's:
// .text's region starts where that one did, so that it holds both.
void mergeRegions(Editor& e, const std::string& fromRegion, const std::string& textRegion,
                  const std::string& section, const std::vector<std::string>& codes) {
  const std::string from = e.region(fromRegion);
  const std::string into = e.region(textRegion);
  Sections m;
  if (from.empty() || into.empty() || from == into || !e.loadBlock("MEMORY", m)) {
    return;
  }
  MemoryLine a;
  MemoryLine b;
  if (!findMemoryLine(m.script, *m.block, from, a) ||
      !findMemoryLine(m.script, *m.block, into, b) || a.origin + a.length != b.origin) {
    return;
  }
  std::string text = m.script.text;
  rewriteRegion(text, m.script.text, b, a.origin, a.length + b.length);
  e.commit(m, text, codes,
           "let the region " + into + " start at " + hex(a.origin) + ", where " + from +
               " does, so that .text holds what " + section + " held");
}

// PF503: the device's RAM ends at RAM_LIMIT; a MEMORY region of the SRAM
// window that runs past it (a bank of a larger part) is cut to it, so that
// no end of a bank the device lacks stands in the map.
void clampRamBanks(Editor& e, const LinkDiagnosis& d) {
  // A RAM bank past the device's RAM fails the RAM check, and a stack top
  // set from the end of a larger RAM lies outside the device: cutting the
  // region answers both.
  const std::vector<std::string> codes =
      codesPresent(d, {Rule::ramCheckFails, Rule::stackTopOutsideRam});
  if (codes.empty()) {
    return;
  }
  Sections m;
  if (!e.loadBlock("MEMORY", m)) {
    return;
  }
  // The region names: the first word of each line of the block.
  std::vector<std::string> names;
  const std::string& text = m.script.text;
  const std::size_t begin = m.script.byteOf(m.block->open + 1);
  const std::size_t end = m.script.byteOf(m.block->close);
  for (std::size_t from = begin; from < end;) {
    std::size_t feed = text.find('\n', from);
    feed = feed == std::string::npos || feed > end ? end : feed;
    const std::string_view line = std::string_view(text).substr(from, feed - from);
    const std::size_t first = line.find_first_not_of(" \t");
    if (first != std::string_view::npos && line.find(':') != std::string_view::npos) {
      const std::string_view rest = line.substr(first);
      names.emplace_back(rest.substr(0, rest.find_first_of(" \t(:")));
    }
    from = feed + 1;
  }
  std::string edited = text;
  std::string cut;
  // From the last line up, so that earlier offsets stay where they are.
  for (std::size_t i = names.size(); i-- > 0;) {
    MemoryLine line;
    if (!findMemoryLine(m.script, *m.block, names[i], line) || !inSramWindow(line.origin) ||
        line.origin + line.length <= RAM_LIMIT) {
      continue;
    }
    const std::uint64_t origin = std::min<std::uint64_t>(line.origin, RAM_LIMIT);
    rewriteRegion(edited, text, line, origin, RAM_LIMIT - origin);
    cut.insert(0, join({names[i], cut.empty() ? "" : ", "}));
  }
  if (!cut.empty()) {
    e.commit(m, edited, codes,
             join({"cut ", cut, " to the device's RAM, up to ", hex(RAM_LIMIT, 8)}));
  }
}

// PF405 in a region that starts where the application's flash does: a
// NOLOAD reservation before .text in that region (a boot loader's image
// header, as Mynewt's and MCUboot's scripts keep) pushes the code start off
// 0x08020000, where no alignment of .text brings it back. The device's
// loader reads the image's own header, not this one: the reservation is
// emptied, so that .text starts the region, and what marks the
// reservation's start or end (Mynewt's __text) still does. False when there
// is none.
bool emptyReservationBeforeText(Editor& e) {
  Sections s;
  if (!e.load(s)) {
    return false;
  }
  const Statement* text = s.find(".text");
  const std::string region = e.region(text->region);
  for (std::size_t i = 0; i < s.indexOf(*text); ++i) {
    const Statement& st = s.block->body[i];
    if (st.kind != StatementKind::outputSection || st.type != "NOLOAD" || st.body.empty() ||
        e.region(st.region) != region) {
      continue;
    }
    if (!emptySection(e, s, st, codeOf(Rule::codeStartNotAlignable))) {
      return false;
    }
    alignTextTo(e, "0x20000", codeOf(Rule::codeStartNotAlignable));
    e.needNoPageAlign({codeOf(Rule::codeStartNotAlignable)});
    return true;
  }
  return false;
}

// PF405: the code starts where the application's flash does, 0x08020000:
// the region that holds .text is moved there and ends where that flash
// does (a script written for the bare part starts at 0x08000000).
void moveCodeRegion(Editor& e, const LinkDiagnosis& d) {
  if (findingsOf(d, Rule::codeStartNotAlignable).empty()) {
    return;
  }
  Sections s;
  Sections m;
  if (!e.load(s) || !e.loadBlock("MEMORY", m)) {
    return;
  }
  const std::string region = e.region(s.find(".text")->region);
  MemoryLine line;
  if (region.empty() || !findMemoryLine(m.script, *m.block, region, line)) {
    return;
  }
  if (line.origin == std::uint64_t{APP_FLASH_START}) {
    emptyReservationBeforeText(e);
    return;
  }
  if (line.origin + line.length < ROM_LIMIT) {
    return;
  }
  std::string text = m.script.text;
  rewriteRegion(text, m.script.text, line, std::uint64_t{APP_FLASH_START},
                ROM_LIMIT - std::uint64_t{APP_FLASH_START});
  if (e.commit(m, text, {codeOf(Rule::codeStartNotAlignable)},
               join({"moved the region ", region, " to the application's flash, ",
                     hex(std::uint64_t{APP_FLASH_START}, 8), "-", hex(ROM_LIMIT, 8)}))) {
    // There the file holds the code at offset 0x20000 once .text is aligned
    // to it, with -n.
    alignTextTo(e, "0x20000", codeOf(Rule::codeStartNotAlignable));
    e.needNoPageAlign({codeOf(Rule::codeStartNotAlignable)});
  }
}

// LLD reads a script in order: a statement that names a region by
// ORIGIN() or LENGTH() before the MEMORY that defines it is refused
// ("memory region not defined: RAM"), where GNU ld takes it. Such
// statements move after MEMORY, in their order; what they set is the same.
void regionsAfterMemory(Editor& e, const std::string& region) {
  const std::string origin = "ORIGIN(" + region + ")";
  const std::string length = "LENGTH(" + region + ")";
  for (;;) {
    Sections s;
    if (!e.loadBlock("MEMORY", s)) {
      return;
    }
    // The last one before MEMORY first: each goes right after MEMORY, so
    // that they keep their order.
    const Statement* before = nullptr;
    for (const Statement& st : s.script.statements) {
      if (&st == s.block) {
        break;
      }
      std::string text = ldscript::statementText(s.script, st);
      text.erase(
          std::remove_if(text.begin(), text.end(), [](char c) { return c == ' ' || c == '\t'; }),
          text.end());
      if (st.kind != StatementKind::block &&
          (text.find(origin) != std::string::npos || text.find(length) != std::string::npos)) {
        before = &st;
      }
    }
    if (before == nullptr ||
        !e.commit(s, ldscript::moveAfter(s.script, *before, *s.block), {},
                  "moved '" + ldscript::statementText(s.script, *before) +
                      "' after MEMORY, which defines " + region + " (LLD reads in order)")) {
      return;
    }
  }
}

std::span<const RuleEdit> memoryEdits() {
  static constexpr std::array<RuleEdit, 2> kRows = {{
      {clampRamBanks, {Rule::ramCheckFails, Rule::stackTopOutsideRam}, EditStep::ramBanks},
      {moveCodeRegion, {Rule::codeStartNotAlignable}, EditStep::codeRegion},
  }};
  return kRows;
}

}  // namespace pakforge::fix::edit
