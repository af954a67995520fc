// Our declarations come first: <windows.h> turns many of their names into macros.
#include "platform/win32api.h"

#include <windows.h>

#include "platform/win32/convert.h"

namespace win {

DWORD GetLastError() { return ::GetLastError(); }
void SetLastError(DWORD dwErrCode) { ::SetLastError(dwErrCode); }
void Sleep(DWORD dwMilliseconds) { ::Sleep(dwMilliseconds); }
DWORD GetTickCount() { return ::GetTickCount(); }
ULONGLONG GetTickCount64() { return ::GetTickCount64(); }
void GetSystemTimeAsFileTime(FILETIME* lpSystemTimeAsFileTime) {
  ::GetSystemTimeAsFileTime(Same<FILETIME, ::FILETIME>(lpSystemTimeAsFileTime));
}
void GetLocalTime(SYSTEMTIME* lpSystemTime) {
  static_assert(sizeof(SYSTEMTIME) == sizeof(::SYSTEMTIME));
  ::GetLocalTime(reinterpret_cast<::SYSTEMTIME*>(lpSystemTime));
}

DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
  return ::GetModuleFileNameW(static_cast<::HMODULE>(hModule), W(lpFilename), nSize);
}
HMODULE GetModuleHandleW(LPCWSTR lpModuleName) { return ::GetModuleHandleW(W(lpModuleName)); }
LPWSTR GetCommandLineW() { return reinterpret_cast<LPWSTR>(::GetCommandLineW()); }

DWORD GetCurrentProcessId() { return ::GetCurrentProcessId(); }
DWORD GetCurrentThreadId() { return ::GetCurrentThreadId(); }
HANDLE GetCurrentProcess() { return ::GetCurrentProcess(); }
HANDLE GetCurrentThread() { return ::GetCurrentThread(); }
void OutputDebugStringW(LPCWSTR lpOutputString) { ::OutputDebugStringW(W(lpOutputString)); }
BOOL IsDebuggerPresent() { return ::IsDebuggerPresent(); }
BOOL GetComputerNameW(LPWSTR lpBuffer, DWORD* nSize) { return ::GetComputerNameW(W(lpBuffer), nSize); }

}  // namespace win
