// Threads and the exceptions a thread raises for a debugger.
#pragma once

#include "platform/win32api_types.h"

namespace win {

constexpr DWORD EXCEPTION_NONCONTINUABLE = 0x1;
constexpr DWORD EXCEPTION_MAXIMUM_PARAMETERS = 15;

// The exception a debugger reads a thread's name from: four pointer-sized arguments
// {MS_VC_EXCEPTION_TYPE_THREADNAME, ANSI name, thread id (or -1 for the caller), 0}.
constexpr DWORD MS_VC_EXCEPTION = 0x406D1388;
constexpr DWORD MS_VC_EXCEPTION_TYPE_THREADNAME = 0x1000;

// The naming exception is continued wherever no debugger takes it, so that raising it is
// harmless. Any other code that no handler takes ends the process, as on Windows.
void RaiseException(DWORD dwExceptionCode, DWORD dwExceptionFlags, DWORD nNumberOfArguments,
                    const ULONG_PTR* lpArguments);

// A thread's times in 100-ns units (creation and exit as FILETIMEs); the pseudo handle of
// GetCurrentThread names the calling thread.
BOOL GetThreadTimes(HANDLE hThread, FILETIME* lpCreationTime, FILETIME* lpExitTime, FILETIME* lpKernelTime,
                    FILETIME* lpUserTime);
// The processor cycles the thread has used (on the simulated machine: its CPU time in ns).
BOOL QueryThreadCycleTime(HANDLE ThreadHandle, ULONGLONG* CycleTime);

}  // namespace win
