// Locks, events and the lock controller.
//
// TLock is a named, re-entrant lock. Every first acquisition of a lock that has a place in the
// declared order (SetLockSequence) is checked by the lock controller against that order and
// against the orders seen so far, so that an order that could deadlock raises at once instead
// of hanging later. Every acquisition (unless IsHighPerformanceLock) is logged until its
// release, so that a job runner can release what a failed job left held
// (ReleaseAllForThread). TEvent is a manual-reset event shared by reference counting.
//
// The log of acquisitions not yet released is kept with the locks: every entry of a lock
// belongs to the thread that holds it and goes LIFO, so each lock keeps the ids of its own
// holdings, written under the lock itself. Logging therefore costs one atomic increment of
// the global id instead of two passes over the controller's lock; LockOperationsGet puts
// the entries of all locks together, oldest first.
//
// The controller is a service (TUnit, module "uThreadSync", no needs), created first and
// destroyed last; its lock is the innermost lock of the system.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "diag/uUnits.h"
#include "rtl/SyncObjs.h"

class TLock;

// A hint to the processor that this thread spins, waiting for another.
inline void CpuPause() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

struct TLockTakenCountPerThread {
  win::DWORD ThreadId = 0;
  int TakenCount = 0;
};

// Some thread took SecondLock while holding FirstLock.
struct TLockPair {
  TLock* FirstLock = nullptr;
  TLock* SecondLock = nullptr;
};

// One logged acquisition.
struct TLockOperation {
  std::int64_t Id = 0;
  TLock* Lock = nullptr;
  win::DWORD ThreadId = 0;
};

class TLock : public TCriticalSection {
 public:
  explicit TLock(const Text& aName = Text());
  ~TLock() override;

  void Acquire() override;
  // Raises "Releasing a lock, which is not acquired" when the calling thread does not hold it.
  void Release() override;
  // Acquires without waiting; false when another thread holds the lock.
  bool TryEnter();
  // Gives up every holding of the calling thread for a while (around a wait); true when
  // there were any. TempReLockAll takes them all back.
  bool TempUnLockAll();
  void TempReLockAll();
  bool IsTakenByCurrentThread();

  // Holdings of the owning thread; 0 when free.
  int TakenCountGet() const { return TakenCount.load(std::memory_order_relaxed); }
  // The threads blocked in Acquire on this lock now.
  std::vector<win::DWORD> WaitingThreadsGet();

  Text Name;
  // Acquisitions are not logged (the order check still runs).
  bool IsHighPerformanceLock = false;

 private:
  friend class TLockController;
  // Enters the section if it comes free within a short spin.
  bool SpinEnter();
  // Read on every acquisition, seldom written: apart from what the owner writes.
  // Has a place in LocksHierarchy: the check is skipped at once for locks that have none.
  std::atomic<bool> FInHierarchy{false};
  // In the controller's TakenLocksList: only such locks are logged.
  std::atomic<bool> FRegistered{false};
  // Written by the owner on every acquisition and release, one line of their own, apart from
  // the section's word that waiting threads poll and from the fields the acquirer reads.
  alignas(64) std::atomic<int> TakenCount{0};  // written by the owner only, read by anyone
  // The holder's thread id while TakenCount > 0, else 0: set before the first log entry and
  // cleared after the last one went.
  std::atomic<win::DWORD> FOwner{0};
  // The log ids of the owner's logged holdings, oldest first: FLogDepth of them, the first
  // kLogInline here, deeper ones in FLogOverflow (under the controller's lock). Written by
  // the owner only.
  std::atomic<int> FLogDepth{0};
  // Even while the log is still, odd while its owner changes it: readers check it before and
  // after reading the log.
  std::atomic<std::uint32_t> FLogSeq{0};
  static constexpr int kLogInline = 6;
  std::atomic<std::int64_t> FLogIds[kLogInline] = {};
  // Written only while threads wait for the lock, or around waits.
  alignas(64) std::vector<win::DWORD> WaitingThreadList;
  TCriticalSection WaitingThreadListLock;
  std::unique_ptr<std::vector<TLockTakenCountPerThread>> TempUnlocks;  // under this lock
  std::vector<std::int64_t> FLogOverflow;
};


class TLockController : public TUnit {
 public:
  void OnCreate() override;
  void OnDestroy() override;

  // aFirstLock is taken before aSecondLock.
  void SetLockSequence(TLock* aFirstLock, TLock* aSecondLock);
  // " - Locks Hierarchy (total: N) -" and one line per lock, each ended by CR LF.
  Text LocksHierarchyAsString();
  std::int64_t LockOperationsLastIdGet();
  // Releases, newest first, every lock that aThreadId acquired after the logged acquisition
  // aLockOperationAfterWhichToReleaseLocks and still holds. Call it on aThreadId itself.
  void ReleaseAllForThread(win::DWORD aThreadId, std::int64_t aLockOperationAfterWhichToReleaseLocks);

  // The acquisitions not yet released, oldest first (a snapshot: other threads go on).
  std::vector<TLockOperation> LockOperationsGet();
  int LockOperationsCountGet() { return static_cast<int>(LockOperationsGet().size()); }
  // The declared order, copied under the controller's lock.
  std::vector<TLock*> LocksHierarchyGet();
  // "Name = " + name (or "[undefined]") + ", Index in Hierarchy = #" + place from 1 (0: none).
  Text LockDescribe(TLock* aLock);

  // Every existing TLock, in creation order (held or not).
  std::vector<TLock*> TakenLocksList;
  // The declared order: a lock at a lower position is taken before one at a higher.
  std::vector<TLock*> LocksHierarchy;
  std::vector<std::unique_ptr<TLockPair>> LockPairs;

 private:
  friend class TLock;
  class TGuard;

  void LockAcquireCheck(TLock* aLock, win::DWORD aThreadId);
  // The id of the next logged acquisition.
  std::int64_t LockOperationIdNext();
  void LockOperationAdd(TLock* aLock, std::int64_t aId);
  void LockOperationRemove(TLock* aLock, win::DWORD aThreadId);
  void LockRegister(TLock* aLock);
  void LockUnregister(TLock* aLock);
  TLockPair* LockPairFind(TLock* aFirst, TLock* aSecond);
  [[noreturn]] void LockControllerError(const Text& aText);
  int LockPosition(TLock* aLock);  // from 1; 0 without a place

  std::unique_ptr<TCriticalSection> Lock;
  // Id of the newest logged acquisition; the first is 1.
  std::atomic<std::int64_t> LockOperationsLastId{0};
};

extern TLockController* LockController;

// A manual-reset event, created not signalled, shared by reference counting: created with
// one reference; each further owner calls Reference, every owner DeReference when done; the
// call that finds the count at 1 destroys the event. Make it with new.
class TEvent : public TEventObject {
 public:
  TEvent() : TEvent(Text()) {}
  // A name shares the kernel event between processes.
  explicit TEvent(const Text& aName);
  // A problem report unless exactly one reference is left; the event goes all the same.
  ~TEvent() override;

  static TEvent* Create() { return new TEvent(); }
  static TEvent* CreateGlobal(const Text& aName) { return new TEvent(aName); }

  void Reference();
  void DeReference();
  int ReferenceCountGet();

  // True when signalled within aTimeout ms (INFINITE waits without limit).
  bool Wait(win::DWORD aTimeout);
  bool IsSet() { return Wait(0); }
  bool IsNotSet() { return !IsSet(); }

  TLock Lock;

 private:
  int ReferenceCount = 0;  // under Lock
};
