// Our declarations come first: <windows.h> turns many of their names into macros.
#include "platform/win32api.h"

#include <windows.h>

#include "platform/win32/convert.h"

namespace win {

namespace {
::TOKEN_PRIVILEGES* P(TOKEN_PRIVILEGES* p) { return reinterpret_cast<::TOKEN_PRIVILEGES*>(p); }
static_assert(sizeof(TOKEN_PRIVILEGES) == sizeof(::TOKEN_PRIVILEGES), "layouts differ");
static_assert(sizeof(TOKEN_MANDATORY_LABEL) == sizeof(::TOKEN_MANDATORY_LABEL), "layouts differ");
}  // namespace

HANDLE OpenProcess(DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwProcessId) {
  return ::OpenProcess(dwDesiredAccess, bInheritHandle, dwProcessId);
}
BOOL OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, HANDLE* TokenHandle) {
  return ::OpenProcessToken(ProcessHandle, DesiredAccess, TokenHandle);
}
BOOL GetTokenInformation(HANDLE TokenHandle, TOKEN_INFORMATION_CLASS TokenInformationClass, LPVOID TokenInformation,
                         DWORD TokenInformationLength, DWORD* ReturnLength) {
  return ::GetTokenInformation(TokenHandle, static_cast<::TOKEN_INFORMATION_CLASS>(TokenInformationClass),
                               TokenInformation, TokenInformationLength, ReturnLength);
}
UCHAR* GetSidSubAuthorityCount(PSID pSid) { return ::GetSidSubAuthorityCount(pSid); }
DWORD* GetSidSubAuthority(PSID pSid, DWORD nSubAuthority) { return ::GetSidSubAuthority(pSid, nSubAuthority); }
BOOL DuplicateTokenEx(HANDLE hExistingToken, DWORD dwDesiredAccess, LPSECURITY_ATTRIBUTES lpTokenAttributes,
                      SECURITY_IMPERSONATION_LEVEL ImpersonationLevel, TOKEN_TYPE TokenType, HANDLE* phNewToken) {
  return ::DuplicateTokenEx(hExistingToken, dwDesiredAccess,
                            Same<SECURITY_ATTRIBUTES, ::SECURITY_ATTRIBUTES>(lpTokenAttributes),
                            static_cast<::SECURITY_IMPERSONATION_LEVEL>(ImpersonationLevel),
                            static_cast<::TOKEN_TYPE>(TokenType), phNewToken);
}
BOOL AdjustTokenPrivileges(HANDLE TokenHandle, BOOL DisableAllPrivileges, TOKEN_PRIVILEGES* NewState,
                           DWORD BufferLength, TOKEN_PRIVILEGES* PreviousState, DWORD* ReturnLength) {
  return ::AdjustTokenPrivileges(TokenHandle, DisableAllPrivileges, P(NewState), BufferLength, P(PreviousState),
                                 ReturnLength);
}
BOOL LookupPrivilegeValueW(LPCWSTR lpSystemName, LPCWSTR lpName, LUID* lpLuid) {
  return ::LookupPrivilegeValueW(W(lpSystemName), W(lpName), Same<LUID, ::LUID>(lpLuid));
}

BOOL CreateProcessW(LPCWSTR lpApplicationName, LPWSTR lpCommandLine, LPSECURITY_ATTRIBUTES lpProcessAttributes,
                    LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles, DWORD dwCreationFlags,
                    LPVOID lpEnvironment, LPCWSTR lpCurrentDirectory, STARTUPINFOW* lpStartupInfo,
                    PROCESS_INFORMATION* lpProcessInformation) {
  return ::CreateProcessW(W(lpApplicationName), W(lpCommandLine),
                          Same<SECURITY_ATTRIBUTES, ::SECURITY_ATTRIBUTES>(lpProcessAttributes),
                          Same<SECURITY_ATTRIBUTES, ::SECURITY_ATTRIBUTES>(lpThreadAttributes), bInheritHandles,
                          dwCreationFlags, lpEnvironment, W(lpCurrentDirectory),
                          Same<STARTUPINFOW, ::STARTUPINFOW>(lpStartupInfo),
                          Same<PROCESS_INFORMATION, ::PROCESS_INFORMATION>(lpProcessInformation));
}
BOOL CreateProcessAsUserW(HANDLE hToken, LPCWSTR lpApplicationName, LPWSTR lpCommandLine,
                          LPSECURITY_ATTRIBUTES lpProcessAttributes, LPSECURITY_ATTRIBUTES lpThreadAttributes,
                          BOOL bInheritHandles, DWORD dwCreationFlags, LPVOID lpEnvironment,
                          LPCWSTR lpCurrentDirectory, STARTUPINFOW* lpStartupInfo,
                          PROCESS_INFORMATION* lpProcessInformation) {
  return ::CreateProcessAsUserW(hToken, W(lpApplicationName), W(lpCommandLine),
                                Same<SECURITY_ATTRIBUTES, ::SECURITY_ATTRIBUTES>(lpProcessAttributes),
                                Same<SECURITY_ATTRIBUTES, ::SECURITY_ATTRIBUTES>(lpThreadAttributes),
                                bInheritHandles, dwCreationFlags, lpEnvironment, W(lpCurrentDirectory),
                                Same<STARTUPINFOW, ::STARTUPINFOW>(lpStartupInfo),
                                Same<PROCESS_INFORMATION, ::PROCESS_INFORMATION>(lpProcessInformation));
}

BOOL ExitWindowsEx(UINT uFlags, DWORD dwReason) { return ::ExitWindowsEx(uFlags, dwReason); }

}  // namespace win
