#include <windows.h>

#include "platform/win32api.h"

namespace win {

DWORD GetLastError() { return ::GetLastError(); }
void SetLastError(DWORD dwErrCode) { ::SetLastError(dwErrCode); }
void Sleep(DWORD dwMilliseconds) { ::Sleep(dwMilliseconds); }
DWORD GetTickCount() { return ::GetTickCount(); }
ULONGLONG GetTickCount64() { return ::GetTickCount64(); }

}  // namespace win
