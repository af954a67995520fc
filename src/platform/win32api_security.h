// Processes and their tokens: opening processes, integrity levels, privileges, starting
// programs directly (with or without a token of their own), the shell's window, shutdown.
#pragma once

#include "platform/win32api_types.h"

namespace win {

using PSID = void*;
using UCHAR = unsigned char;

// OpenProcess rights.
constexpr DWORD PROCESS_TERMINATE = 0x0001;
constexpr DWORD PROCESS_QUERY_INFORMATION = 0x0400;
constexpr DWORD PROCESS_QUERY_LIMITED_INFORMATION = 0x1000;
constexpr DWORD PROCESS_ALL_ACCESS = 0x1FFFFF;

// Token rights.
constexpr DWORD TOKEN_ASSIGN_PRIMARY = 0x0001;
constexpr DWORD TOKEN_DUPLICATE = 0x0002;
constexpr DWORD TOKEN_IMPERSONATE = 0x0004;
constexpr DWORD TOKEN_QUERY = 0x0008;
constexpr DWORD TOKEN_QUERY_SOURCE = 0x0010;
constexpr DWORD TOKEN_ADJUST_PRIVILEGES = 0x0020;
constexpr DWORD TOKEN_ADJUST_GROUPS = 0x0040;
constexpr DWORD TOKEN_ADJUST_DEFAULT = 0x0080;
constexpr DWORD TOKEN_ADJUST_SESSIONID = 0x0100;
constexpr DWORD TOKEN_ALL_ACCESS = 0xF01FF;

// GetTokenInformation classes (TOKEN_INFORMATION_CLASS).
using TOKEN_INFORMATION_CLASS = int;
constexpr TOKEN_INFORMATION_CLASS TokenPrivileges = 3;
constexpr TOKEN_INFORMATION_CLASS TokenElevation = 20;
constexpr TOKEN_INFORMATION_CLASS TokenVirtualizationEnabled = 24;
constexpr TOKEN_INFORMATION_CLASS TokenIntegrityLevel = 25;

// DuplicateTokenEx.
using SECURITY_IMPERSONATION_LEVEL = int;
constexpr SECURITY_IMPERSONATION_LEVEL SecurityAnonymous = 0;
constexpr SECURITY_IMPERSONATION_LEVEL SecurityIdentification = 1;
constexpr SECURITY_IMPERSONATION_LEVEL SecurityImpersonation = 2;
constexpr SECURITY_IMPERSONATION_LEVEL SecurityDelegation = 3;
using TOKEN_TYPE = int;
constexpr TOKEN_TYPE TokenPrimary = 1;
constexpr TOKEN_TYPE TokenImpersonation = 2;

// Privilege attributes.
constexpr DWORD SE_PRIVILEGE_ENABLED_BY_DEFAULT = 0x1;
constexpr DWORD SE_PRIVILEGE_ENABLED = 0x2;
constexpr DWORD SE_PRIVILEGE_REMOVED = 0x4;
constexpr DWORD SE_PRIVILEGE_USED_FOR_ACCESS = 0x80000000;

// Group attributes of the mandatory label.
constexpr DWORD SE_GROUP_INTEGRITY = 0x20;
constexpr DWORD SE_GROUP_INTEGRITY_ENABLED = 0x40;

constexpr DWORD SECURITY_MANDATORY_LOW_RID = 0x1000;
constexpr DWORD SECURITY_MANDATORY_MEDIUM_RID = 0x2000;
constexpr DWORD SECURITY_MANDATORY_HIGH_RID = 0x3000;
constexpr DWORD SECURITY_MANDATORY_SYSTEM_RID = 0x4000;

constexpr DWORD ERROR_NO_SUCH_PRIVILEGE = 1313;
constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;

struct LUID {
  DWORD LowPart;
  LONG HighPart;
};

struct LUID_AND_ATTRIBUTES {
  LUID Luid;
  DWORD Attributes;
};

// One entry in the structure; longer sets are allocated with room for more.
struct TOKEN_PRIVILEGES {
  DWORD PrivilegeCount;
  LUID_AND_ATTRIBUTES Privileges[1];
};

struct SID_AND_ATTRIBUTES {
  PSID Sid;
  DWORD Attributes;
};

struct TOKEN_MANDATORY_LABEL {
  SID_AND_ATTRIBUTES Label;
};

struct TOKEN_ELEVATION {
  DWORD TokenIsElevated;
};

HANDLE OpenProcess(DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwProcessId);
BOOL OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, HANDLE* TokenHandle);
// Too small a buffer (or none): FALSE, ERROR_INSUFFICIENT_BUFFER and the size in
// *ReturnLength.
BOOL GetTokenInformation(HANDLE TokenHandle, TOKEN_INFORMATION_CLASS TokenInformationClass, LPVOID TokenInformation,
                         DWORD TokenInformationLength, DWORD* ReturnLength);
