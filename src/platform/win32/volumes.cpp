// Drives and volumes, forwarded to kernel32.
#include "platform/win32api.h"

#include <windows.h>

#include "platform/win32/convert.h"

namespace win {

DWORD QueryDosDeviceW(LPCWSTR lpDeviceName, LPWSTR lpTargetPath, DWORD ucchMax) {
  return ::QueryDosDeviceW(W(lpDeviceName), W(lpTargetPath), ucchMax);
}

DWORD GetLogicalDriveStringsA(DWORD nBufferLength, char* lpBuffer) {
  return ::GetLogicalDriveStringsA(nBufferLength, lpBuffer);
}

HANDLE FindFirstVolumeW(LPWSTR lpszVolumeName, DWORD cchBufferLength) {
  return ::FindFirstVolumeW(W(lpszVolumeName), cchBufferLength);
}

BOOL FindNextVolumeW(HANDLE hFindVolume, LPWSTR lpszVolumeName, DWORD cchBufferLength) {
  return ::FindNextVolumeW(hFindVolume, W(lpszVolumeName), cchBufferLength);
}

BOOL FindVolumeClose(HANDLE hFindVolume) { return ::FindVolumeClose(hFindVolume); }

}  // namespace win
