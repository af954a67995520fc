#include "diag/uJobPool.h"

#include <cmath>

#include <algorithm>
#include <chrono>
#include <climits>
#include <mutex>

#include "crashreport/Callstack.h"
#include "diag/uDebug.h"
#include "diag/uMisc.h"
#include "platform/win32api.h"
#include "ranges/uRanges.h"
#include "rtl/ModuleInit.h"
#include "ui/Application.h"
#include "winsys/uProcesses.h"

TJobPool* JobPool = nullptr;
TJobHandler* JobHandlerMain = nullptr;
TJobHandler* JobHandlerAsync = nullptr;
TJobExceptionHandOff JobExceptionHandOff = nullptr;
TJobPoolNowFn JobPoolNowFn = nullptr;

namespace {

struct TJobPoolStartUp {
  TJobPoolStartUp() { UnitsAdd<TJobPool>(u"uJobPool", &JobPool, {u"uThreadSync"}); }
};
TJobPoolStartUp JobPoolStartUp ORV_UNIT_INIT(unitorder::kJobPool);

// Holds the pool lock for a scope, also when an alert raises. A thread that holds it already
// goes on with the holding it has: the pool's operations call each other, and each nested
// acquisition would be one more entry in the lock log for nothing.
class TPoolLock {
 public:
  explicit TPoolLock(TJobPool* aPool) : FPool(aPool->LockGet()->IsTakenByCurrentThread() ? nullptr : aPool) {
    if (FPool) FPool->Lock();
  }
  ~TPoolLock() {
    if (FPool) FPool->UnLock();
  }
  TPoolLock(const TPoolLock&) = delete;
  TPoolLock& operator=(const TPoolLock&) = delete;

 private:
  TJobPool* FPool;
};

// Asks for the lines of an object about to be written (with the pool lock held) while the
// lock is still being waited for or while other lines are on their way: the misses overlap
// instead of lengthening the holding one after the other. Only a hint: no access is made.
template <class T>
void PrefetchForWrite(const T* aObject, std::size_t aBytes = sizeof(T)) {
  const char* p = reinterpret_cast<const char*>(aObject);
  for (std::size_t at = 0; at < aBytes; at += 64) __builtin_prefetch(p + at, 1);
}

constexpr double kMsPerDay = 86400000.0;
constexpr win::UINT_PTR kMainTimerId = 1;
constexpr win::DWORD kNoJobKnown = 0xFFFFFFFF;

std::int64_t FileTimeToInt64(const win::FILETIME& aTime) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(aTime.dwHighDateTime) << 32) | aTime.dwLowDateTime);
}

// The calling thread's kernel and user times, 100-ns units.
void ThreadTimesGet(std::int64_t& aKernel, std::int64_t& aUser) {
  win::FILETIME creation{}, exitTime{}, kernel{}, user{};
  if (!win::GetThreadTimes(win::GetCurrentThread(), &creation, &exitTime, &kernel, &user)) return;
  aKernel = FileTimeToInt64(kernel);
  aUser = FileTimeToInt64(user);
}
// 1970-01-01 as a date-time (days since 1899-12-30).
}  // namespace

TDateTime JobPoolNow() { return JobPoolNowFn ? JobPoolNowFn() : Now(); }

// ---- TJobEvent -------------------------------------------------------------------------------

TJobEvent::TJobEvent(TEvent* aEvent, TJobEventType aEventType) : Event(aEvent), EventType(aEventType) {
  Event->Reference();
}

TJobEvent::~TJobEvent() { Event->DeReference(); }

// ---- TJob memory -----------------------------------------------------------------------------

namespace {

// Freed job blocks, kept for the next jobs: each thread keeps up to two batches of its own,
// and hands a full batch to the shared stock, where a thread without blocks takes a batch
// from. The shared stock's lock is taken once per batch, not once per job. Builds with the
// address sanitizer leave it out, so that a job used after it was freed is still caught, and
// so do Windows builds: the MinGW runtime's destructors of thread-local objects cannot be
// relied on at a thread's end (the 32-bit build corrupted its heap there).
#if defined(__SANITIZE_ADDRESS__) || defined(_WIN32)
constexpr bool kJobRecycling = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kJobRecycling = false;
#else
constexpr bool kJobRecycling = true;
#endif
#else
constexpr bool kJobRecycling = true;
#endif

class TJobBlocks {
 public:
  static constexpr std::size_t kBatch = 64;
  static constexpr std::size_t kStockMax = 64;  // batches kept in the shared stock

  static TJobBlocks& Shared() {
    static TJobBlocks* shared = new TJobBlocks;  // never destroyed: threads may end after exit
    return *shared;
  }

  // A batch for a thread that has none; empty when the stock has none either.
  std::vector<void*> Take() {
    std::lock_guard<std::mutex> g(FLock);
    if (FStock.empty()) return {};
    std::vector<void*> r = std::move(FStock.back());
    FStock.pop_back();
    return r;
  }
  void Give(std::vector<void*> aBatch) {
    {
      std::lock_guard<std::mutex> g(FLock);
      if (FStock.size() < kStockMax) {
        FStock.push_back(std::move(aBatch));
        return;
      }
    }
    for (void* b : aBatch) ::operator delete(b);
  }

 private:
  std::mutex FLock;
  std::vector<std::vector<void*>> FStock;
};

// Set when the calling thread's blocks went (its end): jobs freed later in its end use the
// allocator directly.
thread_local bool tJobBlocksGone = false;

// The calling thread's blocks; given back to the stock when the thread ends.
struct TThreadJobBlocks {
  std::vector<void*> Free;
  ~TThreadJobBlocks() {
    tJobBlocksGone = true;
    if (!Free.empty()) TJobBlocks::Shared().Give(std::move(Free));
  }
};

// None once the thread's blocks went.
std::vector<void*>* ThreadJobBlocks() {
  if (tJobBlocksGone) return nullptr;
  thread_local TThreadJobBlocks tBlocks;
  return &tBlocks.Free;
}

}  // namespace

void* TJob::operator new(std::size_t aSize) {
  std::vector<void*>* blocks = kJobRecycling && aSize == sizeof(TJob) ? ThreadJobBlocks() : nullptr;
  if (!blocks) return ::operator new(aSize);
  std::vector<void*>& free = *blocks;
  if (free.empty()) free = TJobBlocks::Shared().Take();
  if (free.empty()) return ::operator new(aSize);
  void* block = free.back();
  free.pop_back();
  return block;
}

void TJob::operator delete(void* aBlock, std::size_t aSize) noexcept {
  if (!aBlock) return;
  std::vector<void*>* blocks = kJobRecycling && aSize == sizeof(TJob) ? ThreadJobBlocks() : nullptr;
  if (!blocks) return ::operator delete(aBlock);
  std::vector<void*>& free = *blocks;
  try {
    free.reserve(2 * TJobBlocks::kBatch);
    free.push_back(aBlock);
    if (free.size() >= 2 * TJobBlocks::kBatch) {
      std::vector<void*> batch(free.end() - TJobBlocks::kBatch, free.end());
      free.resize(free.size() - TJobBlocks::kBatch);
      TJobBlocks::Shared().Give(std::move(batch));
    }
  } catch (...) {
    ::operator delete(aBlock);  // no memory for the bookkeeping: the block goes back at once
  }
}

// ---- TJob ------------------------------------------------------------------------------------

TJob::TJob(TJobPool* aPool) : FPool(aPool) {
  Id = std::atomic_ref<std::int64_t>(FPool->LastJobId).fetch_add(1, std::memory_order_relaxed) + 1;
}

TJob::~TJob() {
  // Nobody else can reach a job that is being destroyed, so what is left to signal is read
  // without the lock; most jobs have nothing.
  if (!Events && OnCompleted.IsEmpty()) return;
  TPoolLock lock(FPool);
  try {
    EventsCall(jetOnCompletion);
  } catch (const std::exception& e) {
    // OnCompleted failed; nothing can leave a destructor, so it goes where job failures go.
    if (JobExceptionHandOff) JobExceptionHandOff(e);
  }
  Events.reset();
}

Variant TJob::ParamGet(const Text& aKey) const { return Params.GetValueByKey(Variant(aKey)); }

void TJob::ParamSet(const Text& aKey, const Variant& aValue) { Params.SetKeyAndValue(Variant(aKey), aValue); }

bool TJob::IsRepetetive() const { return Params.HasKey(kJobRepeat); }

