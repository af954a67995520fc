// The machine's volumes, drive letters and substituted drives.
#include "platform/sim/volumes.h"

#include <sys/stat.h>

#include <algorithm>

#include "platform/sim/fail.h"
#include "platform/sim/handles.h"
#include "platform/sim/statefiles.h"
#include "platform/sim/tables.h"
#include "platform/utf.h"
#include "platform/win32api.h"

namespace sim {

const std::vector<Volume>& MachineVolumes() {
  static const std::vector<Volume> kVolumes = {
      {u"\\Device\\HarddiskVolume1", u"Volume{5e2b8d1c-0000-0000-0000-100000000000}", 0},
      {u"\\Device\\HarddiskVolume2", u"Volume{5e2b8d1c-0000-0000-0000-501f00000000}", u'C'},
  };
  return kVolumes;
}

namespace {

bool DriveLetter(char16_t c) { return c >= u'A' && c <= u'Z'; }

std::string SubstPath(const std::string& aMachine) { return StatePath(aMachine, "subst"); }

bool FileExists(const std::string& aPath) {
  struct stat st;
  return ::stat(aPath.c_str(), &st) == 0;
}

}  // namespace

std::vector<Substitution> SubstitutionsRead(const std::string& aMachine) {
  std::string path = SubstPath(aMachine);
  if (!FileExists(path)) return {};
  return SubstitutionsParse(StateFileRead(path), path);
}

void SubstitutionSet(const std::string& aMachine, char16_t aDrive, const Text& aTarget) {
  aDrive = UpcaseChar(aDrive);
  if (!DriveLetter(aDrive)) throw MachineError("not a drive letter");
  std::string drive = TextToUtf8(Text(1, aDrive)) + ":";
  if (aDrive == u'C') throw MachineError("drive C: is the machine's own volume and cannot be substituted");
  MachineLock lock(aMachine);
  auto table = SubstitutionsRead(aMachine);
  auto it = std::find_if(table.begin(), table.end(), [&](const Substitution& s) { return s.Drive == aDrive; });
  if (aTarget.empty()) {
    if (it == table.end()) throw MachineError("drive " + drive + " is not substituted");
    table.erase(it);
  } else {
    if (it != table.end()) throw MachineError("drive " + drive + " is already substituted");
    PathContext context;
    context.Machine = aMachine;
    context.MachineBits = MachineConfigRead(aMachine).Bits;
    context.ProcessBits = context.MachineBits;
    ResolvedPath r = ResolvePath(context, aTarget);
    if (r.Error || !r.Exists || !r.IsDirectory) throw MachineError("no such folder in the machine: " + TextToUtf8(aTarget));
    Text target = r.WinPath;
    if (target.size() > 3 && target.back() == u'\\') target.pop_back();
    table.push_back({aDrive, target});
    std::sort(table.begin(), table.end(), [](const Substitution& a, const Substitution& b) { return a.Drive < b.Drive; });
  }
  std::string text;
  for (const auto& s : table)
    text += TableFieldEscape(TextToUtf8(Text(1, s.Drive)) + ":") + "\t" + TableFieldEscape(TextToUtf8(s.Target)) + "\n";
  FileReplaceAtomically(SubstPath(aMachine), text);
}

std::vector<Substitution> SubstitutionsInForce(const std::string& aMachine) {
  try {
    return SubstitutionsRead(aMachine);
  } catch (const MachineError&) {
    return {};
  }
}

std::optional<Text> SubstitutionTarget(const std::string& aMachine, char16_t aDrive) {
  for (const auto& s : SubstitutionsInForce(aMachine))
    if (s.Drive == UpcaseChar(aDrive)) return s.Target;
  return std::nullopt;
}

std::vector<std::pair<Text, Text>> DosDevices(const std::string& aMachine) {
  std::vector<std::pair<Text, Text>> out;
  for (const auto& v : MachineVolumes())
    if (v.Drive) out.emplace_back(Text(1, v.Drive) + u":", v.Device);
  for (const auto& v : MachineVolumes()) out.emplace_back(v.Guid, v.Device);
  for (const auto& s : SubstitutionsInForce(aMachine)) out.emplace_back(Text(1, s.Drive) + u":", u"\\??\\" + s.Target);
  out.emplace_back(u"UNC", u"\\Device\\Mup");
  out.emplace_back(u"PIPE", u"\\Device\\NamedPipe");
  out.emplace_back(u"NUL", u"\\Device\\Null");
  return out;
}

std::optional<Text> DosDeviceTarget(const std::string& aMachine, TextView aName) {
  Text name = UpcaseText(aName);
  for (auto& [n, target] : DosDevices(aMachine))
    if (UpcaseText(n) == name) return target;
  return std::nullopt;
}

}  // namespace sim

