// The native layer, from ntdll.dll, loaded at run time from the system folder (systemdll.h).
#include "platform/win32api.h"

#include <windows.h>

#include "platform/win32/systemdll.h"

namespace win {

namespace {
using TRtlNtStatusToDosError = ::ULONG(WINAPI*)(::LONG);
using TNtOpenSymbolicLinkObject = ::LONG(WINAPI*)(::HANDLE*, ::DWORD, OBJECT_ATTRIBUTES*);
using TNtQuerySymbolicLinkObject = ::LONG(WINAPI*)(::HANDLE, UNICODE_STRING*, ::ULONG*);
using TNtClose = ::LONG(WINAPI*)(::HANDLE);
// ntdll.dll is on every Windows; a missing export is reported as the system would.
constexpr NTSTATUS kStatusProcedureNotFound = static_cast<NTSTATUS>(0xC000007Au);

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

NTSTATUS NtOpenSymbolicLinkObject(HANDLE* LinkHandle, DWORD DesiredAccess, OBJECT_ATTRIBUTES* ObjectAttributes) {
  static const auto fn = NtdllProc<TNtOpenSymbolicLinkObject>("NtOpenSymbolicLinkObject");
  if (!fn) return kStatusProcedureNotFound;
  return fn(LinkHandle, DesiredAccess, ObjectAttributes);
}

NTSTATUS NtQuerySymbolicLinkObject(HANDLE LinkHandle, UNICODE_STRING* LinkTarget, ULONG* ReturnedLength) {
  static const auto fn = NtdllProc<TNtQuerySymbolicLinkObject>("NtQuerySymbolicLinkObject");
  if (!fn) return kStatusProcedureNotFound;
  return fn(LinkHandle, LinkTarget, ReturnedLength);
}

NTSTATUS NtClose(HANDLE Handle) {
  static const auto fn = NtdllProc<TNtClose>("NtClose");
  if (!fn) return kStatusProcedureNotFound;
  return fn(Handle);
}

}  // namespace win
