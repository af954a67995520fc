// Our declarations come first: <windows.h> turns many of their names into macros.
#include "platform/win32api.h"

#include <windows.h>

#include "platform/win32/convert.h"

namespace win {

HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode, LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                   DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
  return ::CreateFileW(W(lpFileName), dwDesiredAccess, dwShareMode, Same<SECURITY_ATTRIBUTES, ::SECURITY_ATTRIBUTES>(lpSecurityAttributes),
                       dwCreationDisposition, dwFlagsAndAttributes, hTemplateFile);
}
BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD n, DWORD* lpRead, OVERLAPPED* lpOverlapped) {
  return ::ReadFile(hFile, lpBuffer, n, lpRead, reinterpret_cast<::OVERLAPPED*>(lpOverlapped));
}
BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD n, DWORD* lpWritten, OVERLAPPED* lpOverlapped) {
  return ::WriteFile(hFile, lpBuffer, n, lpWritten, reinterpret_cast<::OVERLAPPED*>(lpOverlapped));
}
DWORD SetFilePointer(HANDLE hFile, LONG lDistanceToMove, LONG* lpDistanceToMoveHigh, DWORD dwMoveMethod) {
  return ::SetFilePointer(hFile, lDistanceToMove, lpDistanceToMoveHigh, dwMoveMethod);
}
BOOL SetEndOfFile(HANDLE hFile) { return ::SetEndOfFile(hFile); }
DWORD GetFileSize(HANDLE hFile, DWORD* lpFileSizeHigh) { return ::GetFileSize(hFile, lpFileSizeHigh); }
BOOL FlushFileBuffers(HANDLE hFile) { return ::FlushFileBuffers(hFile); }
BOOL CloseHandle(HANDLE hObject) { return ::CloseHandle(hObject); }

DWORD GetFileAttributesW(LPCWSTR lpFileName) { return ::GetFileAttributesW(W(lpFileName)); }
BOOL SetFileAttributesW(LPCWSTR lpFileName, DWORD a) { return ::SetFileAttributesW(W(lpFileName), a); }
BOOL GetFileInformationByHandle(HANDLE hFile, BY_HANDLE_FILE_INFORMATION* i) {
  return ::GetFileInformationByHandle(hFile, Same<BY_HANDLE_FILE_INFORMATION, ::BY_HANDLE_FILE_INFORMATION>(i));
}

BOOL CreateDirectoryW(LPCWSTR lpPathName, LPSECURITY_ATTRIBUTES sa) {
  return ::CreateDirectoryW(W(lpPathName), Same<SECURITY_ATTRIBUTES, ::SECURITY_ATTRIBUTES>(sa));
}
BOOL RemoveDirectoryW(LPCWSTR lpPathName) { return ::RemoveDirectoryW(W(lpPathName)); }
BOOL DeleteFileW(LPCWSTR lpFileName) { return ::DeleteFileW(W(lpFileName)); }
BOOL MoveFileExW(LPCWSTR from, LPCWSTR to, DWORD dwFlags) { return ::MoveFileExW(W(from), W(to), dwFlags); }
BOOL CopyFileW(LPCWSTR from, LPCWSTR to, BOOL bFailIfExists) { return ::CopyFileW(W(from), W(to), bFailIfExists); }

HANDLE FindFirstFileW(LPCWSTR lpFileName, WIN32_FIND_DATAW* d) {
  return ::FindFirstFileW(W(lpFileName), Same<WIN32_FIND_DATAW, ::WIN32_FIND_DATAW>(d));
}
BOOL FindNextFileW(HANDLE h, WIN32_FIND_DATAW* d) { return ::FindNextFileW(h, Same<WIN32_FIND_DATAW, ::WIN32_FIND_DATAW>(d)); }
BOOL FindClose(HANDLE h) { return ::FindClose(h); }

DWORD GetTempPathW(DWORD n, LPWSTR b) { return ::GetTempPathW(n, W(b)); }
DWORD GetCurrentDirectoryW(DWORD n, LPWSTR b) { return ::GetCurrentDirectoryW(n, W(b)); }
BOOL SetCurrentDirectoryW(LPCWSTR p) { return ::SetCurrentDirectoryW(W(p)); }

}  // namespace win
