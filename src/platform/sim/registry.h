// The registry of a simulated machine, kept in its folder (registry.txt) and shared by its
// processes. Every operation reads and writes the store under the machine lock.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/win32api_types.h"

namespace sim {

struct RegValue {
  Text Name;
  win::DWORD Type = 0;
  std::string Data;
};

struct RegKey {
  Text Path;  // full path with its root: HKLM\SYSTEM\..., HKU\S-1-5-21-1000\...
  std::vector<RegValue> Values;  // in the order they were created
};

class RegStore {
 public:
  // Keys by upper-cased path.
  RegKey* Find(const Text& aPath);
  RegKey& Create(const Text& aPath);  // with every missing key on the way
  bool Remove(const Text& aPath);     // the key alone
  // Direct subkeys' names, sorted as the registry enumerates them (by upper-cased name).
  std::vector<Text> Subkeys(const Text& aPath) const;
  std::vector<RegKey> FKeys;
};

// The store as registry.txt holds it, and back: K and V lines, then an end line "E".
// RegistryParse throws MachineError, naming aWhere and the line, for anything that is not a
// whole store written by RegistryFormat (so a damaged file is never read as a smaller one).
std::string RegistryFormat(const RegStore& aStore);
RegStore RegistryParse(const std::string& aText, const std::string& aWhere);

// Runs aChange on the machine's store under its lock and saves the store when aChange
// returns true. Throws MachineError when the machine folder cannot be used.
void RegistryTransact(const std::string& aMachine, const std::function<bool(RegStore&)>& aChange);

// The stored path of a logical one (HKLM\..., HKU\..., HKCR\...): the 32-bit view keeps
// HKLM\SOFTWARE below SOFTWARE\Wow6432Node (Classes is shared but for a few keys), and HKCR is
// the user's classes where the user has the key, else the machine's.
Text RegistryStoragePath(const RegStore& aStore, const Text& aLogical, bool bView32);

// The subkeys of a logical key in a view, as RegEnumKeyExW lists them.
std::vector<Text> RegistrySubkeys(const RegStore& aStore, const Text& aLogical, bool bView32);

// REG_MULTI_SZ data <-> texts.
std::string MultiSzEncode(const std::vector<Text>& aTexts);
std::vector<Text> MultiSzDecode(const std::string& aData);

// PendingFileRenameOperations holds pairs of strings in which a target may be empty (a
// deletion), so it is read string by string up to its end, not up to the first empty one.
std::string PendingPairsEncode(const std::vector<Text>& aStrings);
std::vector<Text> PendingPairsDecode(const std::string& aData);

// The value Windows keeps delayed moves in, and its key.
inline constexpr char16_t kSessionManagerKey[] = u"HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager";
inline constexpr char16_t kPendingRenames[] = u"PendingFileRenameOperations";

// The user's hive below HKU.
inline constexpr char16_t kUserSid[] = u"S-1-5-21-3623811015-3361044348-30300820-1001";

}  // namespace sim
