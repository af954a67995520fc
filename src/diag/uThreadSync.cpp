#include "diag/uThreadSync.h"

#include <algorithm>
#include <string>
#include <thread>

#include "diag/uDebug.h"
#include "diag/uMisc.h"
#include "rtl/ModuleInit.h"

TLockController* LockController = nullptr;

namespace {

// The id of the calling thread, asked of the system once per thread: locks ask on every call.
// Constant-initialised: no guard on each read.
thread_local win::DWORD tThreadId = 0;
win::DWORD CurrentThreadId() {
  win::DWORD id = tThreadId;
  if (id == 0) id = tThreadId = win::GetCurrentThreadId();
  return id;
}

// The locks the calling thread holds, kept by the thread itself, so that it can tell whether it
// holds one without a look at the lock's lines, which its holders keep writing. A handful at a
// time; locks beyond that are counted, and then the lock itself is asked.
struct THeldLocks {
  static constexpr int kMax = 8;
  TLock* Locks[kMax];
  int Count;
  int Extra;  // held and not in Locks
};
thread_local THeldLocks tHeld{};

void HeldAdd(TLock* aLock) {
  if (tHeld.Count < THeldLocks::kMax)
    tHeld.Locks[tHeld.Count++] = aLock;
  else
    ++tHeld.Extra;
}

void HeldRemove(TLock* aLock) {
  for (int i = 0; i < tHeld.Count; ++i) {
    if (tHeld.Locks[i] == aLock) {
      tHeld.Locks[i] = tHeld.Locks[--tHeld.Count];
      return;
    }
  }
  if (tHeld.Extra > 0) --tHeld.Extra;
}

// Known: held or not; unknown (-1): ask the lock.
int HeldKnown(const TLock* aLock) {
  for (int i = 0; i < tHeld.Count; ++i)
    if (tHeld.Locks[i] == aLock) return 1;
  return tHeld.Extra > 0 ? -1 : 0;
}

Text IntText(long long v) { return T(std::to_string(v)); }

// The controller's services exist only between its OnCreate and OnDestroy.
TLockController* Controller() {
  TLockController* c = LockController;
  return c;
}

struct TLockControllerStartUp {
  TLockControllerStartUp() { UnitsAdd<TLockController>(u"uThreadSync", &LockController, {}); }
};
TLockControllerStartUp LockControllerStartUp ORV_UNIT_INIT(unitorder::kThreadSync);

}  // namespace

// ---- the controller ---------------------------------------------------------------------

// Holds the controller's own (re-entrant) lock for a scope.
class TLockController::TGuard {
 public:
  explicit TGuard(TLockController* aController) : FLock(aController->Lock.get()) {
    if (FLock) FLock->Enter();
  }
  ~TGuard() {
    if (FLock) FLock->Leave();
  }
  TGuard(const TGuard&) = delete;
  TGuard& operator=(const TGuard&) = delete;
  bool Active() const { return FLock != nullptr; }

 private:
  TCriticalSection* FLock;
};

void TLockController::OnCreate() {
  Lock = std::make_unique<TCriticalSection>();
  TakenLocksList.clear();
  LocksHierarchy.clear();
  LockPairs.clear();
  LockOperationsLastId = 0;
}

void TLockController::OnDestroy() {
  {
    TGuard g(this);
    // Locks that outlive the controller keep working, unchecked and unlogged.
    for (TLock* l : TakenLocksList) {
      l->FInHierarchy.store(false, std::memory_order_release);
      l->FRegistered.store(false, std::memory_order_release);
    }
    TakenLocksList.clear();
    LocksHierarchy.clear();
    LockPairs.clear();
  }
  Lock.reset();
}

int TLockController::LockPosition(TLock* aLock) {
  auto it = std::find(LocksHierarchy.begin(), LocksHierarchy.end(), aLock);
  return it == LocksHierarchy.end() ? 0 : static_cast<int>(it - LocksHierarchy.begin()) + 1;
}

Text TLockController::LockDescribe(TLock* aLock) {
  TGuard g(this);
  Text name = aLock && !aLock->Name.empty() ? aLock->Name : Text(u"[undefined]");
  return u"Name = " + name + u", Index in Hierarchy = #" + IntText(LockPosition(aLock));
}

void TLockController::LockControllerError(const Text& aText) {
  Text message = u"Lock Controller: [Error] " + aText;
  DebugLog(message);
  throw Exception(message);
}

TLockPair* TLockController::LockPairFind(TLock* aFirst, TLock* aSecond) {
  for (auto& p : LockPairs)
    if (p->FirstLock == aFirst && p->SecondLock == aSecond) return p.get();
  return nullptr;
}

