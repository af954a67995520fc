// Processes, the shell's start of programs, and COM initialisation.
#pragma once

#include "platform/win32api_types.h"

namespace win {

using HKEY = void*;
using HRESULT = LONG;

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT RPC_E_CHANGED_MODE = static_cast<HRESULT>(0x80010106);

// CoInitializeEx flags.
constexpr DWORD COINIT_MULTITHREADED = 0x0;
constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;
constexpr DWORD COINIT_DISABLE_OLE1DDE = 0x4;

HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit);
void CoUninitialize();

// ShellExecuteExW.
constexpr ULONG SEE_MASK_NOCLOSEPROCESS = 0x00000040;
constexpr ULONG SEE_MASK_NOASYNC = 0x00000100;
constexpr ULONG SEE_MASK_FLAG_NO_UI = 0x00000400;
constexpr ULONG SEE_MASK_NOZONECHECKS = 0x00800000;
constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_SHOW = 5;
constexpr DWORD ERROR_NO_ASSOCIATION = 1155;

struct SHELLEXECUTEINFOW {
  DWORD cbSize;
  ULONG fMask;
  HWND hwnd;
  LPCWSTR lpVerb;
  LPCWSTR lpFile;
  LPCWSTR lpParameters;
  LPCWSTR lpDirectory;
  int nShow;
  HINSTANCE hInstApp;
  LPVOID lpIDList;
  LPCWSTR lpClass;
  HKEY hkeyClass;
  DWORD dwHotKey;
  HANDLE hIconOrMonitor;
  HANDLE hProcess;
};

BOOL ShellExecuteExW(SHELLEXECUTEINFOW* pExecInfo);

BOOL GetExitCodeProcess(HANDLE hProcess, DWORD* lpExitCode);
DWORD GetProcessId(HANDLE Process);
// Ends the process at once with uExitCode; its threads run no further code.
BOOL TerminateProcess(HANDLE hProcess, UINT uExitCode);

}  // namespace win
