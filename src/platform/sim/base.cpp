// Process basics of the simulated machine (first form: the process itself).
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/win32api.h"

namespace win {

namespace {
thread_local DWORD tLastError = 0;
}

DWORD GetLastError() { return tLastError; }
void SetLastError(DWORD dwErrCode) { tLastError = dwErrCode; }

void Sleep(DWORD dwMilliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds)); }
ULONGLONG GetTickCount64() {
  using namespace std::chrono;
  return static_cast<ULONGLONG>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}
DWORD GetTickCount() { return static_cast<DWORD>(GetTickCount64()); }

}  // namespace win

#include <sys/syscall.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "platform/utf.h"

namespace win {

DWORD GetCurrentProcessId() { return static_cast<DWORD>(::getpid()); }
DWORD GetCurrentThreadId() { return static_cast<DWORD>(::syscall(SYS_gettid)); }
HANDLE GetCurrentProcess() { return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)); }
HANDLE GetCurrentThread() { return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-2)); }

void OutputDebugStringW(LPCWSTR lpOutputString) {
  // No debugger is attached to a simulated process; the text goes nowhere, as on Windows.
  (void)lpOutputString;
}

BOOL IsDebuggerPresent() { return FALSE; }

BOOL GetComputerNameW(LPWSTR lpBuffer, DWORD* nSize) {
  Text name = u"ORVANTA-TEST";
  if (!nSize) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (*nSize < name.size() + 1 || !lpBuffer) {
    *nSize = static_cast<DWORD>(name.size() + 1);
    SetLastError(ERROR_BUFFER_OVERFLOW);
    return FALSE;
  }
  std::memcpy(lpBuffer, name.c_str(), (name.size() + 1) * sizeof(WCHAR));
  *nSize = static_cast<DWORD>(name.size());
  return TRUE;
}

}  // namespace win
