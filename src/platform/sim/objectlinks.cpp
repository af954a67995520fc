// The object namespace's symbolic links: '\??' (and '\GLOBAL??') holds the machine's MS-DOS
// device names as links to their devices; '\DosDevices' links to '\??'. Every other name is a
// device or directory, not a link.
#include <algorithm>
#include <memory>

#include "platform/sim/handles.h"
#include "platform/sim/machine.h"
#include "platform/sim/volumes.h"
#include "platform/win32api.h"

namespace win {

namespace {

class SymbolicLinkObject : public sim::KernelObject {
 public:
  explicit SymbolicLinkObject(Text aTarget) : Target(std::move(aTarget)) {}
  const Text Target;
};

// Objects of the namespace that are no links.
bool IsOtherObject(const Text& aUpper) {
  for (const char16_t* o : {u"\\DEVICE", u"\\??", u"\\GLOBAL??", u"\\DEVICE\\MUP", u"\\DEVICE\\NAMEDPIPE",
                            u"\\DEVICE\\NULL"})
    if (aUpper == o) return true;
  for (const auto& v : sim::MachineVolumes())
    if (aUpper == sim::UpcaseText(v.Device)) return true;
  return false;
}

// A link's target, or the status that opening aName gives.
NTSTATUS LinkLookup(const std::string& aMachine, const Text& aName, Text& aTarget) {
  if (aName.empty() || aName[0] != u'\\') return STATUS_OBJECT_PATH_SYNTAX_BAD;
  Text upper = sim::UpcaseText(aName);
  if (upper == u"\\DOSDEVICES") {
    aTarget = u"\\??";
    return STATUS_SUCCESS;
  }
  if (IsOtherObject(upper)) return STATUS_OBJECT_TYPE_MISMATCH;
  for (const char16_t* folder : {u"\\??\\", u"\\GLOBAL??\\", u"\\DOSDEVICES\\"}) {
    Text f = folder;
    if (upper.rfind(f, 0) != 0) continue;
    Text name = aName.substr(f.size());
    if (name.empty() || name.find(u'\\') != Text::npos) return STATUS_OBJECT_NAME_INVALID;
    auto target = sim::DosDeviceTarget(aMachine, name);
    if (!target) return STATUS_OBJECT_NAME_NOT_FOUND;
    aTarget = *target;
    return STATUS_SUCCESS;
  }
  size_t second = upper.find(u'\\', 1);
  if (second != Text::npos && upper.substr(0, second) == u"\\DEVICE") return STATUS_OBJECT_NAME_NOT_FOUND;
  return second == Text::npos ? STATUS_OBJECT_NAME_NOT_FOUND : STATUS_OBJECT_PATH_NOT_FOUND;
}

}  // namespace

NTSTATUS NtOpenSymbolicLinkObject(HANDLE* LinkHandle, DWORD DesiredAccess, OBJECT_ATTRIBUTES* ObjectAttributes) {
  if (!LinkHandle || !ObjectAttributes || ObjectAttributes->Length != sizeof(OBJECT_ATTRIBUTES))
    return STATUS_INVALID_PARAMETER;
  const UNICODE_STRING* name = ObjectAttributes->ObjectName;
  if (ObjectAttributes->RootDirectory || !name || (name->Length & 1) || name->Length > name->MaximumLength ||
      (name->Length && !name->Buffer))
    return STATUS_INVALID_PARAMETER;
  std::string machine = sim::MachineFolderHost();
  if (machine.empty()) return STATUS_OBJECT_PATH_NOT_FOUND;
  Text target;
  NTSTATUS status = LinkLookup(machine, Text(name->Buffer, name->Length / 2), target);
  if (status != STATUS_SUCCESS) return status;
  *LinkHandle = sim::HandleInsert(std::make_shared<SymbolicLinkObject>(std::move(target)));
  return STATUS_SUCCESS;
}

NTSTATUS NtQuerySymbolicLinkObject(HANDLE LinkHandle, UNICODE_STRING* LinkTarget, ULONG* ReturnedLength) {
  auto link = sim::HandleGetAs<SymbolicLinkObject>(LinkHandle);
  if (!link) return sim::HandleGet(LinkHandle) ? STATUS_OBJECT_TYPE_MISMATCH : STATUS_INVALID_HANDLE;
  if (!LinkTarget) return STATUS_INVALID_PARAMETER;
  const size_t bytes = link->Target.size() * 2;
  // As the system does: the length it needs counts a terminating zero, stored when it fits.
  if (ReturnedLength) *ReturnedLength = static_cast<ULONG>(bytes + 2);
  if (bytes > LinkTarget->MaximumLength || (bytes && !LinkTarget->Buffer)) return STATUS_BUFFER_TOO_SMALL;
  std::copy(link->Target.begin(), link->Target.end(), LinkTarget->Buffer);
  if (bytes + 2 <= LinkTarget->MaximumLength) LinkTarget->Buffer[link->Target.size()] = 0;
  LinkTarget->Length = static_cast<WORD>(bytes);
  return STATUS_SUCCESS;
}

NTSTATUS NtClose(HANDLE Handle) {
  // Every kind of handle, as CloseHandle, without touching the last error.
  const DWORD lastError = GetLastError();
  const BOOL closed = CloseHandle(Handle);
  SetLastError(lastError);
  return closed ? STATUS_SUCCESS : STATUS_INVALID_HANDLE;
}

}  // namespace win
