// The native layer under Win32: NT statuses and their Windows errors.
#pragma once

#include "platform/win32api_types.h"

namespace win {

using NTSTATUS = LONG;

constexpr NTSTATUS STATUS_SUCCESS = 0;

// The Windows error code of an NT status, as the system converts it. A status without a
// Windows error gives ERROR_MR_MID_NOT_FOUND (317). Does not change the last error.
ULONG RtlNtStatusToDosError(NTSTATUS Status);
constexpr DWORD ERROR_MR_MID_NOT_FOUND = 317;

// ---- the object manager's symbolic links ('\??\C:' -> '\Device\HarddiskVolume2') -------

constexpr NTSTATUS STATUS_INVALID_HANDLE = static_cast<NTSTATUS>(0xC0000008u);
constexpr NTSTATUS STATUS_INVALID_PARAMETER = static_cast<NTSTATUS>(0xC000000Du);
constexpr NTSTATUS STATUS_ACCESS_DENIED = static_cast<NTSTATUS>(0xC0000022u);
constexpr NTSTATUS STATUS_BUFFER_TOO_SMALL = static_cast<NTSTATUS>(0xC0000023u);
constexpr NTSTATUS STATUS_OBJECT_TYPE_MISMATCH = static_cast<NTSTATUS>(0xC0000024u);
constexpr NTSTATUS STATUS_OBJECT_NAME_INVALID = static_cast<NTSTATUS>(0xC0000033u);
constexpr NTSTATUS STATUS_OBJECT_NAME_NOT_FOUND = static_cast<NTSTATUS>(0xC0000034u);
constexpr NTSTATUS STATUS_OBJECT_PATH_NOT_FOUND = static_cast<NTSTATUS>(0xC000003Au);
constexpr NTSTATUS STATUS_OBJECT_PATH_SYNTAX_BAD = static_cast<NTSTATUS>(0xC000003Bu);

inline bool NT_SUCCESS(NTSTATUS Status) { return Status >= 0; }

// A counted UTF-16 text: Length and MaximumLength in bytes, no terminating zero needed.
struct UNICODE_STRING {
  WORD Length;
  WORD MaximumLength;
  WCHAR* Buffer;
};

constexpr ULONG OBJ_CASE_INSENSITIVE = 0x40;

struct OBJECT_ATTRIBUTES {
  ULONG Length;  // sizeof(OBJECT_ATTRIBUTES)
  HANDLE RootDirectory;
  UNICODE_STRING* ObjectName;
  ULONG Attributes;
  void* SecurityDescriptor;
  void* SecurityQualityOfService;
};

constexpr DWORD SYMBOLIC_LINK_QUERY = 0x0001;

// Opens a symbolic link of the object namespace by its full name ('\??\C:',
// '\GLOBAL??\Volume{...}'): STATUS_OBJECT_NAME_NOT_FOUND for no such object,
// STATUS_OBJECT_TYPE_MISMATCH for an object that is no link ('\Device\HarddiskVolume2').
NTSTATUS NtOpenSymbolicLinkObject(HANDLE* LinkHandle, DWORD DesiredAccess, OBJECT_ATTRIBUTES* ObjectAttributes);
// The link's target into LinkTarget->Buffer (up to MaximumLength bytes; Length set to the
// target's byte length). ReturnedLength, when given, receives the bytes the target needs
// (with a terminating zero when it fits); STATUS_BUFFER_TOO_SMALL when it does not fit.
NTSTATUS NtQuerySymbolicLinkObject(HANDLE LinkHandle, UNICODE_STRING* LinkTarget, ULONG* ReturnedLength);
NTSTATUS NtClose(HANDLE Handle);

}  // namespace win
