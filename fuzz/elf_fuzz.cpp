// The ELF reader and the image check on any bytes, against elfutils' libelf
// reading the same bytes: the same loadable segments and the same global
// definitions of the five header symbols, and never a crash or a read past
// the file; and the link diagnosis of the bytes beside a real map.
#include <gelf.h>
#include <libelf.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "elf/elf_check.h"
#include "elf/elf_reader.h"
#include "linkdiag/link_diagnosis.h"

namespace {

constexpr std::array<std::string_view, 5> kNames = {"__entryPoint__", "loop", "ModbusHGroups_Table",
                                                    "ModbusIGroups_Table", "ModbusRemoteRegTables"};

// libelf's view, under the same rules: global definitions before weak ones,
// the first global one and otherwise the last weak one.
bool libelfSymbols(Elf* elf, std::array<bool, 5>& found, std::array<std::uint32_t, 5>& values) {
  std::array<bool, 5> global{};
  Elf_Scn* section = nullptr;
  while ((section = elf_nextscn(elf, section)) != nullptr) {
    GElf_Shdr header;
    if (gelf_getshdr(section, &header) == nullptr || header.sh_type != SHT_SYMTAB) {
      continue;
    }
    Elf_Data* data = elf_getdata(section, nullptr);
    if (data == nullptr || header.sh_entsize != sizeof(Elf32_Sym)) {
      return false;
    }
    const std::size_t count = data->d_size / sizeof(Elf32_Sym);
    for (std::size_t i = 0; i < count; ++i) {
      GElf_Sym symbol;
      if (gelf_getsym(data, static_cast<int>(i), &symbol) == nullptr) {
        return false;
      }
      const unsigned bind = GELF_ST_BIND(symbol.st_info);
      if ((bind != STB_GLOBAL && bind != STB_WEAK) || symbol.st_shndx == SHN_UNDEF) {
        continue;
      }
      const char* name = elf_strptr(elf, header.sh_link, symbol.st_name);
      if (name == nullptr) {
        // libelf refuses a whole string table that does not end in a zero
        // byte; then there is nothing to compare with.
        GElf_Shdr strings;
        Elf_Scn* table = elf_getscn(elf, header.sh_link);
        if (table != nullptr && gelf_getshdr(table, &strings) != nullptr &&
            symbol.st_name < strings.sh_size) {
          return false;
        }
        continue;
      }
      for (std::size_t k = 0; k < kNames.size(); ++k) {
        if (kNames[k] == name && !(found[k] && global[k])) {
          found[k] = true;
          global[k] = bind == STB_GLOBAL;
          values[k] = static_cast<std::uint32_t>(symbol.st_value);
        }
      }
    }
    return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::istringstream in(bytes);
  pakforge::ElfReader reader(in, size);
  std::string reason;
  const bool readable = reader.open(reason) == pakforge::ElfOpen::ok;

  // Whatever the headers say, the check reads only what is there.
  pakforge::ImageHeader header;
  header.addrExe = 0x08020000;
  header.appSize = static_cast<std::uint32_t>(size < 512 ? size : 512);
  std::istringstream again(bytes);
  const pakforge::ElfCheck check =
      pakforge::checkImageAgainstElf(again, size, header, {bytes.data(), header.appSize});
  // The check judges exactly the files the reader opens, and says why it
  // refuses the others that begin with the magic.
  const bool judged = check.verdict == pakforge::ElfVerdict::agrees ||
                      check.verdict == pakforge::ElfVerdict::disagrees;
  if (judged != readable ||
      (check.verdict == pakforge::ElfVerdict::unreadable && check.problem.empty())) {
    std::abort();
  }
  // The diagnosis reads files: the bytes go to one of this process's own.
  static const std::string elfPath = (std::filesystem::temp_directory_path() /
                                      ("pakforge-elf-fuzz-" + std::to_string(getpid()) + ".elf"))
                                         .string();
  {
    std::ofstream out(elfPath, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  const pakforge::LinkDiagnosis diagnosis = pakforge::diagnoseLink(PAKFORGE_RECIPE_MAP, elfPath);
  if ((diagnosis.elfState == pakforge::ElfOpen::ok) != readable) {
    std::abort();
  }
  if (!readable) {
    return 0;
  }

  elf_version(EV_CURRENT);
  std::vector<char> copy(bytes.begin(), bytes.end());
  Elf* elf = elf_memory(copy.data(), copy.size());
  std::size_t programCount = 0;
  if (elf == nullptr || elf_kind(elf) != ELF_K_ELF || elf_getphdrnum(elf, &programCount) != 0 ||
      elf32_getphdr(elf) == nullptr) {
    if (elf != nullptr) {
      elf_end(elf);
    }
    return 0;
  }
  // The same loadable segments.
  if (programCount != reader.segmentCount()) {
    std::abort();
  }
  for (std::uint32_t i = 0; i < reader.segmentCount(); ++i) {
    GElf_Phdr theirs;
    pakforge::ElfSegment ours;
    const bool load = reader.loadSegment(i, ours);
    if (gelf_getphdr(elf, static_cast<int>(i), &theirs) == nullptr ||
        load != (theirs.p_type == PT_LOAD)) {
      std::abort();
    }
    if (load && (ours.offset != theirs.p_offset || ours.physicalAddress != theirs.p_paddr ||
                 ours.fileSize != theirs.p_filesz)) {
      std::abort();
    }
  }
  // The same symbols, where both can read a symbol table.
  std::array<pakforge::ElfSymbol, 5> found{};
  std::array<bool, 5> theirFound{};
  std::array<std::uint32_t, 5> theirValues{};
  if (reader.findSymbols(kNames, found) && libelfSymbols(elf, theirFound, theirValues)) {
    for (std::size_t k = 0; k < kNames.size(); ++k) {
      if (found[k].defined != theirFound[k] ||
          (found[k].defined && found[k].value != theirValues[k])) {
        std::abort();
      }
    }
  }
  elf_end(elf);
  return 0;
}
