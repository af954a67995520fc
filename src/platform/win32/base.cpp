// Our declarations come first: <windows.h> turns many of their names into macros.
#include "platform/win32api.h"

#include <windows.h>

namespace win {

DWORD GetLastError() { return ::GetLastError(); }
void SetLastError(DWORD dwErrCode) { ::SetLastError(dwErrCode); }
void Sleep(DWORD dwMilliseconds) { ::Sleep(dwMilliseconds); }
DWORD GetTickCount() { return ::GetTickCount(); }
ULONGLONG GetTickCount64() { return ::GetTickCount64(); }

}  // namespace win

namespace win {

DWORD GetCurrentProcessId() { return ::GetCurrentProcessId(); }
DWORD GetCurrentThreadId() { return ::GetCurrentThreadId(); }
HANDLE GetCurrentProcess() { return ::GetCurrentProcess(); }
HANDLE GetCurrentThread() { return ::GetCurrentThread(); }
void OutputDebugStringW(LPCWSTR lpOutputString) {
  ::OutputDebugStringW(reinterpret_cast<const wchar_t*>(lpOutputString));
}
BOOL IsDebuggerPresent() { return ::IsDebuggerPresent(); }
BOOL GetComputerNameW(LPWSTR lpBuffer, DWORD* nSize) {
  return ::GetComputerNameW(reinterpret_cast<wchar_t*>(lpBuffer), nSize);
}

}  // namespace win
