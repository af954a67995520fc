// Our declarations come first: <windows.h> turns many of their names into macros.
#include "platform/win32api.h"

#include <windows.h>

#include <vector>

#include "platform/win32/convert.h"

namespace win {

DWORD GetLastError() { return ::GetLastError(); }
void SetLastError(DWORD dwErrCode) { ::SetLastError(dwErrCode); }
void Sleep(DWORD dwMilliseconds) { ::Sleep(dwMilliseconds); }
DWORD GetTickCount() { return ::GetTickCount(); }
ULONGLONG GetTickCount64() { return ::GetTickCount64(); }

ULONGLONG HeapBytesInUseGet() {
  // The C runtime may keep a heap of its own beside the process heap: every heap counts.
  std::vector<::HANDLE> heaps(::GetProcessHeaps(0, nullptr) + 16);
  heaps.resize(::GetProcessHeaps(static_cast<::DWORD>(heaps.size()), heaps.data()));
  ULONGLONG total = 0;
  for (::HANDLE heap : heaps) {
    if (!::HeapLock(heap)) continue;
    ::PROCESS_HEAP_ENTRY entry{};
    while (::HeapWalk(heap, &entry))
      if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) total += entry.cbData;
    ::HeapUnlock(heap);
  }
  return total;
}
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
