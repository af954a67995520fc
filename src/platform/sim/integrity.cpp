// Integrity levels by name, as winsim and the event log write them.
#include "platform/sim/machine.h"

namespace sim {

std::optional<win::DWORD> IntegrityFromName(const std::string& aName) {
  if (aName == "low") return kIntegrityLow;
  if (aName == "medium") return kIntegrityMedium;
  if (aName == "high") return kIntegrityHigh;
  if (aName == "system") return kIntegritySystem;
  return std::nullopt;
}

std::string IntegrityName(win::DWORD aLevel) {
  if (aLevel >= kIntegritySystem) return "system";
  if (aLevel >= kIntegrityHigh) return "high";
  if (aLevel >= kIntegrityMedium) return "medium";
  return "low";
}

}  // namespace sim
