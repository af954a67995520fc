// Drives and volumes: the names the system gives them and the devices behind them.
#pragma once

#include "platform/win32api_types.h"

namespace win {

// The targets of an MS-DOS device name ('C:', 'Volume{...}', a substituted 'X:') as a list of
// zero-terminated texts ending with an extra zero: the number of characters stored, zeros
// included, or 0 with ERROR_FILE_NOT_FOUND for an unknown name and ERROR_INSUFFICIENT_BUFFER
// when the list does not fit. A null name lists every device name.
DWORD QueryDosDeviceW(LPCWSTR lpDeviceName, LPWSTR lpTargetPath, DWORD ucchMax);

// The drive roots in use ("C:\", "D:\" ...), each with its zero and an extra zero after the
// last: the length without that last zero; when the buffer is too small, the size it needs
// (last zero included) and nothing written. The ANSI form.
DWORD GetLogicalDriveStringsA(DWORD nBufferLength, char* lpBuffer);

// The volumes of the machine by GUID name ('\\?\Volume{...}\'); FindNextVolumeW fails with
// ERROR_NO_MORE_FILES after the last, and both with ERROR_FILENAME_EXCED_RANGE when the name
// does not fit the buffer.
HANDLE FindFirstVolumeW(LPWSTR lpszVolumeName, DWORD cchBufferLength);
BOOL FindNextVolumeW(HANDLE hFindVolume, LPWSTR lpszVolumeName, DWORD cchBufferLength);
BOOL FindVolumeClose(HANDLE hFindVolume);

}  // namespace win
