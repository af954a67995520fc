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
