#include "rtl/Thread.h"

TThread::~TThread() {
  if (FThread.joinable()) {
    if (FThread.get_id() == std::this_thread::get_id()) {
      FThread.detach();  // destroying itself: nothing to wait for
    } else {
      FTerminated.store(true, std::memory_order_release);
      std::lock_guard<std::mutex> g(FJoinLock);
      if (FThread.joinable()) FThread.join();
    }
  }
}

void TThread::Start() {
  bool expected = false;
  if (!FStarted.compare_exchange_strong(expected, true)) throw EThread(u"Thread already started");
  // Held while FThread is assigned: a thread that frees itself detaches FThread under it.
  std::lock_guard<std::mutex> g(FJoinLock);
  FThread = std::thread([this] { Run(); });
}

void TThread::Terminate() { FTerminated.store(true, std::memory_order_release); }

win::DWORD TThread::WaitFor() {
  if (!FStarted.load(std::memory_order_acquire)) throw EThread(u"Cannot wait for a thread that was not started");
  std::lock_guard<std::mutex> g(FJoinLock);
  if (FThread.joinable()) {
    if (FThread.get_id() == std::this_thread::get_id()) throw EThread(u"Thread cannot wait for itself");
    FThread.join();
  }
  return ReturnValue.load();
}

void TThread::Run() {
  FThreadID.store(win::GetCurrentThreadId(), std::memory_order_release);
  try {
    Execute();
  } catch (...) {
    FatalException = std::current_exception();
  }
  FFinished.store(true, std::memory_order_release);
  if (FreeOnTerminate.load()) {
    // Nobody waits for a thread that frees itself: let go of the handle, then of the object.
    {
      std::lock_guard<std::mutex> g(FJoinLock);
      if (FThread.joinable()) FThread.detach();
    }
    delete this;
  }
}
