// Process basics: last error, module, command line, ids, debugger, computer name.
#pragma once

#include "platform/win32api_types.h"

namespace win {

DWORD GetLastError();
void SetLastError(DWORD dwErrCode);

// hModule null: the executable of the calling process. Returns the characters copied
// without the terminating zero; on truncation nSize, with ERROR_INSUFFICIENT_BUFFER.
DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize);
HMODULE GetModuleHandleW(LPCWSTR lpModuleName);
LPWSTR GetCommandLineW();

DWORD GetCurrentProcessId();
DWORD GetCurrentThreadId();
HANDLE GetCurrentProcess();
HANDLE GetCurrentThread();

void OutputDebugStringW(LPCWSTR lpOutputString);
BOOL IsDebuggerPresent();

// lpnSize: in, the buffer's size in characters; out, the characters written without the
// terminating zero, or the size needed (with the zero) and ERROR_BUFFER_OVERFLOW (111).
BOOL GetComputerNameW(LPWSTR lpBuffer, DWORD* nSize);
constexpr DWORD ERROR_BUFFER_OVERFLOW = 111;

void Sleep(DWORD dwMilliseconds);
DWORD GetTickCount();
ULONGLONG GetTickCount64();

}  // namespace win
