// Kernel objects and their handles in a simulated process.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/win32api_types.h"

namespace sim {

struct KernelWaiter;

class KernelObject {
 public:
  virtual ~KernelObject() = default;
  // Objects a wait function can wait on (events, processes) say so.
  virtual bool Waitable() const { return false; }

  // ---- the wait interface (for waitable objects) ----
  // Whether the object is signalled now; bConsume takes the signal of an auto-reset kind.
  // Called with KernelLock() held.
  virtual bool SignalTest(bool bConsume) { return false; }
  // False when the object can become signalled without this process noticing (another
  // process sets it, a process ends): waits that include it look again every millisecond.
  virtual bool SignalsLocally() const { return true; }
  // A blocking wait on this object alone, without KernelLock(): true when signalled (and
  // taken), false on time-out. Objects that do not signal locally may provide it, so that a
  // single wait on them does not poll; nullopt: not provided.
  virtual std::optional<bool> WaitAlone(win::DWORD dwMilliseconds) { return std::nullopt; }

 protected:
  // Wakes the threads of this process waiting on the object; call with KernelLock() held,
  // after changing the state that SignalTest reads.
  void SignalNotify();

 private:
  friend win::DWORD WaitObjects(const std::vector<std::shared_ptr<KernelObject>>&, bool, win::DWORD);
  std::vector<KernelWaiter*> FWaiters;  // under KernelLock()
};

// Guards the signal state of this process's objects and their lists of waiters.
std::mutex& KernelLock();

// Waits as WaitForMultipleObjects does on objects that are all Waitable(): WAIT_OBJECT_0 +
// index, or WAIT_TIMEOUT. The caller has checked the arguments.
win::DWORD WaitObjects(const std::vector<std::shared_ptr<KernelObject>>& aObjects, bool bWaitAll,
                       win::DWORD dwMilliseconds);

// Handle values are small multiples of 4, never 0, -1 or -2 (the pseudo-handles).
win::HANDLE HandleInsert(std::shared_ptr<KernelObject> aObject);
std::shared_ptr<KernelObject> HandleGet(win::HANDLE aHandle);
// Removes the handle; the object goes when its last handle (or user) lets go of it.
bool HandleClose(win::HANDLE aHandle);

template <class T>
std::shared_ptr<T> HandleGetAs(win::HANDLE aHandle) {
  return std::dynamic_pointer_cast<T>(HandleGet(aHandle));
}

}  // namespace sim
