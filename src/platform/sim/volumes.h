// The machine's volumes and drive letters: the MS-DOS device names of the object namespace
// ('C:', 'Volume{...}', substituted drives) and the devices they name.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/sim/machine.h"

namespace sim {

struct Volume {
  Text Device;  // '\Device\HarddiskVolume2'
  Text Guid;    // 'Volume{...}'
  char16_t Drive = 0;  // its letter, 0: none
};

// Every machine has the same two volumes: the system-reserved volume 1 without a drive letter
// and volume 2, drive C:.
const std::vector<Volume>& MachineVolumes();

// A substituted drive: 'X:' standing for a folder of another drive ('C:\dir', no trailing
// separator). Kept in state/subst, "X:<TAB>C:\dir" a line; absent: none.
struct Substitution {
  char16_t Drive = 0;
  Text Target;
};
// MachineError for a damaged table (SubstitutionsParse, statefiles.h).
std::vector<Substitution> SubstitutionsRead(const std::string& aMachine);
// The same, a damaged table read as none: what the machine's processes see.
std::vector<Substitution> SubstitutionsInForce(const std::string& aMachine);
// Adds (aTarget a folder of the machine) or, with an empty aTarget, removes a substitution,
// under the machine lock. MachineError when the letter is C: or in use (adding) or not
// substituted (removing), or the target is no folder.
void SubstitutionSet(const std::string& aMachine, char16_t aDrive, const Text& aTarget);
// The folder a substituted drive stands for; nullopt for a letter that is not substituted.
std::optional<Text> SubstitutionTarget(const std::string& aMachine, char16_t aDrive);

// The MS-DOS device names of the machine with their targets, in the order QueryDosDeviceW
// lists them: drives, volume GUID names, substituted drives, then the fixed names (UNC, PIPE,
// NUL). Targets are device names or, for a substitution, '\??\C:\dir'.
std::vector<std::pair<Text, Text>> DosDevices(const std::string& aMachine);
// One name, compared without regard to case.
std::optional<Text> DosDeviceTarget(const std::string& aMachine, TextView aName);

}  // namespace sim