bool TJob::IsSetAndAborted() {
  TPoolLock lock(FPool);
  return Aborted;
}

bool TJob::IsSetAndAborted(TJob* aJob) { return aJob && aJob->IsSetAndAborted(); }

bool TJob::HasFnAndParams(const TJobFn& aJobFn, const TFlexArray& aParams, bool aParamsMatchAll) const {
  if (!(Fn == aJobFn)) return false;
  return aParamsMatchAll ? aParams.IsSameAs(Params) : aParams.IsSubsetOf(Params);
}

bool TJob::IsSameWorkAs(const TJob& aOther) const {
  // Named jobs all have an empty function: without the name, a unique job "A" would merge
  // into a queued job "B" of equal parameters and never run.
  return Fn == aOther.Fn && (!Fn.IsEmpty() || Name == aOther.Name);
}

void TJob::ReTryIn(std::int64_t aDelayInMs) { NextDelaySet(aDelayInMs); }

void TJob::NextDelaySet(std::int64_t aDelayInMs) { ParamSet(kJobNextDelay, Variant(aDelayInMs)); }

void TJob::NextDelaySkip() { NextDelaySet(0); }

TEvent* TJob::EventAdd(TJobEventType aEventType) {
  TEvent* event = TEvent::Create();
  TPoolLock lock(FPool);
  if (!Events) Events = std::make_unique<std::vector<std::unique_ptr<TJobEvent>>>();
  Events->push_back(std::make_unique<TJobEvent>(event, aEventType));
  // A waiter that comes late must not wait for an abort that already happened.
  if (aEventType == jetOnAborted && Aborted) event->SetEvent();
  return event;
}

TJobEvent* TJob::EventFind(TEvent* aEvent) {
  TPoolLock lock(FPool);
  if (!Events) return nullptr;
  for (const auto& e : *Events)
    if (e->Event == aEvent) return e.get();
  return nullptr;
}

void TJob::EventRemove(TEvent* aEvent) { AlertIfUsed(); }

void TJob::EventsCall(TJobEventType aEventType) {
  TPoolLock lock(FPool);
  if (Events) {
    for (std::size_t i = 0; i < Events->size();) {
      if ((*Events)[i]->EventType == aEventType) {
        (*Events)[i]->Event->SetEvent();
        Events->erase(Events->begin() + static_cast<std::ptrdiff_t>(i));
      } else {
        ++i;
      }
    }
  }
  if (aEventType == jetOnCompletion && !OnCompleted.IsEmpty()) {
    TJobFn fn = OnCompleted;
    OnCompleted = TJobFn();  // once only, also if fn queues or frees things
    fn(*this);
  }
}

bool TJob::Abort() {
  TPoolLock lock(FPool);
  Aborted = true;
  EventsCall(jetOnAborted);
  if (!Group) return false;
  std::unique_ptr<TJob> self = Group->JobExtract(this);
  if (!self) return false;  // running: the scheduler frees it after the run
  self.reset();
  return true;
}

void TJob::SetCorrectHandler() {
  TPoolLock lock(FPool);
  if (!Handler) return;
  TJobHandler* found = Fn.IsEmpty() ? Handler->HandlerByNameOrFn(Name, nullptr, jhFunction)
                                    : Handler->HandlerByNameOrFn(Name, &Fn, jhFunction);
  if (found) {
    Handler = found;
    Name = found->Name;
  } else if (Fn.IsEmpty()) {
    IsNotification = true;
  } else {
    Alert(u"Function handler not found for Job");
  }
}

void TJob::FnToCallPrepare() {
  TPoolLock lock(FPool);
  FnList.clear();
  if (!Verify(Handler != nullptr)) return;
  if (Handler->HandlerType == jhFunction) {
    FnList.push_back(TJobFnCallInfo{Handler->Fn, Handler});
    return;
  }
  Handler->ConstructFnList(*this);
  // An ancestor with a function takes the job over.
  for (TJobHandler* h = Handler->Parent; h; h = h->Parent) {
    if (!h->Fn.IsEmpty()) {
      FnList.assign(1, TJobFnCallInfo{h->Fn, h});
      break;
    }
  }
}

void TJob::ExecuteFns() {
  TJobPool* pool = FPool;
  if (!pool->OnBeforeJobExecute.IsEmpty()) pool->OnBeforeJobExecute(*this);
  // By index: a call may look at the list, and the entry is found again after it.
  for (std::size_t i = 0; i < FnList.size(); ++i) {
    TJobFn fn = FnList[i].Fn;
    if (fn.IsEmpty()) continue;  // a handler registered without a function has nothing to call
    std::int64_t lockOperation = LockController ? LockController->LockOperationsLastIdGet() : 0;
    win::DWORD tickStart = win::GetTickCount();
    std::int64_t kernelStart = 0, userStart = 0;
    win::ULONGLONG cyclesStart = 0;
    ThreadTimesGet(kernelStart, userStart);
    win::QueryThreadCycleTime(win::GetCurrentThread(), &cyclesStart);
    try {
      fn(*this);
    } catch (const std::exception& e) {
      // Locks the failed call left held would block everyone else for ever.
      if (LockController) LockController->ReleaseAllForThread(win::GetCurrentThreadId(), lockOperation);
      if (!pool->OnJobException.IsEmpty()) pool->OnJobException(*this, e);
      if (JobExceptionHandOff) JobExceptionHandOff(e);
    }
    win::DWORD tickEnd = win::GetTickCount();
    std::int64_t kernelEnd = 0, userEnd = 0;
    win::ULONGLONG cyclesEnd = 0;
    ThreadTimesGet(kernelEnd, userEnd);
    win::QueryThreadCycleTime(win::GetCurrentThread(), &cyclesEnd);
    if (i < FnList.size()) {
      TJobFnCallInfo& info = FnList[i];
      info.Cycles = static_cast<std::int64_t>(cyclesEnd - cyclesStart);
      info.TimeInUserMode = userEnd - userStart;
      info.TimeInKernel = kernelEnd - kernelStart;
      info.TimeTotal = static_cast<win::DWORD>(tickEnd - tickStart);
    }
  }
}

void TJob::PerformanceCalculateAverages() {
  TPoolLock lock(FPool);
  // One figure's minimum, maximum and total.
  auto add = [](std::int64_t& aMin, std::int64_t& aMax, std::int64_t& aTotal, std::int64_t aValue) {
    aMin = std::min(aMin, aValue);
    aMax = std::max(aMax, aValue);
    aTotal += aValue;
  };
  for (const TJobFnCallInfo& info : FnList) {
    TJobHandler* h = info.Handler;
    if (!h) continue;
    h->RunsCount += 1;
    add(h->TimeMin, h->TimeMax, h->TimeTotal, info.TimeTotal);
    add(h->KernelTimeMin, h->KernelTimeMax, h->KernelTimeTotal, info.TimeInKernel);
    add(h->UserModeTimeMin, h->UserModeTimeMax, h->UserModeTimeTotal, info.TimeInUserMode);
    add(h->CyclesMin, h->CyclesMax, h->CyclesTotal, info.Cycles);
    h->TimeAverageLast100 = (h->TimeAverageLast100 * 99 + static_cast<double>(info.TimeTotal)) / 100;
  }
}

Text TJob::ToString() const { return Name + u" (" + Params.AsStringForDisplay() + u")"; }

// ---- TJobGroup -------------------------------------------------------------------------------

TJobGroup::TJobGroup(TJobPool* aPool, const Text& aName) : Name(aName), FPool(aPool) {
  TPoolLock lock(FPool);
  FPool->Groups.push_back(this);
}

TJobGroup::~TJobGroup() {
  TPoolLock lock(FPool);
  bool used = FPool->HandlerInGroupExists(this);
  // The handlers must not keep a group that is gone: they fall back to their ancestors' group.
  if (used)
    for (TJobHandler* h : FPool->Handlers)
      if (h->Group == this) h->Group = nullptr;
  auto it = std::find(FPool->Groups.begin(), FPool->Groups.end(), this);
  if (it != FPool->Groups.end()) FPool->Groups.erase(it);
  Jobs.clear();
  try {
    AlertIf(used, u"Group " + Name + u" destroyed while a handler still uses it");
  } catch (const Exception&) {
    // A stop made of the alert cannot leave a destructor; the report is filed.
  }
}

