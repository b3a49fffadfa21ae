// A team's link command, as `aelfdump --fix` runs it: the linker script it
// names, in any of the spellings the GCC driver and the linkers take,
// pointed at a copy; its map and ELF file pointed into a folder of the
// fix's own; -n added where the fixes need it.
#pragma once

#include <string>
#include <vector>

namespace pakforge::fix {

struct LinkCommand {
  std::vector<std::string> args;
  // A compiler driver (gcc, clang): linker options go through -Wl,.
  bool driver = false;
  // Every script the command names, as named, and of those the ones that
  // are the script to fix (another spelling of its path is the same
  // script); the others are left as they are.
  std::vector<std::string> scripts;
  std::vector<std::string> fixedScripts;
  // The map and ELF file the team's command writes, when it names them.
  std::string map;
  std::string elf;
  // The folders of -L, in order, where the linker looks for INCLUDEd files.
  std::vector<std::string> libraryPaths;
  bool hasNoPageAlign = false;  // -n or --nmagic
};

// Whether the command's program is a compiler driver or a linker: the
// caller says, or it is told from the program's name, then from the
// options it is given.
enum class ProgramKind { unknown, driver, linker };

// Reads the command; false with `error` when it names no linker script,
// or names one other than `script` (compared as files), or when `kind` is
// unknown and can't be told.
bool readLinkCommand(const std::vector<std::string>& args, const std::string& script,
                     ProgramKind kind, LinkCommand& command, std::string& error);

// The command as the fix runs it: `scriptCopy` for the script, its map and
// ELF file written to `map` and `elf`, and -n added when `noPageAlign`.
std::vector<std::string> commandFor(const LinkCommand& command, const std::string& scriptCopy,
                                    const std::string& map, const std::string& elf,
                                    bool noPageAlign);

// Where the linker finds an INCLUDEd file `name`: where it is named (from
// the current folder), on the -L `folders`, then beside `includer`, the
// file that includes it. Empty when it is in none of them.
std::string findInclude(const std::string& name, const std::vector<std::string>& folders,
                        const std::string& includer);

}  // namespace pakforge::fix
