#include "platform/sim/machine.h"

#include <cstdlib>

namespace sim {

std::string MachineFolderHost() {
  const char* m = std::getenv("WINSIM_MACHINE");
  return m ? std::string(m) : std::string();
}

}  // namespace sim
