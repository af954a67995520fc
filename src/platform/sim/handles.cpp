#include "platform/sim/handles.h"
#include "platform/sim/clock.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <unordered_map>

#include "platform/win32api.h"
#include "platform/sim/threadcycles.h"

namespace sim {

namespace {

struct HandleTable {
  std::mutex lock;
  std::unordered_map<win::ULONG_PTR, std::shared_ptr<KernelObject>> objects;
  win::ULONG_PTR next = 0x100;
};

HandleTable& Table() {
  static HandleTable* table = new HandleTable;  // lives to the very end of the process
  return *table;
}

}  // namespace

win::HANDLE HandleInsert(std::shared_ptr<KernelObject> aObject) {
  HandleTable& t = Table();
  std::lock_guard<std::mutex> g(t.lock);
  win::ULONG_PTR value = t.next;
  t.next += 4;
  t.objects.emplace(value, std::move(aObject));
  return reinterpret_cast<win::HANDLE>(value);
}

std::shared_ptr<KernelObject> HandleGet(win::HANDLE aHandle) {
  HandleTable& t = Table();
  std::lock_guard<std::mutex> g(t.lock);
  auto it = t.objects.find(reinterpret_cast<win::ULONG_PTR>(aHandle));
  return it == t.objects.end() ? nullptr : it->second;
}

bool HandleClose(win::HANDLE aHandle) {
  std::shared_ptr<KernelObject> victim;  // released outside the table's lock
  HandleTable& t = Table();
  std::lock_guard<std::mutex> g(t.lock);
  auto it = t.objects.find(reinterpret_cast<win::ULONG_PTR>(aHandle));
  if (it == t.objects.end()) return false;
  victim = std::move(it->second);
  t.objects.erase(it);
  return true;
}

}  // namespace sim

// ---- waits ------------------------------------------------------------------------------

namespace sim {

struct KernelWaiter {
  std::condition_variable Wake;
  bool Woken = false;
};

std::mutex& KernelLock() {
  static std::mutex* lock = new std::mutex;  // lives to the very end of the process
  return *lock;
}

void KernelObject::SignalNotify() {
  for (KernelWaiter* w : FWaiters) {
    w->Woken = true;
    w->Wake.notify_one();
  }
}

win::DWORD WaitObjects(const std::vector<std::shared_ptr<KernelObject>>& aObjects, bool bWaitAll,
                       win::DWORD dwMilliseconds) {
  using Clock = std::chrono::steady_clock;
  dwMilliseconds = ClockRealMs(dwMilliseconds);  // the process's clock may run faster than the host's
  if (aObjects.size() == 1 && !aObjects[0]->SignalsLocally()) {
    if (auto r = aObjects[0]->WaitAlone(dwMilliseconds)) return *r ? win::WAIT_OBJECT_0 : win::WAIT_TIMEOUT;
  }
  const bool infinite = dwMilliseconds == win::INFINITE;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(infinite ? 0 : dwMilliseconds);
  const bool poll = std::any_of(aObjects.begin(), aObjects.end(), [](auto& o) { return !o->SignalsLocally(); });

  std::unique_lock<std::mutex> lk(KernelLock());
  KernelWaiter waiter;
  for (auto& o : aObjects) o->FWaiters.push_back(&waiter);
  win::DWORD result = win::WAIT_TIMEOUT;
  for (;;) {
    if (bWaitAll) {
      if (std::all_of(aObjects.begin(), aObjects.end(), [](auto& o) { return o->SignalTest(false); })) {
        for (auto& o : aObjects) o->SignalTest(true);
        result = win::WAIT_OBJECT_0;
        break;
      }
    } else {
      bool got = false;
      for (std::size_t i = 0; i < aObjects.size() && !got; ++i) {
        if (aObjects[i]->SignalTest(true)) {
          result = win::WAIT_OBJECT_0 + static_cast<win::DWORD>(i);
          got = true;
        }
      }
      if (got) break;
    }
    Clock::time_point now = Clock::now();
    if (!infinite && now >= deadline) break;
    waiter.Woken = false;
    Clock::time_point until = infinite ? Clock::time_point::max() : deadline;
    if (poll) until = std::min(until, now + std::chrono::milliseconds(1));
    sim::TThreadBlocked blocked;
    if (until == Clock::time_point::max())
      waiter.Wake.wait(lk, [&] { return waiter.Woken; });
    else
      waiter.Wake.wait_until(lk, until, [&] { return waiter.Woken; });
  }
  for (auto& o : aObjects) {
    auto& ws = o->FWaiters;
    auto it = std::find(ws.begin(), ws.end(), &waiter);
    if (it != ws.end()) ws.erase(it);
  }
  return result;
}

}  // namespace sim