void TLockController::LockRegister(TLock* aLock) {
  TGuard g(this);
  if (!g.Active()) return;
  TakenLocksList.push_back(aLock);
  aLock->FRegistered.store(true, std::memory_order_release);
}

void TLockController::LockUnregister(TLock* aLock) {
  TGuard g(this);
  if (!g.Active()) return;
  // Nothing may keep pointing at a destroyed lock: a later lock at the same address would
  // inherit its place and its pairs.
  aLock->FRegistered.store(false, std::memory_order_release);
  std::erase(TakenLocksList, aLock);
  std::erase(LocksHierarchy, aLock);
  std::erase_if(LockPairs, [&](const auto& p) { return p->FirstLock == aLock || p->SecondLock == aLock; });
}

void TLockController::LockAcquireCheck(TLock* aLock, win::DWORD aThreadId) {
  if (aLock->FOwner.load(std::memory_order_relaxed) == aThreadId) return;  // re-entry
  TGuard g(this);
  if (!g.Active()) return;
  int newPos = LockPosition(aLock);
  if (newPos == 0) return;
  for (TLock* held : TakenLocksList) {
    if (held == aLock || held->FOwner.load(std::memory_order_relaxed) != aThreadId) continue;
    if (LockPosition(held) > newPos)
      LockControllerError(u"Attempt to acquire a lock violating lock taking sequence. Taken lock: " +
                          LockDescribe(held) + u". New lock: " + LockDescribe(aLock) + u".");
    if (LockPairFind(aLock, held))
      LockControllerError(u"Attempt to acquire a lock violating previous lock taking pattern. Taken lock: " +
                          LockDescribe(held) + u". New lock: " + LockDescribe(aLock) + u".");
    if (!LockPairFind(held, aLock)) LockPairs.push_back(std::make_unique<TLockPair>(TLockPair{held, aLock}));
  }
}

std::int64_t TLockController::LockOperationIdNext() {
  return LockOperationsLastId.fetch_add(1, std::memory_order_relaxed) + 1;
}

// Called by the owner, holding aLock.
void TLockController::LockOperationAdd(TLock* aLock, std::int64_t aId) {
  int depth = aLock->FLogDepth.load(std::memory_order_relaxed);
  // Odd while being changed. Only the owner writes the log, so plain stores do; the writes
  // below are release stores, so that a reader that sees one of them sees the odd value too.
  const std::uint32_t seq = aLock->FLogSeq.load(std::memory_order_relaxed);
  aLock->FLogSeq.store(seq + 1, std::memory_order_relaxed);
  if (depth < TLock::kLogInline) {
    aLock->FLogIds[depth].store(aId, std::memory_order_release);
  } else {
    TGuard g(this);
    aLock->FLogOverflow.push_back(aId);
  }
  aLock->FLogDepth.store(depth + 1, std::memory_order_release);
  aLock->FLogSeq.store(seq + 2, std::memory_order_release);
}

// Called by the owner, holding aLock: its newest entry goes.
void TLockController::LockOperationRemove(TLock* aLock, win::DWORD aThreadId) {
  int depth = aLock->FLogDepth.load(std::memory_order_relaxed);
  if (depth == 0) return;
  const std::uint32_t seq = aLock->FLogSeq.load(std::memory_order_relaxed);
  aLock->FLogSeq.store(seq + 1, std::memory_order_relaxed);
  if (depth > TLock::kLogInline) {
    TGuard g(this);
    if (!aLock->FLogOverflow.empty()) aLock->FLogOverflow.pop_back();
  }
  aLock->FLogDepth.store(depth - 1, std::memory_order_release);
  aLock->FLogSeq.store(seq + 2, std::memory_order_release);
}

void TLockController::SetLockSequence(TLock* aFirstLock, TLock* aSecondLock) {
  TGuard g(this);
  if (!aFirstLock || !aSecondLock) LockControllerError(u"A lock sequence needs two locks.");
  if (aFirstLock == aSecondLock)
    LockControllerError(u"A lock cannot be taken before itself. Lock: " + LockDescribe(aFirstLock) + u".");
  int first = LockPosition(aFirstLock);
  int second = LockPosition(aSecondLock);
  if (second == 0) {
    if (first == 0) {
      LocksHierarchy.push_back(aFirstLock);
      LocksHierarchy.push_back(aSecondLock);
    } else {
      LocksHierarchy.insert(LocksHierarchy.begin() + first, aSecondLock);
    }
  } else if (first > second) {
    LockControllerError(u"New requirement conflicts with existing lock hierarchy. First lock: " +
                        LockDescribe(aFirstLock) + u". Second lock index: " + LockDescribe(aSecondLock) + u".");
  } else if (first == 0) {
    // The first lock takes its place right before the second, so that the order declared
    // is also enforced.
    LocksHierarchy.insert(LocksHierarchy.begin() + (second - 1), aFirstLock);
  }
  aFirstLock->FInHierarchy.store(true, std::memory_order_release);
  aSecondLock->FInHierarchy.store(true, std::memory_order_release);
}

