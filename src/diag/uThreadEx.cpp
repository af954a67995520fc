#include "diag/uThreadEx.h"

#include <string>

#include "crashreport/ThreadNames.h"

std::function<void(TThreadEx*)> ThreadStartHook;
std::function<void(TThreadEx*)> ThreadEndHook;
std::function<void(TThreadEx*, const Exception&, bool&)> ThreadExceptionHook;

TThreadEx::TThreadEx(const Text& aName) {
  Priority = TThreadPriority::tpNormal;
  AlertEvent = TEvent::Create();
  SetName(aName);
}

TThreadEx::~TThreadEx() {
  TerminateAndWait();
  FreeOnTerminate = false;
  AlertEvent->DeReference();
  AlertEvent = nullptr;
  // Last: the thread is gone, and what follows no longer touches the framework.
  win::DWORD id = ThreadId.load();
  if (id != 0 && ThreadNameGet(id) == NameGet()) ThreadNameRemove(id);
}

void TThreadEx::Terminate() {
  TThread::Terminate();
  if (OnTerminationRequested) OnTerminationRequested();
  Alert();
}

void TThreadEx::TerminateAndWait() {
  if (ThreadId.load() != 0 && ThreadId.load() == win::GetCurrentThreadId()) return;
  Terminate();
  if (!Suspended()) WaitFor();
}

win::DWORD TThreadEx::WaitFor() {
  try {
    return TThread::WaitFor();
  } catch (...) {
    Alert();
    return 0;
  }
}

Text TThreadEx::NameGet() {
  std::lock_guard<std::mutex> g(FNameLock);
  return FName;
}

void TThreadEx::SetName(const Text& aName) {
  {
    std::lock_guard<std::mutex> g(FNameLock);
    if (aName == FName) return;
    FName = aName;
  }
  if (IsStarted()) {
    NameForDebuggerSet(aName);
    // Before the start there is no thread id to record it under: Execute records it.
    ThreadNameSet(ThreadId.load(), aName);
  }
}

void TThreadEx::NameForDebuggerSet(const Text& aName) {
  // The system's ANSI code page holds ASCII everywhere; other characters become '?'.
  std::string ansi;
  for (char16_t c : aName) ansi += c < 0x80 ? static_cast<char>(c) : '?';
  win::ULONG_PTR info[4] = {win::MS_VC_EXCEPTION_TYPE_THREADNAME, reinterpret_cast<win::ULONG_PTR>(ansi.c_str()),
                            ThreadId.load(), 0};
  win::RaiseException(win::MS_VC_EXCEPTION, 0, 4, info);
}

void TThreadEx::ExecuteStep() {
  if (OnExecute) OnExecute();
}

void TThreadEx::ExecuteEnd() {
  if (OnFinished) OnFinished();
}

void TThreadEx::Execute() {
  ThreadId.store(win::GetCurrentThreadId());
  Text name = NameGet();
  NameForDebuggerSet(name);
  if (!name.empty()) ThreadNameSet(ThreadId.load(), name);
  if (ThreadStartHook) ThreadStartHook(this);
  ExecuteStart();
  do {
    try {
      ExecuteStep();
    } catch (const Exception& e) {
      bool handled = false;
      ExecuteException(e, handled);
      if (ThreadExceptionHook) ThreadExceptionHook(this, e, handled);
      if (!handled) throw;
    }
    if (Terminated()) break;
    win::DWORD interval = Interval.load();
    if (interval > 0 && !FSkipNextDelay.load()) {
      IsSleeping.store(true);
      if (AlertEvent->Wait(interval)) {
        // Reset before the pending mark goes: an alert in between finds it still pending and
        // is met by the step that follows (which starts after it).
        AlertEvent->ResetEvent();
        FAlertPending.exchange(false, std::memory_order_acq_rel);
      }
      IsSleeping.store(false);
    }
    FSkipNextDelay.store(false);
  } while (!Terminated());
  ExecuteEnd();
  if (ThreadEndHook) ThreadEndHook(this);
  IsFinished.store(true);
}
