// The native layer, from ntdll.dll, loaded at run time from the system folder (systemdll.h).
#include "platform/win32api.h"

#include <windows.h>

#include "platform/win32/systemdll.h"

namespace win {

namespace {
using TRtlNtStatusToDosError = ::ULONG(WINAPI*)(::LONG);

template <class Fn>
Fn NtdllProc(const char* aName) {
  return SystemDllProc<Fn>(L"ntdll.dll", aName);
}
}  // namespace

ULONG RtlNtStatusToDosError(NTSTATUS Status) {
  static const auto fn = NtdllProc<TRtlNtStatusToDosError>("RtlNtStatusToDosError");
  if (!fn) return ERROR_MR_MID_NOT_FOUND;
  return fn(Status);
}

}  // namespace win