Text TLockController::LocksHierarchyAsString() {
  TGuard g(this);
  Text s = u" - Locks Hierarchy (total: " + IntText(static_cast<long long>(LocksHierarchy.size())) + u") -\r\n";
  for (TLock* l : LocksHierarchy) s += LockDescribe(l) + u"\r\n";
  return s;
}

std::int64_t TLockController::LockOperationsLastIdGet() { return LockOperationsLastId.load(std::memory_order_relaxed); }

void TLockController::ReleaseAllForThread(win::DWORD aThreadId, std::int64_t aLockOperationAfterWhichToReleaseLocks) {
  TGuard g(this);
  // Only the owner can leave a critical section; another thread's release would fail halfway.
  if (aThreadId != CurrentThreadId())
    LockControllerError(u"Locks of thread " + IntText(aThreadId) + u" can be released only by that thread.");
  std::vector<TLockOperation> ops = LockOperationsGet();
  for (auto it = ops.rbegin(); it != ops.rend(); ++it) {
    if (it->Id <= aLockOperationAfterWhichToReleaseLocks) break;
    if (it->ThreadId == aThreadId) it->Lock->Release();  // its newest entry, which this is
  }
}

std::vector<TLockOperation> TLockController::LockOperationsGet() {
  TGuard g(this);
  std::vector<TLockOperation> ops;
  for (TLock* l : TakenLocksList) {
    // The owner, the depth and the entries are read as one: a lock whose log changed while
    // it was read (it changed hands, or its owner took or released it) is read again, and
    // left out when it keeps changing. The owner is set before the first entry is written and
    // cleared after the last one went, so a stable log with entries has an owner.
    std::vector<TLockOperation> mine;
    for (int attempt = 0; attempt < 64; ++attempt) {
      mine.clear();
      const std::uint32_t before = l->FLogSeq.load(std::memory_order_acquire);
      if (before & 1) continue;
      // Acquire loads: the second look at the sequence cannot move before them.
      const int depth = l->FLogDepth.load(std::memory_order_acquire);
      const win::DWORD owner = l->FOwner.load(std::memory_order_acquire);
      for (int i = 0; i < depth && i < TLock::kLogInline; ++i)
        mine.push_back({l->FLogIds[i].load(std::memory_order_acquire), l, owner});
      if (depth > TLock::kLogInline)
        for (std::int64_t id : l->FLogOverflow) mine.push_back({id, l, owner});
      if (l->FLogSeq.load(std::memory_order_acquire) != before) continue;
      if (depth > 0 && owner == 0) continue;
      ops.insert(ops.end(), mine.begin(), mine.end());
      break;
    }
  }
  std::sort(ops.begin(), ops.end(), [](const TLockOperation& a, const TLockOperation& b) { return a.Id < b.Id; });
  return ops;
}

std::vector<TLock*> TLockController::LocksHierarchyGet() {
  TGuard g(this);
  return LocksHierarchy;
}

// ---- TLock ------------------------------------------------------------------------------

TLock::TLock(const Text& aName) : Name(aName) {
  if (TLockController* c = Controller()) c->LockRegister(this);
}

TLock::~TLock() {
  // A lock destroyed while this thread holds it (a fault of its own) must not stay on the
  // thread's list, where a later lock at the same address would be taken for held.
  if (FOwner.load(std::memory_order_relaxed) == CurrentThreadId()) HeldRemove(this);
  if (TLockController* c = Controller()) c->LockUnregister(this);
}

void TLock::Acquire() {
  win::DWORD me = CurrentThreadId();
  TLockController* c = Controller();
  if (c && FInHierarchy.load(std::memory_order_acquire)) c->LockAcquireCheck(this, me);
  // The log's id is taken before the section: the counter is shared by every thread, and
  // fetching it while holding the section would keep the section held for that much longer.
  // Ids still grow with each thread's acquisitions, which is what the release after a failed
  // job goes by.
  const bool logged = !IsHighPerformanceLock && c && FRegistered.load(std::memory_order_relaxed);
  const std::int64_t id = logged ? c->LockOperationIdNext() : 0;
  // Listed as waiting only while really blocked; a failed check leaves no entry behind. A lock
  // held for a few instructions is waited for a moment first, without the list: two updates
  // of a list every thread shares would cost more than the wait.
  if (!win::TryEnterCriticalSection(&FSection) && !SpinEnter()) {
    WaitingThreadListLock.Enter();
    WaitingThreadList.push_back(me);
    WaitingThreadListLock.Leave();
    win::EnterCriticalSection(&FSection);
    WaitingThreadListLock.Enter();
    auto it = std::find(WaitingThreadList.begin(), WaitingThreadList.end(), me);
    if (it != WaitingThreadList.end()) WaitingThreadList.erase(it);
    WaitingThreadListLock.Leave();
  }
  const int taken = TakenCount.load(std::memory_order_relaxed) + 1;
  if (taken == 1) {
    FOwner.store(me, std::memory_order_relaxed);
    HeldAdd(this);
  }
  TakenCount.store(taken, std::memory_order_relaxed);
  if (logged) c->LockOperationAdd(this, id);
}

