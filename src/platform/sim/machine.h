// The simulated machine, seen from inside a process of it (Linux build only).
#pragma once

#include <string>

namespace sim {

// Host path of the machine folder this process belongs to; empty when it belongs to none.
std::string MachineFolderHost();

}  // namespace sim
