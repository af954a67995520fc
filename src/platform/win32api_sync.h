// Critical sections, events and waits.
#pragma once

#include <atomic>

#include "platform/win32api_types.h"

namespace win {

// Laid out as Windows lays out RTL_CRITICAL_SECTION, so that the Windows backend hands it
// through. OwningThread holds the owner's thread id (0 when free), as on Windows.
struct CRITICAL_SECTION {
  void* DebugInfo;
  LONG LockCount;
  LONG RecursionCount;
  HANDLE OwningThread;
  HANDLE LockSemaphore;
  ULONG_PTR SpinCount;
};
using LPCRITICAL_SECTION = CRITICAL_SECTION*;

void InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
// Re-entrant: the owner enters again at once, and must leave as often as it entered.
void EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
void LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
void DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection);

// The owner's thread id, 0 when free; safe to read while other threads enter and leave.
inline DWORD CriticalSectionOwnerGet(CRITICAL_SECTION* lpCriticalSection) {
  HANDLE h = std::atomic_ref<HANDLE>(lpCriticalSection->OwningThread).load(std::memory_order_relaxed);
  return static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(h));
}

// Events. A name makes the event shared by every process of the machine (on Windows, of the
// session): a second CreateEventW with the name opens the same event, with
// ERROR_ALREADY_EXISTS; bManualReset and bInitialState are then ignored.
HANDLE CreateEventW(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
                    LPCWSTR lpName);
// Null and ERROR_FILE_NOT_FOUND when no event has the name.
HANDLE OpenEventW(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCWSTR lpName);
BOOL SetEvent(HANDLE hEvent);
BOOL ResetEvent(HANDLE hEvent);

constexpr DWORD EVENT_MODIFY_STATE = 0x0002;
constexpr DWORD EVENT_ALL_ACCESS = STANDARD_RIGHTS_REQUIRED | SYNCHRONIZE | 0x3;

// Waits. A successful wait on an auto-reset event takes its signal.
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_ABANDONED = 0x80;
constexpr DWORD WAIT_ABANDONED_0 = 0x80;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;
constexpr DWORD MAXIMUM_WAIT_OBJECTS = 64;

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
// bWaitAll false: WAIT_OBJECT_0 + the lowest index of a signalled object. True: WAIT_OBJECT_0
// once all are signalled together. 0 or more than MAXIMUM_WAIT_OBJECTS handles, or a handle
// given twice with bWaitAll: WAIT_FAILED with ERROR_INVALID_PARAMETER.
DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds);

}  // namespace win
