// Critical sections, events and waits: the real API.
// Our declarations come first: <windows.h> turns many of their names into macros.
#include "platform/win32api.h"

#include <windows.h>

#include <cstddef>

#include "platform/win32/convert.h"

namespace win {

static_assert(sizeof(CRITICAL_SECTION) == sizeof(::CRITICAL_SECTION), "critical section layouts differ");
static_assert(offsetof(CRITICAL_SECTION, OwningThread) == offsetof(::RTL_CRITICAL_SECTION, OwningThread),
              "OwningThread is where Windows keeps it");

namespace {
::CRITICAL_SECTION* Cs(LPCRITICAL_SECTION p) { return Same<CRITICAL_SECTION, ::CRITICAL_SECTION>(p); }
}  // namespace

void InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection) { ::InitializeCriticalSection(Cs(lpCriticalSection)); }
void EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) { ::EnterCriticalSection(Cs(lpCriticalSection)); }
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) { return ::TryEnterCriticalSection(Cs(lpCriticalSection)); }
void LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection) { ::LeaveCriticalSection(Cs(lpCriticalSection)); }
void DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection) { ::DeleteCriticalSection(Cs(lpCriticalSection)); }

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState, LPCWSTR lpName) {
  return ::CreateEventW(Same<SECURITY_ATTRIBUTES, ::SECURITY_ATTRIBUTES>(lpEventAttributes), bManualReset, bInitialState,
                        W(lpName));
}
HANDLE OpenEventW(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCWSTR lpName) {
  return ::OpenEventW(dwDesiredAccess, bInheritHandle, W(lpName));
}
BOOL SetEvent(HANDLE hEvent) { return ::SetEvent(hEvent); }
BOOL ResetEvent(HANDLE hEvent) { return ::ResetEvent(hEvent); }

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) { return ::WaitForSingleObject(hHandle, dwMilliseconds); }
DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds) {
  return ::WaitForMultipleObjects(nCount, lpHandles, bWaitAll, dwMilliseconds);
}

}  // namespace win
