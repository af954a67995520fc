// The running Windows and its processes: the Windows version, integrity levels of this
// program and of the desktop shell, UAC virtualization, privileges of the own token, and
// starting processes (normally, with a token, or at the user's level from an elevated one).
//
// Nothing is cached: every test asks the system again. Failures are results (false, 0,
// 0xFFFFFFFF, or the level 0x3000 where a level cannot be read); none raises.
#pragma once

#include <cstdint>
#include <functional>

#include "paths/uPaths.h"
#include "platform/win32api.h"

// ---- Windows version -------------------------------------------------------------------

struct TWindowsVersion {
  std::uint32_t Major = 0;
  std::uint32_t Minor = 0;
};

// The file version of shell32.dll in the native system folder (the parent of
// SystemDriversFolderGet, so that a 32-bit program on 64-bit Windows reads the 64-bit
// library); 0.0 when it cannot be read. The library's own version does not depend on the
// compatibility shims the system applies to programs without a manifest.
TWindowsVersion WindowsVersionGet();
// Windows 7 (6.1) or later: 6.x with x >= 1, or any major above 6.
bool WindowsVersionIsSupported(const TWindowsVersion& aVersion);
bool WindowsVersionIsSupported();
// Major above 5; false for an unreadable version.
bool WindowsIsVistaOrLater(const TWindowsVersion& aVersion);
bool WindowsIsVistaOrLater();

// ---- Integrity, virtualization, privileges ---------------------------------------------

// The process of the desktop shell's "Progman" window; 0xFFFFFFFF when there is none.
win::DWORD ShellProcessIdGet();
// The integrity level (0x2000 medium, 0x3000 high) of a process. aLevel is 0x3000 whenever
// it cannot be read (and before Vista); the result is false only for a label without
// sub-authorities.
bool ProcessIntegrityLevelGet(win::DWORD aProcessId, win::DWORD& aLevel);
// The own level, 0 when ProcessIntegrityLevelGet returns false.
win::DWORD IntegrityLevelGet();
// The shell's level, whatever ProcessIntegrityLevelGet returns (0x3000 without a shell).
win::DWORD ShellIntegrityLevelGet();
// UAC file and registry virtualization is on for the process (0: this one).
bool UacVirtualizationIsActive(win::DWORD aProcessId);
// Enables or disables a privilege of the own token; false when the token lacks it.
bool PrivilegeSet(bool aEnable, const Text& aPrivilegeName);
// AdjustTokenPrivileges of one privilege with aAttributes; false for an unknown name.
bool TokenPrivilegeAttributesSet(win::HANDLE aToken, const Text& aPrivilegeName, win::DWORD aAttributes);
// Removes the privileges an elevated token holds and a child at the user's level must not
// inherit; the result is that of the first, "SeCreateGlobalPrivilege".
bool TokenPrivilegesRemove(win::HANDLE aToken);

// ---- Starting processes ----------------------------------------------------------------

// Flags -1: NORMAL_PRIORITY_CLASS | CREATE_NEW_PROCESS_GROUP | CREATE_UNICODE_ENVIRONMENT.
constexpr win::DWORD kProcessCreateDefaultFlags = 0x620;

// Starts aExecutable (quoted; aParameters after one space) or, when it is empty, the command
// line aParameters alone. aUnelevated (from an elevated program, with a shell at medium
// level) starts it with a copy of the shell's token without the administrators'
// privileges; aToken starts it with that token. bWait waits for the end and stores the exit
// code through aExitCode. Without aProcessInformation the handles are closed here; with
// one the caller owns them. False when no process was started (the system's error is the
// last error then).
bool ProcessCreate(const TPath& aExecutable, const Text& aParameters, int aCreationFlags = -1,
                   void* aEnvironment = nullptr, const Text& aCurrentFolder = Text(),
                   win::STARTUPINFOW* aStartupInfo = nullptr, win::PROCESS_INFORMATION* aProcessInformation = nullptr,
                   bool aWait = false, win::DWORD* aExitCode = nullptr, bool aUnelevated = false,
                   win::HANDLE aToken = nullptr);

// The command line ProcessCreate hands to the system.
Text ProcessCommandLineBuild(const TPath& aExecutable, const Text& aParameters);

// ---- Small system operations -----------------------------------------------------------

// A window procedure for a hidden message window.
using TWindowMethod = std::function<win::LONG_PTR(win::UINT aMessage, win::ULONG_PTR aWParam, win::LONG_PTR aLParam)>;
// A hidden message-only window of the calling thread whose messages aMethod answers (it
// calls DefWindowProcW itself for those it leaves alone); null when the system refuses one.
win::HWND MessageWindowAllocate(const TWindowMethod& aMethod);
// Destroys a window made by MessageWindowAllocate; null is fine.
void MessageWindowFree(win::HWND aWindow);

// ComputerNameGet is in diag/uMisc.h.
