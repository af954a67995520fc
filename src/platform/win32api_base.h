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
// The local date and time (the machine's time zone).
void GetLocalTime(SYSTEMTIME* lpSystemTime);
// The current time in UTC, in 100-ns intervals since 1601-01-01.
void GetSystemTimeAsFileTime(FILETIME* lpSystemTimeAsFileTime);

}  // namespace win

namespace win {

// Modules and their exports. Functions found with GetProcAddress are called with the
// calling convention of the platform's API (ORV_WINAPI).
#if defined(_WIN32) && !defined(_WIN64)
#define ORV_WINAPI __attribute__((stdcall))
#else
#define ORV_WINAPI
#endif
using FARPROC = void (*)();
HMODULE LoadLibraryW(LPCWSTR lpLibFileName);
BOOL FreeLibrary(HMODULE hLibModule);
FARPROC GetProcAddress(HMODULE hModule, const char* lpProcName);

// TRUE in *Wow64Process for a 32-bit process on 64-bit Windows.
BOOL IsWow64Process(HANDLE hProcess, BOOL* Wow64Process);

// Not a Win32 function: the bytes in live allocations of the process's heaps (on Windows a
// walk of every heap of the process; on the simulated machine the C library's allocator
// statistics).
ULONGLONG HeapBytesInUseGet();

// Not a Win32 function: the pointer width the program was built for (32 or 64). On the
// simulated machine, the bitness of the simulated process.
int ProgramPointerBits();

}  // namespace win
