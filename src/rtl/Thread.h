// The runtime's thread class: an object that owns one operating-system thread.
//
// Created suspended (a thread started from the base constructor would run Execute before the
// derived object exists); Start runs Execute on the new thread. An exception that
// leaves Execute ends the thread and is kept as FatalException (it never ends the process).
// WaitFor blocks until the thread has ended and returns ReturnValue. With FreeOnTerminate
// the object deletes itself when the thread ends (it must then have been made with new).
#pragma once

#include <atomic>
#include <exception>
#include <mutex>
#include <thread>

#include "platform/win32api.h"
#include "rtl/Exception.h"

// Misuse of a thread object: starting it twice, waiting for one never started or for itself.
class EThread : public Exception {
 public:
  using Exception::Exception;
};

enum class TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

class TThread {
 public:
  TThread() = default;
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;
  // A running thread is terminated and waited for first (not when it destroys itself).
  virtual ~TThread();

  // Resumes a suspended thread: it runs Execute. EThread when it was started already.
  void Start();
  // Sets the terminated flag; Execute is expected to look at it.
  virtual void Terminate();
  // Blocks until the thread has ended; its ReturnValue. EThread for a thread that was never
  // started, or when the thread waits for itself.
  virtual win::DWORD WaitFor();

  bool Terminated() const { return FTerminated.load(std::memory_order_acquire); }
  bool Suspended() const { return !FStarted.load(std::memory_order_acquire); }
  bool Finished() const { return FFinished.load(std::memory_order_acquire); }
  // 0 until the thread runs.
  win::DWORD ThreadID() const { return FThreadID.load(std::memory_order_acquire); }

  // Kept for the interface; the stand-in runs every thread at the system's normal priority.
  TThreadPriority Priority = TThreadPriority::tpNormal;
  std::atomic<bool> FreeOnTerminate{false};
  std::atomic<win::DWORD> ReturnValue{0};
  // The exception that ended Execute, if one did; read it after WaitFor.
  std::exception_ptr FatalException;

 protected:
  virtual void Execute() = 0;

 private:
  void Run();

  std::thread FThread;
  std::mutex FJoinLock;
  std::atomic<bool> FStarted{false};
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FFinished{false};
  std::atomic<win::DWORD> FThreadID{0};
};