UCHAR* GetSidSubAuthorityCount(PSID pSid);
DWORD* GetSidSubAuthority(PSID pSid, DWORD nSubAuthority);
BOOL DuplicateTokenEx(HANDLE hExistingToken, DWORD dwDesiredAccess, LPSECURITY_ATTRIBUTES lpTokenAttributes,
                      SECURITY_IMPERSONATION_LEVEL ImpersonationLevel, TOKEN_TYPE TokenType, HANDLE* phNewToken);
// TRUE also when some privileges were not changed: the last error then is
// ERROR_NOT_ALL_ASSIGNED (ERROR_SUCCESS when all were).
BOOL AdjustTokenPrivileges(HANDLE TokenHandle, BOOL DisableAllPrivileges, TOKEN_PRIVILEGES* NewState,
                           DWORD BufferLength, TOKEN_PRIVILEGES* PreviousState, DWORD* ReturnLength);
BOOL LookupPrivilegeValueW(LPCWSTR lpSystemName, LPCWSTR lpName, LUID* lpLuid);

// CreateProcessW.
constexpr DWORD DEBUG_PROCESS = 0x00000001;
constexpr DWORD CREATE_SUSPENDED = 0x00000004;
constexpr DWORD DETACHED_PROCESS = 0x00000008;
constexpr DWORD CREATE_NEW_CONSOLE = 0x00000010;
constexpr DWORD NORMAL_PRIORITY_CLASS = 0x00000020;
constexpr DWORD CREATE_NEW_PROCESS_GROUP = 0x00000200;
constexpr DWORD CREATE_UNICODE_ENVIRONMENT = 0x00000400;
constexpr DWORD CREATE_NO_WINDOW = 0x08000000;

struct STARTUPINFOW {
  DWORD cb;
  LPWSTR lpReserved;
  LPWSTR lpDesktop;
  LPWSTR lpTitle;
  DWORD dwX;
  DWORD dwY;
  DWORD dwXSize;
  DWORD dwYSize;
  DWORD dwXCountChars;
  DWORD dwYCountChars;
  DWORD dwFillAttribute;
  DWORD dwFlags;
  WORD wShowWindow;
  WORD cbReserved2;
  BYTE* lpReserved2;
  HANDLE hStdInput;
  HANDLE hStdOutput;
  HANDLE hStdError;
};

struct PROCESS_INFORMATION {
  HANDLE hProcess;
  HANDLE hThread;
  DWORD dwProcessId;
  DWORD dwThreadId;
};

// lpCommandLine must be writable: the system may change it while it parses it.
BOOL CreateProcessW(LPCWSTR lpApplicationName, LPWSTR lpCommandLine, LPSECURITY_ATTRIBUTES lpProcessAttributes,
                    LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles, DWORD dwCreationFlags,
                    LPVOID lpEnvironment, LPCWSTR lpCurrentDirectory, STARTUPINFOW* lpStartupInfo,
                    PROCESS_INFORMATION* lpProcessInformation);
BOOL CreateProcessAsUserW(HANDLE hToken, LPCWSTR lpApplicationName, LPWSTR lpCommandLine,
                          LPSECURITY_ATTRIBUTES lpProcessAttributes, LPSECURITY_ATTRIBUTES lpThreadAttributes,
                          BOOL bInheritHandles, DWORD dwCreationFlags, LPVOID lpEnvironment,
                          LPCWSTR lpCurrentDirectory, STARTUPINFOW* lpStartupInfo,
                          PROCESS_INFORMATION* lpProcessInformation);

// FindWindowW and GetWindowThreadProcessId: win32api_ui.h.

// ExitWindowsEx.
constexpr UINT EWX_LOGOFF = 0x0;
constexpr UINT EWX_SHUTDOWN = 0x1;
constexpr UINT EWX_REBOOT = 0x2;
constexpr UINT EWX_FORCE = 0x4;
constexpr UINT EWX_POWEROFF = 0x8;
constexpr UINT EWX_FORCEIFHUNG = 0x10;
// Needs SeShutdownPrivilege enabled in the caller's token (else ERROR_PRIVILEGE_NOT_HELD).
BOOL ExitWindowsEx(UINT uFlags, DWORD dwReason);

}  // namespace win
