#pragma once
// Files the programs ship beside them (FileSetting.txt, the help page): in a build folder they sit beside the
// program; installed, the program is in PREFIX/bin and they are in PREFIX/share/halvard.
#include <string>

namespace halvard {

// The path of a shipped file: beside the running program when it is there, else in ../share/halvard from the
// program's folder when it is there, else beside the program (where the messages then say it is missing).
std::string programDataFile(const std::string& name);

// The same search from a given program folder (for tests).
std::string programDataFileFrom(const std::string& programFolder, const std::string& name);

}  // namespace halvard
