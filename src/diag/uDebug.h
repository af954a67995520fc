// The debug facility: the one way the program writes its log, and where problem reports,
// hang detection, the memory watch and call-stack texts live.
//
// TDebug is a start-up service (created by Units after the lock controller and the job pool).
// It writes nothing itself: every line goes to the log transport's channel "Main", which
// sends it to a running log console and/or an encrypted log file. Lines written before the
// service exists, after it is gone, or while logging is off are dropped.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "crashreport/CrashReport.h"
#include "diag/uJobPool.h"
#include "diag/uThreadSync.h"
#include "diag/uUnits.h"
#include "params/uFlexArray.h"
#include "paths/uPaths.h"
#include "platform/win32api.h"

class TLogChannel;

// Receives every problem report, on the reporting thread.
using TOnProblemNotifyFn = std::function<void(TFlexArray& aParams)>;

class TDebug : public TUnit {
 public:
  void OnCreate() override;
  void OnDestroy() override;

  // ---- Logging -----------------------------------------------------------------------

  // The transport's channel "Main", through which every line is written.
  TLogChannel* LogEngine();
  // One entry; "~" stands for a line break (CR LF). Nothing while logging is off.
  void Log(const Text& sInfo);
  // A coloured entry (0x00BBGGRR); "~" is kept as it is.
  void LogColored(std::uint32_t aColor, const Text& aText);
  // A hex dump of the bytes (BufferToHexDump) through Log.
  void LogBuffer(std::span<const std::uint8_t> aBuffer);
  void LogException(const Text& aMsg);

  // Builds the transport's connection string from LogToConsole and LogToFile and switches
  // logging on.
  void EnableLogging(const Text& aLogFileEncryptionKey);
  void DisableLogging();
  // Sets LogToConsole when a log console's window exists.
  void LogToConsoleActivateIfConsoleRunning();
  // A new log file in aFolder named after the program, the time and the process id.
  void FileLoggingActivateDefault(const TPath& aFolder);

  // ---- Hang detection and call stacks ------------------------------------------------

  void HangDetectionDeactivate();
  void HangDetectionReActivate();
  void HangDetectionHandlerRegister(TJobFn aJobFn);
  void HangDetectionHandlerUnRegister(TJobFn aJobFn);

  Text CallstackCreateForCurrentThread();
  Text CallstackCreateForThread(win::DWORD aThreadId);
  // Every thread of the process, in the order the system lists them.
  Text CallstackCreateForAllThreads();
  // The threads recorded in a crash report.
  Text CallstackCreateForAllThreads(const TCrashReport& aReport);

  // Hands the exception to the crash reporter as if nothing had caught it: it ends as one
  // "Error" problem report, and the program goes on.
  void HandleException(const std::exception& aException);
  void HandleNonOleException(const std::exception& aException);
  // The problem report of this exception will carry the call stacks of all threads.
  void ExceptionLogCallstacksForAllThreadsWhenProcessing(Exception& aException);
  // Asks a running development environment to open the source line of one call-stack text
  // line; nothing happens without one.
  void SourceCodeGoTo(const Text& aCallStackLine);

  // ---- Fields ------------------------------------------------------------------------

  win::HWND HangDetectionMessageWindowHandle = nullptr;
  TLock* HangDetectionLock = nullptr;  // "ThreadAlive"
  std::int32_t HangDetectionDeactivateCount = 0;
  bool HangDetectionDeactivateChanged = false;
  bool HangDetectionIgnoreThisOne = false;
  std::uint32_t HangDetectionIsAliveLast = 0;
  TFlexArray MemoryConsumptionLevels;
  std::int32_t MemoryConsumptionLastMb = 0;

  bool IsDebugging = false;
  bool LogToFile = false;
  bool LogToConsole = false;
  // Read without a lock by every thread that logs.
  std::atomic<bool> LoggingEnabled{false};
  TPath LogFile;
  TFlexArray HangExtraInfoJobs;
  TOnProblemNotifyFn OnProblemNotify;

  // The job functions, run by the job pool ("jaWipeOldLogFiles", "jaHangDetection",
  // "jaMemoryConsumptionCheck" under "Async"), and the main loop's sign of life.
  void WipeOldLogFiles(TJob& aJob);
  void HangDetectionCheck(TJob& aJob);
  void MemoryConsumptionCheck(TJob& aJob);
  void HangDetectionIsAlive();
  // The hidden window's procedure: power and time-change broadcasts.
  win::LRESULT HangDetectionWindowProc(win::HWND aWindow, win::UINT aMessage, win::WPARAM aWParam, win::LPARAM aLParam);
  // The bytes in live allocations as the memory watch sees them; unset: MemoryAllocatedGet.
  std::function<std::uint64_t()> MemoryAllocatedFn;

  // The index in MemoryConsumptionLevels of the highest level whose threshold is below aMb;
  // -1 at or below the first.
  int MemoryConsumptionLevelOf(std::int32_t aMb) const;

 private:
  // The window the probe goes to: the application's hidden main window, or this facility's.
  win::HWND HangDetectionProbeWindow();
  // Sends WM_TIMER with a time-out of 5000 ms: true only when the send timed out.
  bool HangDetectionProbeTimesOut();
};

// The singleton; empty before Units creates it and after it is freed.
extern TDebug* Debug;

// Debug->Log(aText) when the facility exists. The caller's last Windows error is the same
// afterwards, so that a line can be written between a call and the reading of its error.
void DebugLog(const Text& aText);

// "-" x 70, then up to 32 lines of 16 bytes ("01: 48 65 ... | He..."), then "." x 70 when
// there were more bytes; every line ends in CR LF.
Text BufferToHexDump(std::span<const std::uint8_t> aBuffer);

// The transport's connection string for the outputs wanted (EnableLogging).
Text DebugConnectionsBuild(bool bConsole, bool bFile, const TPath& aLogFile, const Text& aKey,
                           bool bDeveloperMachine);

// A call stack as text: one line per frame, five columns (unit or module, line, class,
// routine, "+" line offset) separated by " | " and padded to their widest cell.
Text CallstackToText(const TCallstack& aCallstack);
// The text SourceCodeGoTo hands to the development environment for one call-stack text line.
Text SourceCodeGoToText(const Text& aCallStackLine);
// The all-threads text for (thread id, call stack) pairs, in the order given.
Text CallstacksOfThreadsToText(const std::vector<std::pair<win::DWORD, TCallstack>>& aStacks);

// The display name of a thread: its recorded name, " (", its id, ")".
Text ThreadDisplayText(win::DWORD aThreadId);

// Builds one problem report ("Type", "Message" or "Duration", "Thread", the caller's frame,
// "CallStack", "AllCallStacks"), logs it as "[Problem] ...", queues the job "ProblemNotify"
// on JobHandlerMain and hands it to Debug->OnProblemNotify.
void ProblemNotify(const Text& aType, const Text& aMessage, const TCallstack& aCallstack, win::DWORD aThreadId,
                   const Text& aAllCallstacks);

// The crash reporter's two phases: the quick filter asks for every thread's call stack when
// the exception is marked for it and leaves out the process list; the complete handler turns
// the report into a problem report of kind "Error" and marks it handled.
void CrashReportQuickFilter(TCrashReport& aReport);
void CrashReportComplete(TCrashReport& aReport);
