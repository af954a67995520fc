// The process table, for the sim backend's own units.
#pragma once

#include <string>

#include "platform/sim/machine.h"

namespace sim {

// Assigns aRecord its pid, appends it to the process table and logs process-start.
win::DWORD ProcessRecordNew(const std::string& aMachine, ProcessRecord& aRecord);

}  // namespace sim
