// Faults on demand: every call on a path fails with the planned error.
#include <algorithm>

#include "platform/sim/faults.h"
#include "platform/sim/machine.h"

namespace sim {

Text faults::FailPathNormal(TextView aPath) {
  Text p(aPath);
  std::replace(p.begin(), p.end(), u'/', u'\\');
  if (p.rfind(u"\\\\?\\", 0) == 0 || p.rfind(u"\\??\\", 0) == 0) p.erase(0, 4);
  while (p.size() > 3 && p.back() == u'\\') p.pop_back();
  return UpcaseText(p);
}

win::DWORD FailPathError(const Text& aWinPath) {
  faults::Run* run = faults::RunGet();
  if (!run || run->FailPathsUpper.empty()) return 0;
  const Text path = faults::FailPathNormal(aWinPath);
  for (const auto& [failing, error] : run->FailPathsUpper) {
    if (failing == path) {
      faults::FaultLog(*run, "fault", error);
      return error;
    }
  }
  return 0;
}

}  // namespace sim