void TJobGroup::Add(std::unique_ptr<TJob> aJob) {
  TPoolLock lock(FPool);
  Insert(std::move(aJob));
  FPool->NewJobAlert(this);
}

void TJobGroup::Insert(std::unique_ptr<TJob> aJob) {
  aJob->Group = this;
  TDateTime start = aJob->RunNotEarlierThan;
  // The queue is ordered (jobs to run at once, then delayed ones by start time), so the place
  // is found by halving: a long queue of jobs to run at once costs nothing to append to.
  auto before = [start](const std::unique_ptr<TJob>& j) {
    return !(j->RunNotEarlierThan != 0 && !(j->RunNotEarlierThan < start));
  };
  if (Jobs.empty() || before(Jobs.back()))
    Jobs.push_back(std::move(aJob));
  else
    Jobs.insert(std::partition_point(Jobs.begin(), Jobs.end(), before), std::move(aJob));
}

TJob* TJobGroup::JobInQueueByFn(const TJobFn& aJobFn, const TFlexArray& aParams, bool aParamsAllMustMatch) {
  TPoolLock lock(FPool);
  for (const auto& j : Jobs)
    if (j->HasFnAndParams(aJobFn, aParams, aParamsAllMustMatch)) return j.get();
  return nullptr;
}

TJob* TJobGroup::JobMergeByIds(TJob& aJob) {
  TPoolLock lock(FPool);
  for (const auto& j : Jobs) {
    if (!j->IsSameWorkAs(aJob) || !j->Params.IsSameAsExcept(aJob.Params, {Variant(kIdMin), Variant(kIdMax)}))
      continue;
    try {
      TRange queued = TRange::ByEnd(VariantToInt64(j->ParamGet(kIdMin)), VariantToInt64(j->ParamGet(kIdMax)));
      TRange added = TRange::ByEnd(VariantToInt64(aJob.ParamGet(kIdMin)), VariantToInt64(aJob.ParamGet(kIdMax)));
      if (!queued.IsValid() || !added.IsValid()) continue;
      if (!queued.IsIntersecting(added) && !queued.IsAdjacent(added)) continue;
      queued.Join(added);
      j->ParamSet(kIdMin, Variant(queued.Start()));
      j->ParamSet(kIdMax, Variant(queued.EndGet()));
      return j.get();
    } catch (const Exception&) {
      // Ids that are no numbers, or a range beyond 64 bits: such a job is not merged but
      // queued on its own.
      continue;
    }
  }
  return nullptr;
}

bool TJobGroup::HasJobsWaiting() {
  TPoolLock lock(FPool);
  return !Jobs.empty() && !(Jobs.front()->RunNotEarlierThan > JobPoolNow());
}

std::vector<TJob*> TJobGroup::JobsQueuedGet() {
  TPoolLock lock(FPool);
  std::vector<TJob*> r;
  r.reserve(Jobs.size());
  for (const auto& j : Jobs) r.push_back(j.get());
  return r;
}

std::unique_ptr<TJob> TJobGroup::JobExtract(TJob* aJob) {
  TPoolLock lock(FPool);
  for (auto it = Jobs.begin(); it != Jobs.end(); ++it) {
    if (it->get() == aJob) {
      std::unique_ptr<TJob> r = std::move(*it);
      Jobs.erase(it);
      return r;
    }
  }
  return nullptr;
}

// ---- TJobHandler -----------------------------------------------------------------------------

TJobHandler::TJobHandler(TJobPool* aPool, const Text& aName, TJobHandlerType aType, TJobFn aFn)
    : Name(aName), Fn(aFn), HandlerType(aType), FPool(aPool) {
  TPoolLock lock(FPool);
  FPool->Handlers.push_back(this);
}

TJobHandler::~TJobHandler() {
  TPoolLock lock(FPool);
  Children.clear();
  auto it = std::find(FPool->Handlers.begin(), FPool->Handlers.end(), this);
  if (it != FPool->Handlers.end()) FPool->Handlers.erase(it);
}

TJobHandler* TJobHandler::ChildAdd(const Text& aName, TJobHandlerType aType, TJobFn aFn) {
  auto child = std::make_unique<TJobHandler>(FPool, aName, aType, aFn);
  TJobHandler* r = child.get();
  TPoolLock lock(FPool);
  r->Parent = this;
  Children.push_back(std::move(child));
  return r;
}

TJobHandler* TJobHandler::AddGenericHandler(const Text& aName) { return ChildAdd(aName, jhGeneric, TJobFn()); }
TJobHandler* TJobHandler::AddGenericHandler(const Text& aName, TJobFn aFn) { return ChildAdd(aName, jhGeneric, aFn); }
TJobHandler* TJobHandler::AddNotificationHandler(const Text& aName, TJobFn aFn) {
  return ChildAdd(aName, jhNotification, aFn);
}
TJobHandler* TJobHandler::AddFunctionHandler(const Text& aName, TJobFn aFn) {
  return ChildAdd(aName, jhFunction, aFn);
}

void TJobHandler::GroupSet(const Text& aGroupName) {
  TJobGroup* group = FPool->GroupByName(aGroupName);
  TPoolLock lock(FPool);
  Group = group;
}

TJobGroup* TJobHandler::GroupDerived() {
  TPoolLock lock(FPool);
  for (TJobHandler* h = this; h; h = h->Parent)
    if (h->Group) return h->Group;
  Verify(false);
  return nullptr;
}

void TJobHandler::FnSet(TJobFn aJobFn) {
  TPoolLock lock(FPool);
  Fn = aJobFn;
}

TJobHandler* TJobHandler::HandlerFind(const Text& aName) { return HandlerByNameOrFn(aName, nullptr, jhFunction); }

TJobHandler* TJobHandler::HandlerFind(TJobFn aFn) { return HandlerByNameOrFn(Text(), &aFn, jhFunction); }

TJobHandler* TJobHandler::HandlerByNameOrFn(const Text& aName, TJobFn aFn, TJobHandlerType aHandlerType) {
  return HandlerByNameOrFn(aName, &aFn, aHandlerType);
}

TJobHandler* TJobHandler::HandlerByNameOrFn(const Text& aName, const TJobFn* aFn, TJobHandlerType aHandlerType) {
  TPoolLock lock(FPool);
  bool typeMatches = aHandlerType == jhAny || aHandlerType == HandlerType;
  if (typeMatches && (aFn ? *aFn == Fn : (!aName.empty() && aName == Name))) return this;
  for (const auto& child : Children)
    if (TJobHandler* found = child->HandlerByNameOrFn(aName, aFn, aHandlerType)) return found;
  return nullptr;
}

Text TJobHandler::HandlerTypeAsString() const {
  switch (HandlerType) {
    case jhGeneric:
      return u"Generic";
    case jhNotification:
      return u"Notification";
    case jhFunction:
      return u"Function";
    case jhAny:
      break;
  }
  return Text();
}

void TJobHandler::ConstructFnList(TJob& aJob) {
  TPoolLock lock(FPool);
  AlertIf(!aJob.IsNotification, u"Job " + aJob.Name +
                                    u" is building an Fn list (due to no handler), but is not marked as a Notification");
  ConstructFnListOf(aJob);
}

void TJobHandler::ConstructFnListOf(TJob& aJob) {
  if ((HandlerType == jhGeneric && !Fn.IsEmpty()) || (HandlerType == jhNotification && Name == aJob.Name))
    aJob.FnList.push_back(TJobFnCallInfo{Fn, this});
  for (const auto& child : Children) child->ConstructFnListOf(aJob);
}

bool TJobHandler::IsInSubtreeOf(const TJobHandler* aAncestor) const {
  for (const TJobHandler* h = this; h; h = h->Parent)
    if (h == aAncestor) return true;
  return false;
}

void TJobHandler::RemoveHandler(TJobFn aFn) {
  // An empty function would match the first handler without one, this handler perhaps.
  if (!Verify(!aFn.IsEmpty())) return;
  TPoolLock lock(FPool);
  TJobHandler* found = HandlerByNameOrFn(Text(), &aFn, jhAny);
  if (Verify(found != nullptr)) RemoveHandler(found);
}

