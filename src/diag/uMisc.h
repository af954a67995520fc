// Stops and alerts, the two severities of programming problems, and the small routines the
// diagnostics rely on.
//
// A stop (StopIf, StopIfNot, Stop) ends the current operation: it raises EDebugStop with
// "Error: " + text. An alert (AlertIf, Alert, AlertIfUsed, Verify) files a problem report
// and lets the program go on.
//
// An alert's report (ProblemNotify, diag/uDebug.h) carries the call stack of the alerting
// thread and names the routine that raised it: the alert routines themselves are skipped, so
// they are never inlined into their callers.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "platform/win32api_base.h"
#include "platform/win32api_types.h"
#include "rtl/Exception.h"
#include "rtl/Variant.h"

class TLock;

// ---- Stops -----------------------------------------------------------------------------

// If aCondition: "Error: " + aText to the debugger output, DebuggerBreak, then EDebugStop
// with the message "Error: " + aText.
void StopIf(bool aCondition, const Text& aText);
// StopIf(!aCondition, aText); returns aCondition when it returns at all.
bool StopIfNot(bool aCondition, const Text& aText);
[[noreturn]] void Stop(const Text& aText);

// ---- Alerts ----------------------------------------------------------------------------

// If aCondition and not AlertsOff: reports the problem (kind "Alert"); under a debugger
// also "Warning: " + aText to its output and a break (unless AlertsNoBreak); without one,
// Stop("Alert " + aText) when AlertsStop.
[[gnu::noinline]] void AlertIf(bool aCondition, const Text& aText);
[[gnu::noinline]] void Alert(const Text& aText);
// At the top of operations that are obsolete but still present.
[[gnu::noinline]] void AlertIfUsed();
// AlertIf(!aCondition, ""); returns aCondition, so that callers skip the failing branch.
[[gnu::noinline]] bool Verify(bool aCondition);
// Verify that the calling thread holds aLock.
[[gnu::noinline]] void VerifyLockTaken(TLock& aLock);

// Process-wide switches, all false at start.
extern std::atomic<bool> AlertsOff;
extern std::atomic<bool> AlertsNoBreak;
extern std::atomic<bool> AlertsStop;

// ---- Debugger, threads, machines -------------------------------------------------------

bool DebuggerIsPresent();
// A breakpoint when a debugger is attached; nothing otherwise.
void DebuggerBreak();
// The calling thread is the process's main thread (the one that started the process).
bool IsMainThread();
// The id of the thread that started the program.
win::DWORD MainThreadIdGet();
// aComputerName (or, when empty, this computer's name) is one of the developer machines,
// compared ignoring ASCII case; or ComputerIsExtraDeveloperMachine.
bool ComputerIsDeveloperMachine(const Text& aComputerName = Text());
bool ComputerIsExtraDeveloperMachine();
// The local computer's name, "" when the system does not tell it.
Text ComputerNameGet();
// The target of a symbolic link of the object namespace ('\??\C:' gives
// '\Device\HarddiskVolume2'); "" when the name is no link or cannot be opened. A target
// longer than 128 characters is reported and gives "".
Text NtSymbolicLinkTargetGet(const Text& aLinkName);

// ---- Values and texts ------------------------------------------------------------------

// 0 for null and for the empty text; otherwise the value as a 64-bit integer
// (EVariantError for a non-numeric text).
std::int64_t VariantToInt64(const Variant& aValue);
// The character occurs in the text.
bool TextHasChar(TextView aText, char16_t aChar);

// ---- Result texts for log lines --------------------------------------------------------

// Keeps the thread's last error across work done after the call that set it (a log line
// written between a call and the reading of its error).
class TLastErrorKeeper {
 public:
  TLastErrorKeeper() : FError(win::GetLastError()) {}
  ~TLastErrorKeeper() { win::SetLastError(FError); }
  TLastErrorKeeper(const TLastErrorKeeper&) = delete;
  TLastErrorKeeper& operator=(const TLastErrorKeeper&) = delete;

 private:
  win::DWORD FError;
};

// "OK" when bResult, else WindowsErrorText of this thread's last error. Call it right after
// the operation it describes.
Text ResultText(bool bResult);
// "OK" for 0, else "ERROR: " + the error's name ("UNKNOWN_0x57" when it has none).
Text WindowsErrorText(std::int64_t aCode);

// ---- Flag sets -------------------------------------------------------------------------
//
// 64-bit flag words (32-bit Win32 words widen with zeros). A single flag is a value with
// exactly one bit set.

// Number of set bits (0 to 64).
int FlagsCount(std::uint64_t aValue);
// Verify that aMask has a bit; true when aFlags and aMask share one.
bool FlagsHasAny(std::uint64_t aFlags, std::uint64_t aMask);
// Verify that aFlag is a single flag; true when it is set in aFlags.
bool FlagsHas(std::uint64_t aFlags, std::uint64_t aFlag);
std::uint64_t FlagsAdd(std::uint64_t aFlags, std::uint64_t aFlag);
// aFlags without aFlag when FlagsHas, else aFlags unchanged.
std::uint64_t FlagsRemove(std::uint64_t aFlags, std::uint64_t aFlag);
void FlagsInclude(std::uint64_t& aFlags, std::uint64_t aFlag);
void FlagsExclude(std::uint64_t& aFlags, std::uint64_t aFlag);
// The same on a 32-bit flag word.
void FlagsExclude(win::DWORD& aFlags, win::DWORD aFlag);

// ---- Architecture ----------------------------------------------------------------------

// The pointer width the program was built for (32 for the installer). Asked of the platform,
// not of sizeof(void*): on the simulated machine the simulated process has its own width.
int ProcessPointerBits();
// "x64" for a 64-bit program, else "x86".
Text ProcessArchitectureName();
// Windows itself is 64-bit: a 64-bit program, or a 32-bit one that IsWow64Process (looked
// up at run time) reports as running under WOW64. Any failure of the look-up counts as
// 32-bit Windows.
bool WindowsIs64Bit();
// "x64" or "x86": the architecture of Windows, not of the program.
Text ArchitectureName();