// ---- the calls ------------------------------------------------------------------------------

namespace win {

using sim::Fail;

namespace {

// The drive letters in use, in order.
std::vector<char16_t> DrivesInUse(const std::string& aMachine) {
  std::vector<char16_t> drives;
  for (const auto& v : sim::MachineVolumes())
    if (v.Drive) drives.push_back(v.Drive);
  for (const auto& s : sim::SubstitutionsInForce(aMachine)) drives.push_back(s.Drive);
  std::sort(drives.begin(), drives.end());
  return drives;
}

class VolumeSearch : public sim::KernelObject {
 public:
  size_t Next = 0;
};

// The volume name aIndex into the buffer, as FindFirstVolumeW and FindNextVolumeW give it.
bool VolumeNameCopy(size_t aIndex, LPWSTR aBuffer, DWORD aSize) {
  Text name = u"\\\\?\\" + sim::MachineVolumes()[aIndex].Guid + u"\\";
  if (!aBuffer || aSize < name.size() + 1) return Fail(ERROR_FILENAME_EXCED_RANGE, false);
  std::copy(name.begin(), name.end(), aBuffer);
  aBuffer[name.size()] = 0;
  return true;
}

}  // namespace

DWORD QueryDosDeviceW(LPCWSTR lpDeviceName, LPWSTR lpTargetPath, DWORD ucchMax) {
  std::string machine = sim::MachineFolderHost();
  if (machine.empty()) return Fail(sim::kErrorNotReady, DWORD{0});
  Text list;
  if (lpDeviceName) {
    auto target = sim::DosDeviceTarget(machine, lpDeviceName);
    if (!target) return Fail(ERROR_FILE_NOT_FOUND, DWORD{0});
    list = *target + u'\0';
  } else {
    for (const auto& [name, target] : sim::DosDevices(machine)) list += name + u'\0';
  }
  list += u'\0';
  if (!lpTargetPath || ucchMax < list.size()) return Fail(ERROR_INSUFFICIENT_BUFFER, DWORD{0});
  std::copy(list.begin(), list.end(), lpTargetPath);
  return static_cast<DWORD>(list.size());
}

DWORD GetLogicalDriveStringsA(DWORD nBufferLength, char* lpBuffer) {
  std::string machine = sim::MachineFolderHost();
  if (machine.empty()) return Fail(sim::kErrorNotReady, DWORD{0});
  std::string roots;
  for (char16_t d : DrivesInUse(machine)) {
    roots += static_cast<char>(d);
    roots += std::string(":\\") + '\0';
  }
  if (!lpBuffer || nBufferLength < roots.size() + 1) return static_cast<DWORD>(roots.size() + 1);
  std::copy(roots.begin(), roots.end(), lpBuffer);
  lpBuffer[roots.size()] = 0;
  return static_cast<DWORD>(roots.size());
}

HANDLE FindFirstVolumeW(LPWSTR lpszVolumeName, DWORD cchBufferLength) {
  if (!sim::CurrentProcess()) return Fail(sim::kErrorNotReady, INVALID_HANDLE_VALUE);
  if (!VolumeNameCopy(0, lpszVolumeName, cchBufferLength)) return INVALID_HANDLE_VALUE;
  auto search = std::make_shared<VolumeSearch>();
  search->Next = 1;
  SetLastError(ERROR_SUCCESS);
  return sim::HandleInsert(search);
}

BOOL FindNextVolumeW(HANDLE hFindVolume, LPWSTR lpszVolumeName, DWORD cchBufferLength) {
  auto search = sim::HandleGetAs<VolumeSearch>(hFindVolume);
  if (!search) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (search->Next >= sim::MachineVolumes().size()) return Fail(ERROR_NO_MORE_FILES, FALSE);
  if (!VolumeNameCopy(search->Next, lpszVolumeName, cchBufferLength)) return FALSE;
  ++search->Next;
  return TRUE;
}

BOOL FindVolumeClose(HANDLE hFindVolume) {
  if (!sim::HandleGetAs<VolumeSearch>(hFindVolume)) return Fail(ERROR_INVALID_HANDLE, FALSE);
  sim::HandleClose(hFindVolume);
  return TRUE;
}

}  // namespace win