void TLock::Release() {
  win::DWORD me = CurrentThreadId();
  // A thread that does not hold the lock must not count it down or leave it for the owner.
  const int taken = TakenCount.load(std::memory_order_relaxed);
  if (taken == 0 || FOwner.load(std::memory_order_relaxed) != me) throw Exception(u"Releasing a lock, which is not acquired");
  if (!IsHighPerformanceLock && FRegistered.load(std::memory_order_relaxed))
    if (TLockController* c = Controller()) c->LockOperationRemove(this, me);
  TakenCount.store(taken - 1, std::memory_order_relaxed);
  if (taken == 1) {
    FOwner.store(0, std::memory_order_release);
    HeldRemove(this);
  }
  win::LeaveCriticalSection(&FSection);
}

bool TLock::SpinEnter() {
  static const int kSpins = std::thread::hardware_concurrency() > 1 ? 100 : 0;
  for (int i = 0; i < kSpins; ++i) {
    CpuPause();
    if (OwnerGet() == 0 && win::TryEnterCriticalSection(&FSection)) return true;
  }
  return false;
}

bool TLock::TryEnter() {
  if (!win::TryEnterCriticalSection(&FSection)) return false;
  try {
    Acquire();  // immediate: the thread holds the section now
  } catch (...) {
    win::LeaveCriticalSection(&FSection);
    throw;
  }
  win::LeaveCriticalSection(&FSection);
  return true;
}

bool TLock::TempUnLockAll() {
  // Only the owner finds itself as the owner: another thread's holding is not touched.
  if (!IsTakenByCurrentThread()) return false;
  int n = TakenCountGet();
  if (!TempUnlocks) TempUnlocks = std::make_unique<std::vector<TLockTakenCountPerThread>>();
  TempUnlocks->push_back({CurrentThreadId(), n});
  for (int i = 0; i < n; ++i) Release();
  return true;
}

void TLock::TempReLockAll() {
  Acquire();
  int n = 0;
  if (TempUnlocks) {
    win::DWORD me = CurrentThreadId();
    auto it = std::find_if(TempUnlocks->begin(), TempUnlocks->end(), [&](auto& r) { return r.ThreadId == me; });
    if (it != TempUnlocks->end()) {
      n = it->TakenCount;
      TempUnlocks->erase(it);
    }
  }
  if (n <= 0) {
    Release();
    return;
  }
  for (int i = 1; i < n; ++i) Acquire();
}

// The thread's own list answers; only the holder writes its id into FOwner, so a match there
// answers too.
bool TLock::IsTakenByCurrentThread() {
  const int known = HeldKnown(this);
  if (known >= 0) return known == 1;
  return FOwner.load(std::memory_order_relaxed) == CurrentThreadId();
}

std::vector<win::DWORD> TLock::WaitingThreadsGet() {
  WaitingThreadListLock.Enter();
  std::vector<win::DWORD> r = WaitingThreadList;
  WaitingThreadListLock.Leave();
  return r;
}

// ---- TEvent -----------------------------------------------------------------------------

TEvent::TEvent(const Text& aName) : TEventObject(true, false, aName) { Reference(); }

TEvent::~TEvent() {
  int count;
  Lock.Acquire();
  count = ReferenceCount;
  Lock.Release();
  Verify(count == 1);
}

void TEvent::Reference() {
  Lock.Acquire();
  ++ReferenceCount;
  Lock.Release();
}

void TEvent::DeReference() {
  Lock.Acquire();
  int was = ReferenceCount;
  if (was > 1) --ReferenceCount;
  Lock.Release();
  if (was == 1) delete this;
}

int TEvent::ReferenceCountGet() {
  Lock.Acquire();
  int r = ReferenceCount;
  Lock.Release();
  return r;
}

bool TEvent::Wait(win::DWORD aTimeout) { return WaitFor(aTimeout) == TWaitResult::wrSignaled; }