void TJobHandler::RemoveHandler(TJobHandler* aHandler) {
  TPoolLock lock(FPool);
  // The root goes only with the pool.
  if (!Verify(aHandler != nullptr && aHandler->Parent != nullptr)) return;
  aHandler->IsRemoving = true;
  // Queued jobs that would run it: those of its function in its group, and every job queued
  // on it or below it (they would otherwise keep a handler that is gone).
  TJobGroup* derived = nullptr;  // no alert here: a handler without any group has no queued jobs
  for (TJobHandler* h = aHandler; h && !derived; h = h->Parent) derived = h->Group;
  for (TJobGroup* group : FPool->Groups) {
    for (std::size_t i = 0; i < group->Jobs.size();) {
      TJob* job = group->Jobs[i].get();
      bool byFn = !aHandler->Fn.IsEmpty() && job->Fn == aHandler->Fn && group == derived;
      bool byHandler = job->Handler && job->Handler->IsInSubtreeOf(aHandler);
      if ((byFn || byHandler) && job->Abort()) continue;  // freed: the next job stands at i now
      ++i;
    }
  }
  // Running jobs of its function are aborted and waited for. The pool lock is given up for
  // 10 ms at a time so that they can finish; the caller's own job is never waited for (it
  // would wait for itself).
  if (!aHandler->Fn.IsEmpty()) {
    const win::DWORD self = win::GetCurrentThreadId();
    for (;;) {
      bool running = false;
      for (TJobThread* t : FPool->Threads) {
        if (!t->Job || !(t->Job->Fn == aHandler->Fn) || t->ThreadId.load() == self) continue;
        t->Job->Abort();
        running = true;
      }
      if (!running) break;
      FPool->TempUnLock();
      win::Sleep(10);
      FPool->TempReLock();
    }
  }
  if (FPool == JobPool) {
    if (JobHandlerMain && JobHandlerMain->IsInSubtreeOf(aHandler)) JobHandlerMain = nullptr;
    if (JobHandlerAsync && JobHandlerAsync->IsInSubtreeOf(aHandler)) JobHandlerAsync = nullptr;
  }
  // Jobs handed over for it meanwhile meet IsRemoving and are dropped, before it goes.
  FPool->SubmittedQueue();
  auto& siblings = aHandler->Parent->Children;
  auto it = std::find_if(siblings.begin(), siblings.end(),
                         [aHandler](const std::unique_ptr<TJobHandler>& h) { return h.get() == aHandler; });
  if (it == siblings.end()) return;
  std::unique_ptr<TJobHandler> removed = std::move(*it);
  siblings.erase(it);
  removed.reset();
}

void TJobHandler::Remove() {
  TJobPool* pool = FPool;
  TPoolLock lock(pool);
  if (Verify(Parent != nullptr)) Parent->RemoveHandler(this);
}

void TJobHandler::RemoveHandlerAndGroup() {
  TJobPool* pool = FPool;
  TPoolLock lock(pool);
  TJobGroup* group = Group;
  Remove();  // this handler is gone now
  delete group;
}

std::int64_t TJobHandler::Add(TJobFn aFn) { return JobAdd(JobCreateAndAdd(Text(), TFlexArray(), aFn)); }

std::int64_t TJobHandler::Add(TJobFn aFn, const TFlexArray& aParams) {
  return JobAdd(JobCreateAndAdd(Text(), aParams, aFn));
}

std::int64_t TJobHandler::Add(const TArrayOfVariants& aKeysAndValues, TJobFn aFn) {
  return JobAdd(JobCreateAndAdd(Text(), FlexArrayFromPairs(aKeysAndValues), aFn));
}

std::int64_t TJobHandler::Add(const Text& aName) { return JobAdd(JobCreateAndAdd(aName, TFlexArray(), TJobFn())); }

std::int64_t TJobHandler::Add(const Text& aName, const TFlexArray& aParams) {
  return JobAdd(JobCreateAndAdd(aName, aParams, TJobFn()));
}

std::int64_t TJobHandler::Add(const Text& aName, const TArrayOfVariants& aKeysAndValues) {
  return JobAdd(JobCreateAndAdd(aName, FlexArrayFromPairs(aKeysAndValues), TJobFn()));
}

void TJobHandler::RunNow(const Text& aName, TJobFn aFn, const TFlexArray& aParams) {
  auto job = std::make_unique<TJob>(FPool);
  job->Name = aName;
  job->Params = aParams;
  job->Fn = aFn;
  job->NoLogging = aParams.HasKey(kJobNoLogging);
  Verify(job->Fn.IsEmpty() != job->Name.empty());
  job->Handler = this;
  job->SetCorrectHandler();
  if (!Verify(!job->Name.empty())) return;
  job->FnToCallPrepare();
  job->ExecuteFns();
}

void TJobHandler::RunNow(const TArrayOfVariants& aKeysAndValues, TJobFn aFn) {
  RunNow(Text(), aFn, FlexArrayFromPairs(aKeysAndValues));
}

void TJobHandler::RunNow(const Text& aName, const TArrayOfVariants& aKeysAndValues) {
  RunNow(aName, TJobFn(), FlexArrayFromPairs(aKeysAndValues));
}

std::unique_ptr<TJob> TJobHandler::JobCreateAndAdd(const Text& aName, const TFlexArray& aParams, TJobFn aFn) {
  auto job = std::make_unique<TJob>(FPool);
  job->Name = aName;
  job->Params = aParams;
  job->Fn = aFn;
  if (aParams.HasKey(kJobDelay)) {
    std::int64_t delay = VariantToInt64(aParams.GetValueByKey(Variant(kJobDelay)));
    if (delay > 0) job->RunNotEarlierThan = JobPoolNow() + static_cast<double>(delay) / kMsPerDay;
  }
  // The named group comes into existence; the job itself goes to its handler's group.
  if (aParams.HasKey(kJobGroup)) job->Group = FPool->GroupByName(VariantToText(aParams.GetValueByKey(Variant(kJobGroup))));
  job->NoLogging = aParams.HasKey(kJobNoLogging);
  // A job has a function or a name: not both, not neither.
  Verify(job->Fn.IsEmpty() != job->Name.empty());
  return job;
}

std::int64_t TJobHandler::JobAdd(std::unique_ptr<TJob> aJob) {
  // A job without parameters asks nothing of the queues (it merges with none and starts at
  // once): when another thread holds the lock it is handed over instead of waited for.
  TLock* poolLock = FPool->LockGet();
  if (aJob->Params.IsEmpty() && poolLock->TakenCountGet() > 0 && !poolLock->IsTakenByCurrentThread()) {
    aJob->Handler = this;
    const std::int64_t id = aJob->Id;
    FPool->SubmittedPush(std::move(aJob));
    return id;
  }
  TPoolLock lock(FPool);
  return JobAddLocked(std::move(aJob));
}

std::int64_t TJobHandler::JobAddLocked(std::unique_ptr<TJob> aJob) {
  TJob& job = *aJob;
  job.Handler = this;
  job.SetCorrectHandler();
  for (TJobHandler* h = job.Handler; h; h = h->Parent)
    if (h->IsRemoving) return 0;  // the job is freed
  job.Group = nullptr;  // a "JobGroup" group only came into existence: the handler's group holds the job
  for (TJobHandler* h = job.Handler; h && !job.Group; h = h->Parent) job.Group = h->Group;
  // No group anywhere above the handler: no queue can hold the job. Said once per thread at a
  // time: the report of the alert is itself queued as a job.
  if (!job.Group) {
    static thread_local bool tAlerting = false;
    if (!tAlerting) {
      struct TFlag {
        TFlag() { tAlerting = true; }
        ~TFlag() { tAlerting = false; }
      } flag;
      Alert(u"Job " + job.Name + u" dropped: its handler " + Name + u" has no group");
    }
    return 0;
  }
  TJobGroup& group = *job.Group;

  if (job.Params.HasKey(kJobMergeIdRange) && group.JobMergeByIds(job)) return 0;

  if (job.Params.HasKey(kJobUnique)) {
    bool newEarlier = job.Params.HasKey(kJobUniqueDelayMergeEarlier);
    bool newLater = job.Params.HasKey(kJobUniqueDelayMergeLater);
    if (job.RunNotEarlierThan > 0) Verify(newEarlier || newLater);
    TFlexArray identity = TJobPool::UniqueParams(job.Params);
    TJob* existing = nullptr;
    for (const auto& queued : group.Jobs) {
      if (queued->IsSameWorkAs(job) && queued->HasFnAndParams(job.Fn, identity, false)) {
        existing = queued.get();
        break;
      }
    }
    if (existing) {
      bool oldEarlier = existing->Params.HasKey(kJobUniqueDelayMergeEarlier);
      bool oldLater = existing->Params.HasKey(kJobUniqueDelayMergeLater);
      bool later = newLater || oldLater;
      AlertIf(newLater && oldEarlier, u"Unique job " + job.Name +
                                          u": JobUniqueDelayMergeLater meets a queued JobUniqueDelayMergeEarlier; Later wins");
      AlertIf(newEarlier && oldLater, u"Unique job " + job.Name +
                                          u": JobUniqueDelayMergeEarlier meets a queued JobUniqueDelayMergeLater; Later wins");
      TDateTime start = job.RunNotEarlierThan;
      if ((!later && start < existing->RunNotEarlierThan) || (later && start > existing->RunNotEarlierThan)) {
        std::unique_ptr<TJob> moved = group.JobExtract(existing);
        moved->RunNotEarlierThan = start;
        group.Add(std::move(moved));
      }
      return 0;
    }
  }

  std::int64_t id = job.Id;
  group.Add(std::move(aJob));
  return id;
}

