// Opening an input file so that only something readable as a file counts as
// opened. A directory opens on some systems and then reads as empty, which
// would hide a wrong path behind a misleading later failure; opening a named
// pipe or socket can wait forever for a writer.
#pragma once

#include <fstream>
#include <string>

namespace pakforge {

bool openInputFile(const std::string& path, std::ios::openmode mode, std::ifstream& file);
// The whole file as bytes; false when it can't be opened or read.
bool readWholeFile(const std::string& path, std::string& text);

}  // namespace pakforge
