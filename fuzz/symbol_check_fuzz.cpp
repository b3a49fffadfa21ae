// The ELF check of the five header symbols under the changes a stale map, a
// hand edit or a damaged file makes: each input is a list of changes to the
// symbols of a real link (value ±1, ±2, ±4, bit 0, binding, type, gone) or
// to the header's copies of them. The check must agree exactly when, by
// elfutils' libelf reading the changed file, every header value equals the
// ELF's: its global (else weak) definition, else any local one, bit 0
// ignored for functions alone.
#include <gelf.h>
#include <libelf.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "elf/elf_check.h"

namespace {

using pakforge::ImageHeader;

constexpr std::array<std::string_view, 5> kNames = {"__entryPoint__", "loop", "ModbusHGroups_Table",
                                                    "ModbusIGroups_Table", "ModbusRemoteRegTables"};
constexpr std::array<std::uint32_t ImageHeader::*, 5> kFields = {
    &ImageHeader::entryPointAddr, &ImageHeader::loopAddr, &ImageHeader::hGroupsTableAddr,
    &ImageHeader::iGroupsTableAddr, &ImageHeader::remoteRegTablesAddr};

struct Symbol {
  std::size_t entry;  // file offset of its symbol table entry
  std::uint32_t value;
  bool function;
};

struct Link {
  std::string elf;
  std::vector<std::vector<Symbol>> symbols;  // every definition of each name
  ImageHeader header;
};

// Every symbol table entry named as one of the five, read with libelf.
template <typename Visit>
bool visitSymbols(std::string& bytes, Visit visit) {
  elf_version(EV_CURRENT);
  Elf* elf = elf_memory(bytes.data(), bytes.size());
  if (elf == nullptr) {
    return false;
  }
  Elf_Scn* section = nullptr;
  bool found = false;
  while ((section = elf_nextscn(elf, section)) != nullptr) {
    GElf_Shdr header;
    if (gelf_getshdr(section, &header) == nullptr || header.sh_type != SHT_SYMTAB) {
      continue;
    }
    Elf_Data* data = elf_getdata(section, nullptr);
    for (std::size_t i = 0; data != nullptr && i < data->d_size / sizeof(Elf32_Sym); ++i) {
      GElf_Sym symbol;
      const char* name = gelf_getsym(data, static_cast<int>(i), &symbol) != nullptr
                             ? elf_strptr(elf, header.sh_link, symbol.st_name)
                             : nullptr;
      for (std::size_t k = 0; name != nullptr && k < kNames.size(); ++k) {
        if (kNames[k] == name) {
          visit(k, header.sh_offset + i * sizeof(Elf32_Sym), symbol);
        }
      }
    }
    found = true;
  }
  elf_end(elf);
  return found;
}

const Link& realLink() {
  static const Link link = [] {
    Link l;
    std::ifstream in(PAKFORGE_RECIPE_ELF, std::ios::binary);
    l.elf.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    l.symbols.resize(kNames.size());
    visitSymbols(l.elf, [&](std::size_t k, std::size_t entry, const GElf_Sym& s) {
      const bool function = GELF_ST_TYPE(s.st_info) == STT_FUNC;
      l.symbols[k].push_back({entry, static_cast<std::uint32_t>(s.st_value), function});
      // The map's view of a correct link: GNU ld writes functions even.
      l.header.*kFields[k] = static_cast<std::uint32_t>(s.st_value) & (function ? ~1u : ~0u);
    });
    l.header.addrExe = 0x08020000;
    l.header.appSize = 268;
    if (l.symbols[0].empty()) {
      std::abort();  // not the link this target is written for
    }
    return l;
  }();
  return link;
}

// The header value's agreement with the changed file, by the rules above.
bool expectedAgreement(std::string elf, const ImageHeader& header) {
  struct View {
    bool global = false, weak = false;
    std::uint32_t value = 0;
    bool function = false;
    std::vector<std::pair<std::uint32_t, bool>> locals;
  };
  std::array<View, 5> views{};
  const bool readable = visitSymbols(elf, [&](std::size_t k, std::size_t, const GElf_Sym& s) {
    if (s.st_shndx == SHN_UNDEF) {
      return;
    }
    View& v = views[k];
    const auto value = static_cast<std::uint32_t>(s.st_value);
    const bool function = GELF_ST_TYPE(s.st_info) == STT_FUNC;
    const unsigned bind = GELF_ST_BIND(s.st_info);
    if (bind == STB_LOCAL) {
      v.locals.emplace_back(value, function);
    } else if ((bind == STB_GLOBAL && !v.global) || (bind == STB_WEAK && !v.global && !v.weak)) {
      v.global = bind == STB_GLOBAL;
      v.weak = bind == STB_WEAK;
      v.value = value;
      v.function = function;
    }
  });
  if (!readable) {
    std::abort();
  }
  const auto equal = [](std::uint32_t a, std::uint32_t b, bool function) {
    return ((a ^ b) & (function ? ~1u : ~0u)) == 0;
  };
  for (std::size_t k = 0; k < kNames.size(); ++k) {
    const View& v = views[k];
    const std::uint32_t given = header.*kFields[k];
    bool agrees = false;
    if (v.global || v.weak) {
      agrees = equal(v.value, given, v.function);
    } else {
      for (const auto& [value, function] : v.locals) {
        agrees = agrees || equal(value, given, function);
      }
    }
    if (!agrees) {
      return false;
    }
  }
  return true;
}

void putWord(std::string& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) {
    b[at + static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
  }
}
std::uint32_t getWord(const std::string& b, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 4; i-- > 0;) {
    v = (v << 8) | static_cast<unsigned char>(b[at + static_cast<std::size_t>(i)]);
  }
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Link& link = realLink();
  std::string elf = link.elf;
  ImageHeader header = link.header;
  constexpr std::array<std::int32_t, 6> kShifts = {1, -1, 2, -2, 4, -4};
  // Three bytes a change: which symbol (and which of its definitions),
  // what, and whether to the ELF file or the header.
  for (std::size_t at = 0; at + 3 <= size && at < 3 * 8; at += 3) {
    const std::size_t k = data[at] % kNames.size();
    const std::vector<Symbol>& definitions = link.symbols[k];
    const Symbol& symbol = definitions[(data[at] / kNames.size()) % definitions.size()];
    const unsigned op = data[at + 1] % 10;
    if (data[at + 2] % 2 == 0) {
      std::uint32_t& value = header.*kFields[k];
      value = op < 6 ? value + static_cast<std::uint32_t>(kShifts[op]) : value ^ 1u;
      continue;
    }
    const std::size_t entry = symbol.entry;
    auto& info = reinterpret_cast<unsigned char&>(elf[entry + 12]);
    if (op < 6) {
      putWord(elf, entry + 4, getWord(elf, entry + 4) + static_cast<std::uint32_t>(kShifts[op]));
    } else if (op == 6) {
      putWord(elf, entry + 4, getWord(elf, entry + 4) ^ 1u);
    } else if (op == 7) {
      // Binding: local, global, weak in turn.
      info = static_cast<unsigned char>((((info >> 4) + 1 + data[at + 2] / 2 % 2) % 3) << 4 |
                                        (info & 0xF));
    } else if (op == 8) {
      info = static_cast<unsigned char>((info & 0xF0) |
                                        ((info & 0xF) == STT_FUNC ? STT_OBJECT : STT_FUNC));
    } else {
      elf[entry + 14] = 0;  // undefined
      elf[entry + 15] = 0;
    }
  }
  std::istringstream in(elf);
  const pakforge::ElfCheck check = pakforge::checkElfAgainstHeader(in, elf.size(), header);
  const bool agrees = check.verdict == pakforge::ElfVerdict::agrees;
  if (check.verdict == pakforge::ElfVerdict::unreadable ||
      agrees != expectedAgreement(elf, header)) {
    std::abort();
  }
  return 0;
}
