// Our declarations come first: <windows.h> turns many of their names into macros.
#include "platform/win32api.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include "platform/win32/convert.h"

namespace win {

HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit) { return ::CoInitializeEx(pvReserved, dwCoInit); }
void CoUninitialize() { ::CoUninitialize(); }

BOOL ShellExecuteExW(SHELLEXECUTEINFOW* p) {
  static_assert(sizeof(SHELLEXECUTEINFOW) == sizeof(::SHELLEXECUTEINFOW), "layouts differ");
  return ::ShellExecuteExW(reinterpret_cast<::SHELLEXECUTEINFOW*>(p));
}

BOOL GetExitCodeProcess(HANDLE hProcess, DWORD* lpExitCode) { return ::GetExitCodeProcess(hProcess, lpExitCode); }
DWORD GetProcessId(HANDLE Process) { return ::GetProcessId(Process); }
BOOL TerminateProcess(HANDLE hProcess, UINT uExitCode) { return ::TerminateProcess(hProcess, uExitCode); }

}  // namespace win
