// The machine's state files read strictly: a damaged file is an error, never read as an
// empty or shorter one (docs/machine-folder.md has the formats).
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/sim/machine.h"
#include "platform/sim/volumes.h"

namespace sim {

struct ExitRow {
  win::DWORD Pid = 0;
  win::DWORD ExitCode = 0;
};

struct HostPidRow {
  win::DWORD Pid = 0;
  pid_t Host = 0;
  pid_t Monitor = 0;  // 0: none (a process that attached itself)
};

// Each throws MachineError naming aWhere and the line for text that is not a whole table.
win::DWORD NextPidParse(const std::string& aText, const std::string& aWhere);
std::vector<ExitRow> ExitsParse(const std::string& aText, const std::string& aWhere);
std::vector<HostPidRow> HostPidsParse(const std::string& aText, const std::string& aWhere);
std::vector<ProcessRecord> ProcessesParse(const std::string& aText, const std::string& aWhere);
std::vector<Substitution> SubstitutionsParse(const std::string& aText, const std::string& aWhere);

// A state file whole; MachineError when it is missing or cannot be read. Other processes
// append a line with one write, so a last line without its line end is waited for a moment
// before it is taken as it is (and then refused by the parser).
std::string StateFileRead(const std::string& aPath);
// The whole file as it is now, in one pass; MachineError when it cannot be read.
std::string MachineFileBytesRead(const std::string& aPath);

// Reads every state file of the machine and its registry; MachineError for the first that is
// damaged. Commands that change the machine call it before they change anything.
void MachineStateCheck(const std::string& aMachine);

}  // namespace sim
