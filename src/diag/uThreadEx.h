// The base of the framework's long-lived worker threads.
//
// A TThreadEx runs a loop of steps: one step, then a sleep of Interval ms (0: none;
// 0xFFFFFFFF, the default: until alerted) that Alert ends early, until it is terminated. Its
// name goes to an attached debugger and to the crash reporter's register of thread names.
// An exception of a step (derived from Exception) is offered to ExecuteException first; when
// it is not marked handled it ends the thread.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>

#include "diag/uThreadSync.h"
#include "rtl/Thread.h"

using TProcedureOfObject = std::function<void()>;

class TThreadEx;

// Process-wide hooks, unset unless a program assigns them (before any thread starts).
extern std::function<void(TThreadEx*)> ThreadStartHook;
extern std::function<void(TThreadEx*)> ThreadEndHook;
extern std::function<void(TThreadEx*, const Exception&, bool&)> ThreadExceptionHook;

class TThreadEx : public TThread {
 public:
  static constexpr win::DWORD kIntervalUntilAlerted = 0xFFFFFFFF;

  // Created suspended; Start runs it.
  explicit TThreadEx(const Text& aName);
  // Terminates the thread and waits for it (unless the thread destroys itself).
  ~TThreadEx() override;

  // Sets the terminated flag, calls OnTerminationRequested, then Alert.
  void Terminate() override;
  // On the thread itself: nothing. Otherwise Terminate and, unless suspended, WaitFor.
  void TerminateAndWait();
  // Never raises: a failing wait alerts the thread and returns 0.
  win::DWORD WaitFor() override;
  bool IsTerminated() const { return Terminated(); }
  bool IsStarted() const { return ThreadId.load() != 0; }
  // The sleep after the current step is skipped once.
  void SkipNextDelay() { FSkipNextDelay.store(true); }
  // Wakes the sleeping thread at once; a running one skips its next sleep. An alert that
  // finds one pending (the event set, or the thread woken and not yet at its next step) adds
  // nothing to it, so alerting a busy thread over and over costs no system call.
  void Alert() {
    if (!FAlertPending.exchange(true, std::memory_order_acq_rel)) AlertEvent->SetEvent();
  }
  void SetName(const Text& aName);
  Text NameGet();

  // 0 until Execute begins.
  std::atomic<win::DWORD> ThreadId{0};
  std::atomic<win::DWORD> Interval{kIntervalUntilAlerted};
  // Set before Start; called on the thread.
  TProcedureOfObject OnExecute;
  TProcedureOfObject OnFinished;
  // Called by Terminate, on the terminating thread.
  TProcedureOfObject OnTerminationRequested;
  std::atomic<bool> IsSleeping{false};
  // Set as the last action of a normal end of Execute.
  std::atomic<bool> IsFinished{false};
  TEvent* AlertEvent = nullptr;

 protected:
  void Execute() override;
  // Once, on the thread, before the first step.
  virtual void ExecuteStart() {}
  // One step; calls OnExecute.
  virtual void ExecuteStep();
  // Sets bHandled to go on with the loop after the exception.
  virtual void ExecuteException(const Exception& aException, bool& bHandled) {}
  // Once, after the loop; calls OnFinished.
  virtual void ExecuteEnd();

 private:
  void NameForDebuggerSet(const Text& aName);

  std::mutex FNameLock;
  Text FName;  // under FNameLock
  std::atomic<bool> FSkipNextDelay{false};
  std::atomic<bool> FAlertPending{false};
};
