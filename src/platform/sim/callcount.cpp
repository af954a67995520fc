// Faults on demand: the file-system calls of a run, counted across all of its processes.
#include <chrono>
#include <mutex>
#include <shared_mutex>

#include "platform/sim/faults.h"
#include "platform/sim/machine.h"
#include "platform/utf.h"

namespace sim {

namespace faults {

namespace {

// Held shared by each call under way while a power cut is planned; the cut takes it alone.
// Never destroyed: threads still make calls while the process's exit handlers run.
std::shared_timed_mutex& InFlightLock() {
  static auto* const lock = new std::shared_timed_mutex;
  return *lock;
}

thread_local CallInfo tCall;

}  // namespace

CallInfo& CurrentCall() { return tCall; }

void InFlightEnter() { InFlightLock().lock_shared(); }
void InFlightLeave() { InFlightLock().unlock_shared(); }

bool InFlightWaitAll(unsigned aMilliseconds) {
  // Kept once taken: no call of this process starts again.
  return InFlightLock().try_lock_for(std::chrono::milliseconds(aMilliseconds));
}

void FaultLog(const Run& aRun, const char* aType, win::DWORD aError) {
  const CallInfo& c = tCall;
  const ProcessRecord* self = CurrentProcess();
  std::string event = std::string("{\"type\":\"") + aType + "\",\"pid\":" + std::to_string(self ? self->Pid : 0) +
                      ",\"call\":" + std::to_string(c.Number) +
                      ",\"function\":" + JsonEscape(c.Function) + ",\"path\":" + JsonEscape(TextToUtf8(c.Path));
  if (!c.Target.empty()) event += ",\"target\":" + JsonEscape(TextToUtf8(c.Target));
  if (aError) event += ",\"error\":" + std::to_string(aError);
  EventAppend(aRun.Machine, event + "}");
}

}  // namespace faults

FileSystemCall::FileSystemCall(const char* aFunction, const win::WCHAR* aPath, const win::WCHAR* aPath2) {
  faults::Run* run = faults::RunGet();
  if (!run) return;
  if (faults::PowerIsOff(*run)) faults::PowerOffEnd();
  if (run->Plan.PowerCut) {
    faults::InFlightEnter();
    FLocked = true;
    if (faults::PowerIsOff(*run)) {
      faults::InFlightLeave();
      FLocked = false;
      faults::PowerOffEnd();
    }
  }
  faults::CallInfo& call = faults::CurrentCall();
  call.Number = faults::CallNext(*run);
  call.Function = aFunction;
  call.Path = aPath ? Text(aPath) : Text();
  call.Target = aPath2 ? Text(aPath2) : Text();
  if (call.Number == run->Plan.PowerCut) {
    faults::InFlightLeave();
    FLocked = false;
    faults::PowerCut(*run);
  }
  if (win::DWORD e = faults::FailCallError(*run, call.Number)) {
    Error = e;
    faults::FaultLog(*run, "fault", e);
  }
}

FileSystemCall::~FileSystemCall() {
  if (FLocked) faults::InFlightLeave();
  faults::CurrentCall() = faults::CallInfo{};
}

}  // namespace sim
