// The machine's table files, for the sim backend's own units (machine.h has the parts that
// winsim and the tests use too: field escaping, atomic replacement, the machine lock).
#pragma once

#include <string>
#include <vector>

namespace sim {

// Host path of a file of the machine's state/ folder.
std::string StatePath(const std::string& aMachine, const char* aName);
// Appends one line with a single write (O_APPEND), so lines of several processes never mix.
void TableLineAppend(const std::string& aPath, const std::string& aLine);
// The non-empty lines of a table; none when it cannot be read.
std::vector<std::string> TableLinesRead(const std::string& aPath);
// Replaces a file's content in place (FileReplaceAtomically writes aside first).
void FileWriteAll(const std::string& aPath, const std::string& aData);

}  // namespace sim
