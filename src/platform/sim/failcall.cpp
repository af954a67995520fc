// Faults on demand: the Nth file-system call of a run fails with the planned error.
#include "platform/sim/faults.h"

namespace sim::faults {

win::DWORD FailCallError(const Run& aRun, std::uint64_t aCall) {
  return aRun.Plan.FailCall && aRun.Plan.FailCall == aCall ? aRun.Plan.FailCallError : 0;
}

}  // namespace sim::faults
