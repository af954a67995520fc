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

}  // namespace win