// ---- TJobPool --------------------------------------------------------------------------------

void TJobPool::OnCreate() {
  FLock = std::make_unique<TLock>(u"JobPool");
  IdleThreadsMin = 1;
  IdleThreadsMax = 10;
  ThreadsMax = 100;
  ShutdownEvent = TEvent::Create();
  // The hidden window of the main thread: the requests to run main-thread jobs and timer 1.
  MessageWindowHandle = MessageWindowAllocate([this](win::UINT aMessage, win::ULONG_PTR aWParam, win::LONG_PTR aLParam) {
    return MessageWindowProc(aMessage, aWParam, aLParam);
  });
  RootHandler = new TJobHandler(this, u"ROOT", jhGeneric, TJobFn());

  TJobHandler* main = RootHandler->AddGenericHandler(u"Main");
  main->GroupSet(u"Main");
  main->Group->CustomProcessing = true;
  main->Group->SimultaneousJobsMax = 1;
  main->AddFunctionHandler(u"JobPool.SyncMain", TJobFn::Of<&TJobPool::SyncMainFn>(this));

  TJobHandler* async = RootHandler->AddGenericHandler(u"Async");
  async->GroupSet(u"Async");
  async->Group->SimultaneousJobsMax = INT32_MAX;

  JobHandlerMain = main;
  JobHandlerAsync = async;
  FMainGroup = main->Group;
}

void TJobPool::OnDestroy() {
  AlertIf(Active, u"Start was called earlier. Someone must also call JobPool.Shutdown, and no one did.");
  if (!FLock) return;  // OnCreate never ran
  // Worker threads left running would run on a pool that is gone: they are stopped all the same.
  if (Active || !Threads.empty()) Shutdown();
  // Jobs still handed over join their queues, and go with them below.
  Lock();
  UnLock();
  if (MessageWindowHandle) {
    win::KillTimer(MessageWindowHandle, kMainTimerId);
    MessageWindowFree(MessageWindowHandle);
    MessageWindowHandle = nullptr;
  }
  if (ShutdownEvent) {
    ShutdownEvent->DeReference();
    ShutdownEvent = nullptr;
  }
  if (JobHandlerMain && JobHandlerMain->PoolGet() == this) JobHandlerMain = nullptr;
  if (JobHandlerAsync && JobHandlerAsync->PoolGet() == this) JobHandlerAsync = nullptr;
  delete RootHandler;
  RootHandler = nullptr;
  while (!Groups.empty()) delete Groups.back();  // each leaves the list itself
  Handlers.clear();
  FLock.reset();
}

void TJobPool::Lock() {
  FLock->Acquire();
  if (FLock->TakenCountGet() == 1) SubmittedQueue();
}

void TJobPool::UnLock() {
  if (FLock->IsTakenByCurrentThread() && FLock->TakenCountGet() == 1)
    UnLockLast();
  else
    FLock->Release();  // raises for a thread that does not hold it
}

void TJobPool::UnLockLast() {
  SubmittedQueue();
  FLock->Release();
  SubmittedHandOn();
}

void TJobPool::TempUnLock() {
  SubmittedQueue();
  FLock->TempUnLockAll();
  SubmittedHandOn();
}

// Between a write and a read of two different variables on each side (an adder: the list,
// then the lock's count; a holder letting go: the count, then the list), so that at least one
// side sees the other's write.
void TJobPool::OrderPoint() {
#if defined(__SANITIZE_THREAD__)
  FOrder.fetch_add(1, std::memory_order_acq_rel);  // the same, in terms the race detector follows
#else
  std::atomic_thread_fence(std::memory_order_seq_cst);
#endif
}

// Called by a thread that holds no share of the lock. Either this thread queues the
// submissions, or a thread that holds the lock now will see them when it lets go.
void TJobPool::SubmittedHandOn() {
  for (;;) {
    OrderPoint();
    if (!FSubmitted.load(std::memory_order_acquire)) return;
    if (FLock->TakenCountGet() > 0) return;
    if (FLock->TryEnter()) {
      SubmittedQueue();
      FLock->Release();
      continue;  // more may have come meanwhile
    }
    // The lock is being taken or let go of this moment: look again after a moment (its holder
    // is between two instructions of its own, not waiting for anything).
    for (int i = 0; i < 32; ++i) CpuPause();
  }
}

void TJobPool::TempReLock() {
  FLock->TempReLockAll();
  SubmittedQueue();
}

void TJobPool::SubmittedPush(std::unique_ptr<TJob> aJob) {
  TJob* job = aJob.release();
  TJob* head = FSubmitted.load(std::memory_order_relaxed);
  do {
    job->FSubmittedNext = head;
  } while (!FSubmitted.compare_exchange_weak(head, job, std::memory_order_seq_cst, std::memory_order_relaxed));
  // Jobs were waiting already: whoever answers for them queues this one with them.
  if (head) return;
  SubmittedHandOn();
}

void TJobPool::SubmittedQueue() {
  if (!FSubmitted.load(std::memory_order_relaxed)) return;
  TJob* list = FSubmitted.exchange(nullptr, std::memory_order_seq_cst);
  TJob* ordered = nullptr;  // oldest first
  while (list) {
    TJob* next = list->FSubmittedNext;
    list->FSubmittedNext = ordered;
    ordered = list;
    list = next;
  }
  // A run of jobs for the same handler and work (the usual case) is placed as the first of
  // them was: the handler tree does not change while the list is queued under the lock. The
  // first one's queueing alerted its group's runner, which looks at the queues only once this
  // thread lets go of the lock, so the rest need no alert of their own.
  struct TPlaced {
    TJobHandler* From = nullptr;
    TJobFn Fn;
    Text Name;
    TJobHandler* Handler = nullptr;
    Text HandlerName;
    bool IsNotification = false;
    TJobGroup* Group = nullptr;
  } placed;
  while (ordered) {
    std::unique_ptr<TJob> job(ordered);
    ordered = ordered->FSubmittedNext;
    job->FSubmittedNext = nullptr;
    TJobHandler* from = job->Handler;
    if (placed.Group && from == placed.From && job->Fn == placed.Fn && job->Name == placed.Name) {
      job->Handler = placed.Handler;
      job->Name = placed.HandlerName;
      job->IsNotification = placed.IsNotification;
      placed.Group->Insert(std::move(job));
      continue;
    }
    TJob* raw = job.get();
    TPlaced next;
    next.From = from;
    next.Fn = raw->Fn;
    next.Name = raw->Name;
    try {
      if (from->JobAddLocked(std::move(job)) == 0) continue;
    } catch (const std::exception&) {
      // The job could not be queued (its handler has no group: the alert is filed); the
      // others still are.
      continue;
    }
    // Queued (and its group alerted): raw stands in its queue, which nobody else can touch now.
    next.Handler = raw->Handler;
    next.HandlerName = raw->Name;
    next.IsNotification = raw->IsNotification;
    next.Group = raw->Group;
    placed = std::move(next);
  }
}

void TJobPool::NewJobAlert(TJobGroup* aGroup) {
  TPoolLock lock(this);
  if (aGroup != FMainGroup) {
    if (WatchThread) WatchThread->Alert();
    return;
  }
  if (MainThreadProcessingScheduled) return;
  MainThreadProcessingScheduled = true;
  if (MessageWindowHandle) win::PostMessageW(MessageWindowHandle, win::WM_TIMER, 0, 0);
}

