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

}  // namespace win
