// Exceptions raised for a debugger: the real API.
// Our declarations come first: <windows.h> turns many of their names into macros.
#include "platform/win32api.h"

#include <windows.h>

namespace win {

namespace {

// GCC code cannot catch a structured exception, so the naming exception is continued here
// when no debugger took it first; every other code goes on to the usual handling.
LONG CALLBACK NamingExceptionContinue(::EXCEPTION_POINTERS* aInfo) {
  if (aInfo->ExceptionRecord->ExceptionCode == MS_VC_EXCEPTION) return EXCEPTION_CONTINUE_EXECUTION;
  return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

void RaiseException(DWORD dwExceptionCode, DWORD dwExceptionFlags, DWORD nNumberOfArguments,
                    const ULONG_PTR* lpArguments) {
  if (dwExceptionCode == MS_VC_EXCEPTION) {
    static PVOID handler = ::AddVectoredExceptionHandler(1, NamingExceptionContinue);
    (void)handler;
  }
  // Same width; i686 headers spell it unsigned long.
  ::RaiseException(dwExceptionCode, dwExceptionFlags, nNumberOfArguments, reinterpret_cast<const ::ULONG_PTR*>(lpArguments));
}

BOOL GetThreadTimes(HANDLE hThread, FILETIME* lpCreationTime, FILETIME* lpExitTime, FILETIME* lpKernelTime,
                    FILETIME* lpUserTime) {
  return ::GetThreadTimes(hThread, reinterpret_cast<::FILETIME*>(lpCreationTime), reinterpret_cast<::FILETIME*>(lpExitTime),
                          reinterpret_cast<::FILETIME*>(lpKernelTime), reinterpret_cast<::FILETIME*>(lpUserTime));
}

BOOL QueryThreadCycleTime(HANDLE ThreadHandle, ULONGLONG* CycleTime) {
  return ::QueryThreadCycleTime(ThreadHandle, reinterpret_cast<::ULONG64*>(CycleTime));
}

}  // namespace win