TJobGroup* TJobPool::GroupByName(const Text& aName) {
  TPoolLock lock(this);
  for (TJobGroup* g : Groups)
    if (TextSameIgnoreCase(g->Name, aName)) return g;
  return new TJobGroup(this, aName);  // appends itself to Groups
}

bool TJobPool::HandlerInGroupExists(TJobGroup* aGroup) {
  TPoolLock lock(this);
  return std::any_of(Handlers.begin(), Handlers.end(), [aGroup](TJobHandler* h) { return h->Group == aGroup; });
}

void TJobPool::RemoveHandlers(const void* aObject) {
  TPoolLock lock(this);
  for (;;) {
    auto it = std::find_if(Handlers.begin(), Handlers.end(), [aObject](TJobHandler* h) {
      return h->Parent && !h->Fn.IsEmpty() && h->Fn.Data == aObject;
    });
    if (it == Handlers.end()) break;
    (*it)->Remove();
  }
}

TJob* TJobPool::JobInQueueByFn(const TJobFn& aJobFn, const TFlexArray& aParams, bool aParamsAllMustMatch) {
  TPoolLock lock(this);
  for (TJobGroup* g : Groups)
    if (TJob* j = g->JobInQueueByFn(aJobFn, aParams, aParamsAllMustMatch)) return j;
  return nullptr;
}

TFlexArray TJobPool::UniqueParams(const TFlexArray& aParams) {
  TFlexArray r = aParams;
  for (const char16_t* key : {kJobDelay, kJobRepeat, kJobNoLogging, kJobNextDelay})
    while (r.HasKey(key)) r.Delete(Variant(key));
  return r;
}

void TJobPool::ApplyFnToAllJobs(TAllJobFn aFn, TFlexArray& aParams) {
  TPoolLock lock(this);
  bool bContinue = true;
  for (std::size_t g = 0; g < Groups.size(); ++g) {
    TJobGroup* group = Groups[g];
    for (std::size_t i = 0; i < group->Jobs.size();) {
      TJob* job = group->Jobs[i].get();
      aFn(*job, aParams, bContinue);
      if (!bContinue) return;
      // The function may have taken the job out of the queue.
      if (i < group->Jobs.size() && group->Jobs[i].get() == job) ++i;
    }
  }
  for (std::size_t t = 0; t < Threads.size(); ++t) {
    if (!Threads[t]->Job) continue;
    aFn(*Threads[t]->Job, aParams, bContinue);
    if (!bContinue) return;
  }
  if (JobInMainThread) aFn(*JobInMainThread, aParams, bContinue);
}

void TJobPool::FnJobById(TJob& aJob, TFlexArray& aParams, bool& bContinueApplying) {
  if (aJob.Id != VariantToInt64(aParams.GetValueByKey(Variant(u"Id")))) return;
  aParams.SetKeyAndValue(Variant(u"Result"), Variant(PointerToText(&aJob)));
  bContinueApplying = false;
}

void TJobPool::FnAbort(TJob& aJob, TFlexArray& aParams, bool& bContinueApplying) {
  if (aParams.HasKey(u"JobFn")) {
    TMethod fn = TextToMethod(VariantToText(aParams.GetValueByKey(Variant(u"JobFn"))));
    if (!MethodsEqual(fn, aJob.Fn.AsMethod())) return;
  }
  aJob.Abort();
}

TJob* TJobPool::JobById(std::int64_t aId) {
  if (!Verify(aId > 0)) return nullptr;
  TPoolLock lock(this);
  TFlexArray params;
  params.SetKeyAndValue(Variant(u"Id"), Variant(aId));
  ApplyFnToAllJobs(TAllJobFn::Of<&TJobPool::FnJobById>(this), params);
  Text found = VariantToText(params.GetValueByKey(Variant(u"Result")));
  return found.empty() ? nullptr : reinterpret_cast<TJob*>(TextToPointer(found));
}

void TJobPool::AbortAllJobs() {
  TFlexArray params;
  ApplyFnToAllJobs(TAllJobFn::Of<&TJobPool::FnAbort>(this), params);
}

void TJobPool::AbortJobsByFn(TJobFn aJobFn) {
  TFlexArray params;
  params.SetKeyAndValue(Variant(u"JobFn"), Variant(MethodToText(aJobFn.AsMethod())));
  ApplyFnToAllJobs(TAllJobFn::Of<&TJobPool::FnAbort>(this), params);
}

bool TJobPool::AbortJob(std::int64_t aJobId, win::DWORD aTimeout) {
  TPoolLock lock(this);
  TJob* job = JobById(aJobId);
  if (!job) return true;
  if (job->Abort()) return true;  // it was queued: gone now
  if (aTimeout == 0) return false;
  TEvent* completed = job->EventAdd(jetOnCompletion);
  TempUnLock();
  bool done = completed->Wait(aTimeout);
  TempReLock();
  completed->DeReference();
  return done;
}

void TJobPool::SyncMainFn(TJob& aJob) {
  auto* startEvent = reinterpret_cast<TEvent*>(TextToPointer(VariantToText(aJob.ParamGet(u"StartEvent"))));
  auto* stopEvent = reinterpret_cast<TEvent*>(TextToPointer(VariantToText(aJob.ParamGet(u"StopEvent"))));
  if (!Verify(startEvent != nullptr && stopEvent != nullptr)) return;
  startEvent->SetEvent();
  startEvent->DeReference();  // the reference SyncWithMainThreadStart took for this signal
  stopEvent->Wait(win::INFINITE);
  stopEvent->DeReference();
}

// ---- TJobThread ------------------------------------------------------------------------------

TJobThread::TJobThread(TJobPool* aPool) : TThreadEx(u"JobThread"), JobPool(aPool) {}

void TJobThread::ExecuteStep() {
  TPoolLock lock(JobPool);
  if (JobPool->Active) {
    win::DWORD ms = Interval.load();
    JobPool->ExecuteJobs(this, ms);
    Interval.store(ms);
  }
  if (JobPool->Active) {
    if (!JobPool->WatchThread) JobPool->WatchThread = this;
    if (JobPool->WatchThread == this) {
      JobPool->TerminatedThreadsCleanup();
    } else if (Interval.load() != kIntervalUntilAlerted) {
      // Only the watch thread sleeps with a time-out: it takes over the delayed job seen here.
      Interval.store(kIntervalUntilAlerted);
      if (Verify(JobPool->WatchThread != nullptr)) JobPool->WatchThread->Alert();
    }
  }
  if ((JobPool->IdleThreadsCount() > JobPool->IdleThreadsMax && JobPool->WatchThread != this) || !JobPool->Active) {
    if (JobPool->WatchThread == this) JobPool->WatchThread = nullptr;
    Terminate();
    auto& threads = JobPool->Threads;
    auto it = std::find(threads.begin(), threads.end(), this);
    if (it != threads.end()) {
      threads.erase(it);
      JobPool->TerminatedThreads.push_back(this);
    }
  }
}

// ---- TJobPool: running -----------------------------------------------------------------------

bool TJobPool::GroupExists(TJobGroup* aGroup) const {
  return aGroup && std::find(Groups.begin(), Groups.end(), aGroup) != Groups.end();
}

int TJobPool::IdleThreadsCount() {
  TPoolLock lock(this);
  return static_cast<int>(std::count_if(Threads.begin(), Threads.end(), [](TJobThread* t) { return !t->Job; }));
}

// aNow is read when a delayed job is first met: a queue of jobs to run at once needs no clock.
std::unique_ptr<TJob> TJobPool::JobTake(TJobGroup* aGroup, std::optional<TDateTime>& aNow, TDateTime& aNext) {
  if (aGroup->SimultaneousJobsCurrent >= aGroup->SimultaneousJobsMax) return nullptr;
  for (std::size_t i = 0; i < aGroup->Jobs.size(); ++i) {
    TJob* job = aGroup->Jobs[i].get();
    if (!job->Params.IsEmpty() && job->Params.HasKey(kJobUnique)) {
      // A unique job never runs twice at the same time; named jobs are the same work only
      // under the same name.
      TJob* running = JobInThreadsByFn(job->Fn, UniqueParams(job->Params), false);
      if (running && (!job->Fn.IsEmpty() || running->Name == job->Name)) continue;
    }
    if (job->RunNotEarlierThan != 0 && !aNow) aNow = JobPoolNow();
    if (job->RunNotEarlierThan == 0 || !(job->RunNotEarlierThan > *aNow)) {
      PrefetchForWrite(job);
      std::unique_ptr<TJob> r = std::move(aGroup->Jobs[i]);
      if (i == 0)
        aGroup->Jobs.pop_front();
      else
        aGroup->Jobs.erase(aGroup->Jobs.begin() + static_cast<std::ptrdiff_t>(i));
      return r;
    }
    if (job->RunNotEarlierThan < aNext) aNext = job->RunNotEarlierThan;
    break;  // the rest of the queue starts later
  }
  return nullptr;
}

