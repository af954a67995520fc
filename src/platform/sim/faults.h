// Faults on demand: a run of the machine (winsim run) can fail its Nth file-system call or
// every call on a path with a chosen Win32 error, cut the power at its Nth call, or count
// its calls. docs/winsim.md lists the calls that count.
//
// The plan of a run lives in a folder of its own in the machine's state folder, named to the
// run's processes by ORV_SIM_FAULTS (inherited by every process they start):
//     plan       what to do, one line each (FaultPlanWrite)
//     shared     the run's call counter and power state, mapped by every process of the run
//     unflushed  while a power cut is planned: the data written since the last flush, one
//                record per write, flush or deletion, appended by every process of the run
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/win32api_types.h"

namespace sim {

struct FaultPlan {
  bool CountCalls = false;
  std::uint64_t FailCall = 0;  // 0: none
  win::DWORD FailCallError = 0;
  std::vector<std::pair<Text, win::DWORD>> FailPaths;  // Windows paths as given
  std::uint64_t PowerCut = 0;  // 0: none
  bool Any() const { return CountCalls || FailCall || !FailPaths.empty() || PowerCut; }
};

// ---- for winsim -----------------------------------------------------------------------------

// Creates the plan's folder in the machine; the environment entry that gives it to the
// run's processes ("ORV_SIM_FAULTS=...").
std::string FaultPlanStart(const std::string& aMachine, const FaultPlan& aPlan, std::string& aFolder);

struct FaultOutcome {
  std::uint64_t Calls = 0;     // file-system calls the run's processes made (a cut one included)
  std::uint64_t CutAt = 0;     // the call at which the power was cut; 0: it was not
};
FaultOutcome FaultOutcomeRead(const std::string& aFolder);
// Removes the plan's folder.
void FaultPlanEnd(const std::string& aFolder);

// "N:ERROR" (ERROR in decimal or 0x hex, above 0); false when it is not that.
bool FaultSpecParse(const std::string& aSpec, std::string& aWhere, win::DWORD& aError);

// ---- inside the machine's processes ----------------------------------------------------------

// One counted file-system call, for its whole duration. Error: the call must fail with it and
// do nothing (the fault is already in the event log). At the planned power cut the
// constructor does not return: every process of the machine ends.
class FileSystemCall {
 public:
  FileSystemCall(const char* aFunction, const win::WCHAR* aPath = nullptr, const win::WCHAR* aPath2 = nullptr);
  FileSystemCall(const char* aFunction, const Text& aPath) : FileSystemCall(aFunction, aPath.c_str()) {}
  ~FileSystemCall();
  FileSystemCall(const FileSystemCall&) = delete;
  FileSystemCall& operator=(const FileSystemCall&) = delete;

  win::DWORD Error = 0;

 private:
  bool FLocked = false;
};

// The error planned for every call on a resolved Windows path (after WOW64 redirection); 0
// when none. A hit is logged as a fault event.
win::DWORD FailPathError(const Text& aWinPath);

// What the power cut loses, recorded only while one is planned. A write is recorded before
// it is made, at the handle's position (a write under way when the power goes is lost too);
// a flush once it is done.
void UnflushedWrite(int aFd, std::uint64_t aLength);
void UnflushedFlush(int aFd);
// All of a host file (a copy the system made for the caller).
void UnflushedWhole(const std::string& aHost);
// A host file about to go (deleted, replaced): its identity is taken before, and dropped from
// the record once it has gone (Gone), since a later file may reuse it.
class UnflushedGoing {
 public:
  explicit UnflushedGoing(const std::string& aHost);
  void Gone();

 private:
  bool FKnown = false;
  std::uint64_t FDevice = 0;
  std::uint64_t FInode = 0;
};

// ---- between the units of faults on demand ---------------------------------------------------

namespace faults {

struct SharedState;

// This process's view of its run's plan; null when the process has none.
struct Run {
  std::string Folder;
  std::string Machine;
  FaultPlan Plan;
  std::vector<std::pair<Text, win::DWORD>> FailPathsUpper;  // normalised for comparison
  SharedState* Shared = nullptr;
  int UnflushedFd = -1;
};
Run* RunGet();

// The next call's number.
std::uint64_t CallNext(Run& aRun);
bool PowerIsOff(const Run& aRun);
void PowerCutMark(Run& aRun, std::uint64_t aCall);
// A Windows path as fail-path rules compare it: upper-cased, without \\?\ or \??\ and
// without a trailing separator.
Text FailPathNormal(TextView aPath);
// The error planned for call aCall; 0 when it is not to fail.
win::DWORD FailCallError(const Run& aRun, std::uint64_t aCall);
// Ends this process at once (the power is off).
[[noreturn]] void PowerOffEnd();
// Cuts the power at the calling thread's call: every process of the machine ends, unflushed data reads
// back as zeros. Does not return.
[[noreturn]] void PowerCut(Run& aRun);
// The calls of this process under way, which a power cut waits for.
void InFlightEnter();
void InFlightLeave();
// Waits until no other call of this process is under way and none can start; false after
// aMilliseconds.
bool InFlightWaitAll(unsigned aMilliseconds);
// Zeros what the run's processes wrote and never flushed, in every file of the machine.
void UnflushedLose(const Run& aRun);
// The counted call the calling thread is in (0 and "" outside of one).
struct CallInfo {
  std::uint64_t Number = 0;
  const char* Function = "";
  Text Path;
  Text Target;  // the second path of a call that names two
};
CallInfo& CurrentCall();
// Logs a fault event ("fault" or "power-cut") for the calling thread's call; aError 0: none.
void FaultLog(const Run& aRun, const char* aType, win::DWORD aError);

}  // namespace faults

}  // namespace sim