void TJobPool::ExecuteJobs(TJobThread* aJobThread, win::DWORD& aMsTillNextJob) {
  TPoolLock lock(this);
  const bool main = aJobThread == nullptr;
  aMsTillNextJob = kNoJobKnown;
  TJobGroup* current = main ? FMainGroup : aJobThread->FGroupLast;
  // A job that ran to its end is freed outside the lock, while the next one runs.
  std::unique_ptr<TJob> finished;
  while (Active) {
    if (main) {
      MainThreadProcessMessages = true;
      TempUnLock();
      ApplicationProcessMessages();
      TempReLock();
      MainThreadProcessMessages = false;
      if (Application->Terminated()) break;
      if (!Active) break;
    }

    std::optional<TDateTime> now;
    TDateTime next = DateTimeNever();
    std::unique_ptr<TJob> job;
    if (GroupExists(current) && (main || !current->CustomProcessing)) job = JobTake(current, now, next);
    if (!job && !main) {
      for (std::size_t g = 0; g < Groups.size() && !job; ++g) {
        if (Groups[g]->CustomProcessing) continue;
        current = Groups[g];
        job = JobTake(current, now, next);
      }
    }
    if (!main) aJobThread->FGroupLast = current;

    if (job) {
      TJob* j = job.get();
      TJobGroup* group = j->Group;
      if (main) {
        JobInMainThread = j;
      } else {
        aJobThread->Job = j;
        // A worker that goes from job to job of the same name keeps the name it has.
        if (!j->NoLogging && !(aJobThread->FNamedForJob && aJobThread->FJobName == j->Name)) {
          aJobThread->SetName(u"Job: " + j->Name);
          aJobThread->FJobName = j->Name;
          aJobThread->FNamedForJob = true;
        }
      }
      j->JobThread = aJobThread;
      group->SimultaneousJobsCurrent += 1;
      if (!main && aJobThread == WatchThread) {
        CreateThreads();
        SetNewWatchThread();
      }
      // The list of calls of the job freed last holds memory for this one's.
      if (finished) j->FnList.swap(finished->FnList);
      j->FnToCallPrepare();
      // The lock goes for the run, all of this thread's holdings of it, and comes back as it was.
      const int held = FLock->TakenCountGet();
      for (int i = 0; i < held; ++i) UnLock();
      finished.reset();
      j->ExecuteFns();
      // What the statistics and the group's count will write, asked for while the lock is awaited.
      for (const TJobFnCallInfo& info : j->FnList)
        if (info.Handler) PrefetchForWrite(&info.Handler->TimeMin, sizeof(std::int64_t) * 13 + sizeof(double));
      PrefetchForWrite(group, 64);
      // Taken back without queueing the submissions: that happens as the lock goes again, or
      // below when the queues hold nothing for this thread.
      for (int i = 0; i < held; ++i) FLock->Acquire();
      j->PerformanceCalculateAverages();
      if (j->Events || !j->OnCompleted.IsEmpty()) j->EventsCall(jetOnCompletion);  // most jobs have no waiters
      const bool groupAlive = GroupExists(group);
      if (groupAlive) group->SimultaneousJobsCurrent -= 1;
      if (main) {
        JobInMainThread = nullptr;
      } else {
        // The idle name is given when the thread stops finding jobs (below): a worker that
        // goes from job to job keeps the name of its job, and a name costs a system call.
        aJobThread->Job = nullptr;
      }
      const bool again = !j->Params.IsEmpty() && (j->IsRepetetive() || j->Params.HasKey(kJobNextDelay));
      if (again && !j->Aborted && groupAlive) {
        std::int64_t delay;
        if (j->Params.HasKey(kJobNextDelay)) {
          delay = VariantToInt64(j->ParamGet(kJobNextDelay));
          while (j->Params.HasKey(kJobNextDelay)) j->Params.Delete(Variant(kJobNextDelay));
        } else {
          delay = VariantToInt64(j->ParamGet(kJobRepeat));
        }
        j->RunNotEarlierThan = JobPoolNow() + static_cast<double>(std::max<std::int64_t>(delay, 0)) / kMsPerDay;
        group->Add(std::move(job));
      }
      finished = std::move(job);
    } else {
      if (FSubmitted.load(std::memory_order_relaxed)) {
        SubmittedQueue();
        continue;
      }
      if (next != DateTimeNever()) {
        // At least a millisecond: a job due in less would otherwise have the thread spin with
        // the pool locked, and a clock that moves only while threads wait would never get there.
        const double ms = std::max(1.0, std::ceil((next - JobPoolNow()) * kMsPerDay));
        aMsTillNextJob = ms >= double(kNoJobKnown - 1) ? kNoJobKnown - 1 : static_cast<win::DWORD>(ms);
      }
      if (aMsTillNextJob != 0) break;
    }
    if (!main && aJobThread->IsTerminated()) break;
  }
  if (!main && aJobThread->FNamedForJob) {
    aJobThread->FNamedForJob = false;
    aJobThread->SetName(u"JobPool [Idle]");
  }
}

win::LRESULT TJobPool::MessageWindowProc(win::UINT aMessage, win::WPARAM aWParam, win::LPARAM aLParam) {
  if (aMessage != win::WM_TIMER) return win::DefWindowProcW(MessageWindowHandle, aMessage, aWParam, aLParam);
  // The scheduler already runs on this thread and only pumps messages.
  if (MainThreadProcessMessages) return 0;
  TPoolLock lock(this);
  win::KillTimer(MessageWindowHandle, kMainTimerId);
  MainThreadProcessingScheduled = true;
  win::DWORD ms = kNoJobKnown;
  ExecuteJobs(nullptr, ms);
  MainThreadProcessingScheduled = false;
  if (ms != kNoJobKnown && Verify(ms > 0)) win::SetTimer(MessageWindowHandle, kMainTimerId, ms, nullptr);
  return 0;
}

void TJobPool::CreateThreads() {
  TPoolLock lock(this);
  while (IdleThreadsCount() < IdleThreadsMin && static_cast<std::int32_t>(Threads.size()) < ThreadsMax) {
    auto* t = new TJobThread(this);
    Threads.push_back(t);
    t->Start();
    if (!WatchThread) WatchThread = t;
  }
}

void TJobPool::SetNewWatchThread() {
  TPoolLock lock(this);
  WatchThread = nullptr;
  for (TJobThread* t : Threads)
    if (!t->Job) {
      WatchThread = t;
      break;
    }
  if (WatchThread) WatchThread->Alert();
}

void TJobPool::TerminatedThreadsCleanup() {
  TPoolLock lock(this);
  while (!TerminatedThreads.empty()) {
    TJobThread* t = TerminatedThreads.front();
    t->WaitFor();
    TerminatedThreads.erase(TerminatedThreads.begin());
    delete t;
  }
}

void TJobPool::Start() {
  TPoolLock lock(this);
  NewJobAlert(FMainGroup);
  Active = true;
  CreateThreads();
}

void TJobPool::Shutdown() {
  TPoolLock lock(this);
  Active = false;
  if (ShutdownEvent) ShutdownEvent->SetEvent();
  AbortAllJobs();
  for (TJobThread* t : Threads) t->Alert();
  while (!Threads.empty()) {
    TJobThread* t = Threads.front();
    TempUnLock();
    t->WaitFor();
    TempReLock();
    // A thread whose step raised ended without leaving the list itself.
    if (!Threads.empty() && Threads.front() == t) {
      Threads.erase(Threads.begin());
      TerminatedThreads.push_back(t);
    }
  }
  WatchThread = nullptr;
  TerminatedThreadsCleanup();
}

// ---- TJobPool: main thread -------------------------------------------------------------------

void TJobPool::SyncWithMainThreadStart(TEvent*& aStopEvent) {
  aStopEvent = nullptr;
  if (IsMainThread()) return;
  TEvent* startEvent = TEvent::Create();
  aStopEvent = TEvent::Create();
  // The caller's own reference: SyncWithMainThreadEnd must not touch an event the main
  // thread freed the moment it was signalled.
  aStopEvent->Reference();
  TFlexArray params;
  params.SetKeyAndValue(Variant(u"StartEvent"), Variant(PointerToText(startEvent)));
  params.SetKeyAndValue(Variant(u"StopEvent"), Variant(PointerToText(aStopEvent)));
  startEvent->Reference();  // likewise for the main thread's signal
  JobHandlerMain->Add(TJobFn::Of<&TJobPool::SyncMainFn>(this), params);
  startEvent->Wait(win::INFINITE);
  startEvent->DeReference();
}

void TJobPool::SyncWithMainThreadEnd(TEvent* aStopEvent) {
  if (IsMainThread() || !aStopEvent) return;
  aStopEvent->SetEvent();
  aStopEvent->DeReference();
}

bool TJobPool::MainThreadHasStuffToDo() {
  AlertIfUsed();
  if (HangDetectionIsAliveFn) HangDetectionIsAliveFn();
  return MainThreadHasMessages() || (FMainGroup && FMainGroup->HasJobsWaiting());
}

bool TJobPool::MainThreadHasMessages() {
  Verify(IsMainThread());
  return win::GetQueueStatus(win::QS_ALLINPUT) != 0;
}

// ---- TJobPool: finding -----------------------------------------------------------------------

TJob* TJobPool::JobInThreadsByFn(const TJobFn& aJobFn, const TFlexArray& aParams, bool aParamsAllMustMatch) {
  if (JobInMainThread && JobInMainThread->HasFnAndParams(aJobFn, aParams, aParamsAllMustMatch)) return JobInMainThread;
  for (TJobThread* t : Threads)
    if (t->Job && t->Job->HasFnAndParams(aJobFn, aParams, aParamsAllMustMatch)) return t->Job;
  return nullptr;
}

TJobThread* TJobPool::ThreadById(win::DWORD aThreadId) {
  TPoolLock lock(this);
  for (TJobThread* t : Threads)
    if (t->ThreadId.load() == aThreadId) return t;
  return nullptr;
}

TJobThread* TJobPool::JobThreadByThreadId(win::DWORD aThreadId) {
  Verify(aThreadId != MainThreadIdGet());
  VerifyLockTaken(*FLock);
  return ThreadById(aThreadId);
}

TJob* TJobPool::CurrentJob() {
  TPoolLock lock(this);
  if (IsMainThread()) return JobInMainThread;
  if (TJobThread* t = ThreadById(win::GetCurrentThreadId())) return t->Job;
  return nullptr;
}

Text TJobPool::JobGetCallstack(std::int64_t aJobId) {
  win::DWORD threadId = 0;
  {
    TPoolLock lock(this);
    if (aJobId > 0)
      if (TJob* job = JobById(aJobId))
        for (TJobThread* t : Threads)
          if (t->Job == job) threadId = t->ThreadId.load();
  }
  if (!threadId) return u"Job not found";
  return CallstackToText(CallstackOfThread(threadId));
}

void TJobPool::WaitForJobFn(TJobFn aJobFn) {
  TPoolLock lock(this);
  for (;;) {
    TJob* job = JobInQueueByFn(aJobFn, TFlexArray(), false);
    if (!job) job = JobInThreadsByFn(aJobFn, TFlexArray(), false);
    if (!job) return;
    TEvent* completed = job->EventAdd(jetOnCompletion);
    TempUnLock();
    completed->Wait(win::INFINITE);
    TempReLock();
    completed->DeReference();
  }
}

void TJobPool::WaitFor(const Text& aName, const TArrayOfVariants& aKeysAndValues) {
  StopIfNot(false, u"WaitFors are not fully implemented - do not use");
}

// ---- TJobPool: reports -----------------------------------------------------------------------

TFlexArray TJobPool::PerformanceInfoGet(TJobHandler* aHandler) {
  TFlexArray r;
  PerformanceInfoCompose(r, aHandler ? aHandler : RootHandler, 0);
  return r;
}

void TJobPool::PerformanceInfoCompose(TFlexArray& aInfoAboutAllHandlers, TJobHandler* aHandler, int aLevel) {
  TPoolLock lock(this);
  TFlexArray info;
  info.SetKeyAndValue(Variant(u"Handler"), Variant(aHandler->Name));
  if (aHandler->Group) info.SetKeyAndValue(Variant(u"Group"), Variant(aHandler->Group->Name));
  info.SetKeyAndValue(Variant(u"Level"), Variant(static_cast<std::int32_t>(aLevel)));
  if (aHandler->RunsCount > 0) {
    const std::pair<const char16_t*, std::int64_t> figures[] = {
        {u"Runs", aHandler->RunsCount},
        {u"TimeMin", aHandler->TimeMin},
        {u"TimeMax", aHandler->TimeMax},
        {u"TimeTotal", aHandler->TimeTotal},
    };
    for (const auto& [key, value] : figures) info.SetKeyAndValue(Variant(key), Variant(value));
    info.SetKeyAndValue(Variant(u"TimeAverageLast100"), Variant(aHandler->TimeAverageLast100));
    const std::pair<const char16_t*, std::int64_t> rest[] = {
        {u"CyclesMin", aHandler->CyclesMin},
        {u"CyclesMax", aHandler->CyclesMax},
        {u"CyclesTotal", aHandler->CyclesTotal},
        {u"UserModeTimeMin", aHandler->UserModeTimeMin},
        {u"UserModeTimeMax", aHandler->UserModeTimeMax},
        {u"UserModeTimeTotal", aHandler->UserModeTimeTotal},
        {u"KernelTimeMin", aHandler->KernelTimeMin},
        {u"KernelTimeMax", aHandler->KernelTimeMax},
        {u"KernelTimeTotal", aHandler->KernelTimeTotal},
    };
    for (const auto& [key, value] : rest) info.SetKeyAndValue(Variant(key), Variant(value));
  }
  aInfoAboutAllHandlers.SetKeyAndValue(Variant(u"HandlerInfo" + IntToText(aInfoAboutAllHandlers.Count())),
                                       Variant(info.ToString()));
  for (const auto& child : aHandler->Children) PerformanceInfoCompose(aInfoAboutAllHandlers, child.get(), aLevel + 1);
}

namespace {
Text Hex8(std::uint64_t aValue) {
  static const char16_t kDigits[] = u"0123456789ABCDEF";
  Text r;
  do {
    r.insert(r.begin(), kDigits[aValue & 15]);
    aValue >>= 4;
  } while (aValue);
  return r.size() < 8 ? Text(8 - r.size(), u'0') + r : r;
}
}  // namespace

void TJobPool::DebugListHandlers(std::vector<Text>& aStrings, TJobHandler* aHandler, int aLevel) {
  TPoolLock lock(this);
  if (!aHandler) aHandler = RootHandler;
  Text line = Text(static_cast<std::size_t>(aLevel) * 2, u' ') + aHandler->Name + u" (" + aHandler->HandlerTypeAsString() + u")";
  if (aHandler->Group) line += u" (Group: " + aHandler->Group->Name + u")";
  line += u" Fn: " + Hex8(reinterpret_cast<std::uintptr_t>(aHandler->Fn.Code)) + u"-" +
          Hex8(reinterpret_cast<std::uintptr_t>(aHandler->Fn.Data));
  line += u" Handler Performance: " + aHandler->Name;
  if (aHandler->RunsCount > 0) {
    line += u" TimeMin: " + IntToText(aHandler->TimeMin) + u" TimeMax: " + IntToText(aHandler->TimeMax) +
            u" MinKernell: " + IntToText(aHandler->KernelTimeMin) + u" MaxKernell: " + IntToText(aHandler->KernelTimeMax) +
            u" UserModeTimeMin: " + IntToText(aHandler->UserModeTimeMin) + u" UserModeTimeMax:" +
            IntToText(aHandler->UserModeTimeMax) + u" Runs: " + IntToText(aHandler->RunsCount);
  } else {
    line += u" <Not yet run> ";
  }
  aStrings.push_back(line);
  for (const auto& child : aHandler->Children) DebugListHandlers(aStrings, child.get(), aLevel + 1);
}
