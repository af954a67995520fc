// The job pool: small units of work (jobs) queued in groups and run by handlers.
//
// A job names its work either by a method reference (a function job, run by the function
// handler registered for that method) or by a name (a named job, run by the function handler
// of that name; without one it becomes a notification delivered to every notification
// handler of that name, and to every generic handler with a function, below the handler it
// was queued on). Handlers form a tree under RootHandler; each job is queued in the group of
// its handler (or of the nearest ancestor that has one), ordered by start time.
//
// The pool runs nothing until Start: then worker threads take due jobs from every group but
// those with CustomProcessing, and the main thread runs the group "Main" from its message
// loop (a WM_TIMER posted to the pool's hidden window, and window timer 1 for the next
// delayed job). Only one idle worker, the watch thread, sleeps with a time-out; the others
// sleep until alerted. Shutdown stops and joins every worker.
//
// One lock, the pool's "JobPool" TLock, guards every queue, the handler tree and the
// statistics. It is re-entrant, so the operations below take it themselves; job functions
// run without it.
//
// Submissions: a job without parameters that is added while another thread holds the lock
// is not waited for. It goes onto a short list of submissions, and whoever holds the lock
// queues the list, in the order of adding, as it takes the lock (Lock) and as it lets go of
// it (UnLock), so that every holder of the lock sees every job added before it took it. A
// thread that finds the lock free queues its submissions itself. The adder does not wait for
// the workers; Add returns the job's id at once (the job is dropped when its handler turns
// out to be going away by the time it is queued, as a queued job of such a handler is).
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "diag/uThreadEx.h"
#include "diag/uThreadSync.h"
#include "diag/uUnits.h"
#include "params/uFlexArray.h"
#include "params/uMiscLean.h"

class TJob;
class TJobGroup;
class TJobHandler;
class TJobPool;
class TJobThread;

// ---- Method references ---------------------------------------------------------------------

// A callback as (code, data): a member function bound to its object, or a free function.
// Two references are equal when both parts are; a reference is empty when its code part is.
// The data part is the object, so that RemoveHandlers can find every handler of an object.
template <class... Args>
struct TMethodRef {
  void (*Code)(void* aData, Args... aArgs) = nullptr;
  void* Data = nullptr;

  // TJobFn::Of<&TDebug::WipeOldLogFiles>(this)
  template <auto Method, class T>
  static TMethodRef Of(T* aObject) {
    TMethodRef r;
    r.Code = [](void* aData, Args... aArgs) { (static_cast<T*>(aData)->*Method)(std::forward<Args>(aArgs)...); };
    r.Data = aObject;
    return r;
  }
  // A free function: the code part is one shared trampoline, the data part the function.
  static TMethodRef Of(void (*aFn)(Args...)) {
    TMethodRef r;
    if (!aFn) return r;
    r.Code = [](void* aData, Args... aArgs) {
      reinterpret_cast<void (*)(Args...)>(aData)(std::forward<Args>(aArgs)...);
    };
    r.Data = reinterpret_cast<void*>(aFn);
    return r;
  }

  void operator()(Args... aArgs) const { Code(Data, std::forward<Args>(aArgs)...); }
  bool IsEmpty() const { return Code == nullptr; }
  // The pair as the framework's TMethod (MethodToText, MethodsEqual).
  TMethod AsMethod() const { return TMethod{reinterpret_cast<void*>(Code), Data}; }
  static TMethodRef FromMethod(const TMethod& aMethod) {
    TMethodRef r;
    r.Code = reinterpret_cast<void (*)(void*, Args...)>(aMethod.Code);
    r.Data = aMethod.Data;
    return r;
  }
  friend bool operator==(const TMethodRef&, const TMethodRef&) = default;
};

using TJobFn = TMethodRef<TJob&>;
using TJobExceptionFn = TMethodRef<TJob&, const std::exception&>;
// Applied to every queued and running job by TJobPool::ApplyFnToAllJobs; clearing
// bContinueApplying stops the walk.
using TAllJobFn = TMethodRef<TJob&, TFlexArray&, bool&>;

// ---- Parameter keys the pool reads (all other keys are the caller's) -----------------------

inline constexpr const char16_t* kJobDelay = u"JobDelay";
inline constexpr const char16_t* kJobRepeat = u"JobRepeat";
inline constexpr const char16_t* kJobNextDelay = u"JobNextDelay";
inline constexpr const char16_t* kJobNoLogging = u"JobNoLogging";
inline constexpr const char16_t* kJobGroup = u"JobGroup";
inline constexpr const char16_t* kJobUnique = u"JobUnique";
inline constexpr const char16_t* kJobUniqueDelayMergeEarlier = u"JobUniqueDelayMergeEarlier";
inline constexpr const char16_t* kJobUniqueDelayMergeLater = u"JobUniqueDelayMergeLater";
inline constexpr const char16_t* kJobMergeIdRange = u"JobMergeIdRange";
inline constexpr const char16_t* kIdMin = u"IdMin";
inline constexpr const char16_t* kIdMax = u"IdMax";

// ---- Types -----------------------------------------------------------------------------------

enum TJobHandlerType { jhGeneric = 0, jhNotification = 1, jhFunction = 2, jhAny = 3 };
enum TJobEventType { jetOnAborted = 0, jetOnCompletion = 1 };

// One call of a job, with what it cost.
struct TJobFnCallInfo {
  TJobFn Fn;
  TJobHandler* Handler = nullptr;
  std::int64_t Cycles = 0;
  std::int64_t TimeInUserMode = 0;  // 100-ns units
  std::int64_t TimeInKernel = 0;    // 100-ns units
  std::int64_t TimeTotal = 0;       // ms
};

// A waiter for a job's abort or completion; holds one reference of its own on the event.
class TJobEvent {
 public:
  TJobEvent(TEvent* aEvent, TJobEventType aEventType);
  ~TJobEvent();
  TJobEvent(const TJobEvent&) = delete;
  TJobEvent& operator=(const TJobEvent&) = delete;

  TEvent* Event = nullptr;
  TJobEventType EventType = jetOnAborted;
};

// The local date-time the pool schedules by. Replaceable (tests; a virtual clock); the
// default is the system clock.
using TJobPoolNowFn = TDateTime (*)();
extern TJobPoolNowFn JobPoolNowFn;
TDateTime JobPoolNow();

// ---- TJob ------------------------------------------------------------------------------------

class TJob {
 public:
  // Takes the next id of aPool.
  explicit TJob(TJobPool* aPool);
  // Signals the completion waiters (and calls OnCompleted): no waiter blocks on a job that
  // vanished.
  ~TJob();
  TJob(const TJob&) = delete;
  TJob& operator=(const TJob&) = delete;
  // Jobs are made on one thread and freed on another, a hundred thousand a second at times:
  // their memory is recycled by the pool instead of crossing the allocator's locks each time.
  static void* operator new(std::size_t aSize);
  static void operator delete(void* aBlock, std::size_t aSize) noexcept;

  std::unique_ptr<std::vector<std::unique_ptr<TJobEvent>>> Events;  // created on first use
  Text Name;
  TJobFn Fn;
  TFlexArray Params;
  TJobGroup* Group = nullptr;
  TJobHandler* Handler = nullptr;
  TDateTime RunNotEarlierThan = 0;  // 0: as soon as possible
  TJobFn OnCompleted;
  std::int64_t Id = 0;
  bool Aborted = false;
  bool IsNotification = false;
  bool NoLogging = false;
  std::vector<TJobFnCallInfo> FnList;
  TJobThread* JobThread = nullptr;

  Variant ParamGet(const Text& aKey) const;
  void ParamSet(const Text& aKey, const Variant& aValue);
  bool IsRepetetive() const;
  // Aborted, read under the pool lock; false for no job.
  bool IsSetAndAborted();
  static bool IsSetAndAborted(TJob* aJob);
  bool HasFnAndParams(const TJobFn& aJobFn, const TFlexArray& aParams, bool aParamsMatchAll) const;

  // Run again after aDelayInMs once the current run ended (once, also for a job that does
  // not repeat). NextDelaySkip: again as soon as possible.
  void ReTryIn(std::int64_t aDelayInMs);
  void NextDelaySet(std::int64_t aDelayInMs);
  void NextDelaySkip();

  // A new event, signalled on abort or completion. The caller owns the creating reference
  // and drops it (DeReference) when done waiting.
  TEvent* EventAdd(TJobEventType aEventType);
  TJobEvent* EventFind(TEvent* aEvent);
  // Obsolete.
  void EventRemove(TEvent* aEvent);
  void EventsCall(TJobEventType aEventType);

  // Builds FnList: the calls to make for this job, right before it runs.
  void FnToCallPrepare();
  // Makes the calls of FnList; called without the pool lock. An exception of a call never
  // leaves: the locks the call left held are released and the exception is handed on.
  void ExecuteFns();
  // Adds the costs of the last run to the handlers' statistics (under the pool lock).
  void PerformanceCalculateAverages();
  // Handler := the function handler for the job below the handler it was queued on.
  void SetCorrectHandler();
  // Name + " (" + the parameters' display form + ")".
  Text ToString() const;

  TJobPool* PoolGet() const { return FPool; }

 private:
  friend class TJobPool;
  friend class TJobGroup;
  friend class TJobHandler;

  // Marks the job aborted and signals the abort waiters; a queued job is freed at once (true),
  // a running one finishes its run (false). Under the pool lock.
  bool Abort();
  // The same work: the same function, and for named jobs also the same name.
  bool IsSameWorkAs(const TJob& aOther) const;

  TJobPool* FPool = nullptr;
  TJob* FSubmittedNext = nullptr;  // in the pool's submissions (see TJobPool)
};

// ---- TJobGroup -------------------------------------------------------------------------------

class TJobGroup {
 public:
  // Empty queue, one job at a time; appended to the pool's Groups. Made by GroupByName.
  TJobGroup(TJobPool* aPool, const Text& aName);
  // Leaves the pool's Groups and frees the queued jobs (an alert when a handler still uses
  // the group).
  ~TJobGroup();
  TJobGroup(const TJobGroup&) = delete;
  TJobGroup& operator=(const TJobGroup&) = delete;

  Text Name;
  bool CustomProcessing = false;
  std::int32_t SimultaneousJobsCurrent = 0;
  std::int32_t SimultaneousJobsMax = 1;
  // The queue, ordered by start time.
  std::deque<std::unique_ptr<TJob>> Jobs;

  // Inserts by start time: jobs to run at once keep arrival order ahead of the delayed ones;
  // a delayed job goes in front of the first one that starts at the same time or later.
  void Add(std::unique_ptr<TJob> aJob);
  TJob* JobInQueueByFn(const TJobFn& aJobFn, const TFlexArray& aParams, bool aParamsAllMustMatch);
  // A queued job of the same work whose id range meets aJob's; its range grows by aJob's.
  TJob* JobMergeByIds(TJob& aJob);
  // The first queued job is due.
  bool HasJobsWaiting();
  // The queued jobs in order (a snapshot under the pool lock).
  std::vector<TJob*> JobsQueuedGet();

  // Takes aJob out of the queue (ownership to the caller); empty when it is not queued here.
  std::unique_ptr<TJob> JobExtract(TJob* aJob);

 private:
  friend class TJobPool;
  // Add without NewJobAlert; with the pool lock held.
  void Insert(std::unique_ptr<TJob> aJob);

  TJobPool* FPool = nullptr;
};

// ---- TJobHandler -----------------------------------------------------------------------------

class TJobHandler {
 public:
  // Registers itself in the pool's Handlers; leaves it when destroyed, with its children.
  TJobHandler(TJobPool* aPool, const Text& aName, TJobHandlerType aType, TJobFn aFn);
  ~TJobHandler();
  TJobHandler(const TJobHandler&) = delete;
  TJobHandler& operator=(const TJobHandler&) = delete;

  Text Name;
  TJobFn Fn;
  TJobGroup* Group = nullptr;  // own group; none: the nearest ancestor's applies
  TJobHandler* Parent = nullptr;
  std::vector<std::unique_ptr<TJobHandler>> Children;
  TJobHandlerType HandlerType = jhGeneric;
  bool IsRemoving = false;  // new jobs for it are dropped
  // The statistics, written after every run, lie on lines of their own: queueing reads the
  // fields above all the time.
  static constexpr std::int64_t kMinStart = INT64_MAX;
  alignas(64) std::int64_t TimeMin = kMinStart;
  std::int64_t TimeMax = 0, TimeTotal = 0;
  std::int64_t KernelTimeMin = kMinStart, KernelTimeMax = 0, KernelTimeTotal = 0;
  std::int64_t UserModeTimeMin = kMinStart, UserModeTimeMax = 0, UserModeTimeTotal = 0;
  std::int64_t CyclesMin = kMinStart, CyclesMax = 0, CyclesTotal = 0;
  std::int64_t RunsCount = 0;
  double TimeAverageLast100 = 0;

  // Sub-handlers, appended to Children; each returns the new child.
  TJobHandler* AddGenericHandler(const Text& aName);
  TJobHandler* AddGenericHandler(const Text& aName, TJobFn aFn);
  TJobHandler* AddNotificationHandler(const Text& aName, TJobFn aFn);
  TJobHandler* AddFunctionHandler(const Text& aName, TJobFn aFn);

  void GroupSet(const Text& aGroupName);
  TJobGroup* GroupDerived();
  void FnSet(TJobFn aJobFn);

  // The function handler of that name or function in this subtree.
  TJobHandler* HandlerFind(const Text& aName);
  TJobHandler* HandlerFind(TJobFn aFn);
  // Depth first, this handler first: the first handler of aHandlerType (any for jhAny) whose
  // Fn equals aFn, or, without aFn, whose Name equals a non-empty aName exactly.
  TJobHandler* HandlerByNameOrFn(const Text& aName, TJobFn aFn, TJobHandlerType aHandlerType);
  TJobHandler* HandlerByNameOrFn(const Text& aName, const TJobFn* aFn, TJobHandlerType aHandlerType);
  Text HandlerTypeAsString() const;
  // Appends the calls of a notification: every notification handler of the job's name and
  // every generic handler with a function, in this subtree, depth first.
  void ConstructFnList(TJob& aJob);

  // Removes the handler with that function (any type) from this subtree.
  void RemoveHandler(TJobFn aFn);
  // Drops the queued jobs of aHandler's subtree and removes it from its parent (freeing it).
  void RemoveHandler(TJobHandler* aHandler);
  void Remove();
  void RemoveHandlerAndGroup();

  // Queueing; each returns the new job's Id, or 0 when it was merged into a queued job or
  // dropped.
  std::int64_t Add(TJobFn aFn);
  std::int64_t Add(TJobFn aFn, const TFlexArray& aParams);
  std::int64_t Add(const TArrayOfVariants& aKeysAndValues, TJobFn aFn);
  std::int64_t Add(const Text& aName);
  std::int64_t Add(const Text& aName, const TFlexArray& aParams);
  std::int64_t Add(const Text& aName, const TArrayOfVariants& aKeysAndValues);

  // Runs a job at once on the calling thread: no queue, no pool lock around the call, no
  // statistics.
  void RunNow(const Text& aName, TJobFn aFn, const TFlexArray& aParams);
  void RunNow(const Text& aName) { RunNow(aName, TJobFn(), TFlexArray()); }
  void RunNow(const Text& aName, const TFlexArray& aParams) { RunNow(aName, TJobFn(), aParams); }
  void RunNow(TJobFn aFn) { RunNow(Text(), aFn, TFlexArray()); }
  void RunNow(TJobFn aFn, const TFlexArray& aParams) { RunNow(Text(), aFn, aParams); }
  void RunNow(const TArrayOfVariants& aKeysAndValues, TJobFn aFn);
  void RunNow(const Text& aName, const TArrayOfVariants& aKeysAndValues);

  TJobPool* PoolGet() const { return FPool; }

 private:
  friend class TJobPool;
  std::unique_ptr<TJob> JobCreateAndAdd(const Text& aName, const TFlexArray& aParams, TJobFn aFn);
  std::int64_t JobAdd(std::unique_ptr<TJob> aJob);
  // JobAdd with the pool lock held.
  std::int64_t JobAddLocked(std::unique_ptr<TJob> aJob);
  TJobHandler* ChildAdd(const Text& aName, TJobHandlerType aType, TJobFn aFn);
  void ConstructFnListOf(TJob& aJob);
  bool IsInSubtreeOf(const TJobHandler* aAncestor) const;

  alignas(64) TJobPool* FPool = nullptr;
};

// ---- TJobPool --------------------------------------------------------------------------------

// The exception hand-off of ExecuteFns, set by the debug facility (it files an "Error" report).
using TJobExceptionHandOff = void (*)(const std::exception&);
extern TJobExceptionHandOff JobExceptionHandOff;

// A worker thread of the pool ("JobThread"; "Job: " + the job's name while it runs one,
// "JobPool [Idle]" afterwards).
class TJobThread : public TThreadEx {
 public:
  explicit TJobThread(TJobPool* aPool);
  TJob* Job = nullptr;  // under the pool lock

 protected:
  void ExecuteStep() override;

 private:
  friend class TJobPool;
  TJobPool* JobPool;
  TJobGroup* FGroupLast = nullptr;  // the group examined last
  bool FNamedForJob = false;         // carries a job's name, not yet "JobPool [Idle]"
  Text FJobName;                     // that job's name
};

// The start-up service (module "uJobPool", needs "uThreadSync"). Created blank by the
// registry; OnCreate builds the handler tree:
//   "ROOT" (generic) ─┬─ "Main" (generic, group "Main": main thread only, one at a time)
//                     │    └─ "JobPool.SyncMain" (function SyncMainFn)
//                     └─ "Async" (generic, group "Async": no limit)
class TJobPool : public TUnit {
 public:
  void OnCreate() override;
  void OnDestroy() override;

  void Lock();
  void UnLock();

  // ---- Queues and handlers ----
  // Alerts the runner of aGroup that a job was queued. Nothing runs jobs before the pool is
  // started, so there is no one to alert yet.
  void NewJobAlert(TJobGroup* aGroup);
  // The group of that name (ignoring case), created with the defaults when missing.
  TJobGroup* GroupByName(const Text& aName);
  bool HandlerInGroupExists(TJobGroup* aGroup);
  // Removes every handler whose function belongs to aObject (an object about to go).
  void RemoveHandlers(const void* aObject);
  // The first group (list order) holding a matching queued job.
  TJob* JobInQueueByFn(const TJobFn& aJobFn, const TFlexArray& aParams, bool aParamsAllMustMatch);
  // aParams without the timing keys, which are no part of a job's identity.
  static TFlexArray UniqueParams(const TFlexArray& aParams);

  // ---- Applying, aborting ----
  void ApplyFnToAllJobs(TAllJobFn aFn, TFlexArray& aParams);
  void FnJobById(TJob& aJob, TFlexArray& aParams, bool& bContinueApplying);
  void FnAbort(TJob& aJob, TFlexArray& aParams, bool& bContinueApplying);
  // The queued or running job with that id, or none.
  TJob* JobById(std::int64_t aId);
  void AbortAllJobs();
  void AbortJobsByFn(TJobFn aJobFn);
  // True when the job is gone: unknown, or aborted while queued, or (running) completed
  // within aTimeout ms.
  bool AbortJob(std::int64_t aJobId, win::DWORD aTimeout);
  bool AbortJobAndWait(std::int64_t aJobId, win::DWORD aTimeout) { return AbortJob(aJobId, aTimeout); }

  // Run on the main thread for a worker that waits for it: signals "StartEvent", then waits
  // for "StopEvent" (both pointer texts); drops one reference of each (the start event's
  // right after signalling it).
  void SyncMainFn(TJob& aJob);

  // ---- Running ----
  void Start();
  // Stops the pool: aborts every job, ends and joins every worker thread.
  void Shutdown();
  // Runs due jobs until none is due (aJobThread null: the main thread, group "Main" only);
  // aMsTillNextJob receives the time until the next delayed job seen, 0xFFFFFFFF for none.
  // Called with the pool lock held.
  void ExecuteJobs(TJobThread* aJobThread, win::DWORD& aMsTillNextJob);
  void CreateThreads();
  void SetNewWatchThread();
  void TerminatedThreadsCleanup();
  int IdleThreadsCount();

  // Parks the main thread inside a job while a worker runs code between the two calls;
  // nothing on the main thread itself.
  void SyncWithMainThreadStart(TEvent*& aStopEvent);
  void SyncWithMainThreadEnd(TEvent* aStopEvent);
  // Obsolete; the main loop's sign of life.
  bool MainThreadHasStuffToDo();
  bool MainThreadHasMessages();

  // ---- Finding ----
  TJob* JobInThreadsByFn(const TJobFn& aJobFn, const TFlexArray& aParams, bool aParamsAllMustMatch);
  TJobThread* ThreadById(win::DWORD aThreadId);
  TJobThread* JobThreadByThreadId(win::DWORD aThreadId);
  // The job of the calling thread (main thread or worker), or none.
  TJob* CurrentJob();
  // The call stack of the worker that runs the job; "Job not found" otherwise.
  Text JobGetCallstack(std::int64_t aJobId);
  // Returns when no job with that function is queued or running.
  void WaitForJobFn(TJobFn aJobFn);
  // Refuses always (EDebugStop).
  void WaitFor(const Text& aName, const TArrayOfVariants& aKeysAndValues);

  // ---- Reports ----
  TFlexArray PerformanceInfoGet(TJobHandler* aHandler = nullptr);
  void PerformanceInfoCompose(TFlexArray& aInfoAboutAllHandlers, TJobHandler* aHandler, int aLevel);
  void DebugListHandlers(std::vector<Text>& aStrings, TJobHandler* aHandler, int aLevel);

  std::vector<TJobThread*> Threads;            // owned
  std::vector<TJobThread*> TerminatedThreads;  // owned
  TJobThread* WatchThread = nullptr;

  win::HWND MessageWindowHandle = nullptr;
  std::vector<TJobGroup*> Groups;      // owned; in creation order
  std::vector<TJobHandler*> Handlers;  // every handler that exists (not owned)
  TJobHandler* RootHandler = nullptr;
  bool Active = false;
  std::int32_t IdleThreadsMin = 0;
  std::int32_t IdleThreadsMax = 0;
  std::int32_t ThreadsMax = 0;
  TJob* JobInMainThread = nullptr;
  bool MainThreadProcessingScheduled = false;
  bool MainThreadProcessMessages = false;
  // The newest job's id; taken without the lock (an atomic increment), on a line of its own
  // (workers read the fields around it all the time).
  alignas(64) std::int64_t LastJobId = 0;
  alignas(64) TJobFn OnBeforeJobExecute;
  TJobExceptionFn OnJobException;
  TEvent* ShutdownEvent = nullptr;
  TProcedureOfObject HangDetectionIsAliveFn;

 TLock* LockGet() { return FLock.get(); }

 private:
  friend class TJobThread;
  win::LRESULT MessageWindowProc(win::UINT aMessage, win::WPARAM aWParam, win::LPARAM aLParam);
  bool GroupExists(TJobGroup* aGroup) const;
  // Examines one group for ExecuteJobs: the first due job that may start, taken out of the queue.
  std::unique_ptr<TJob> JobTake(TJobGroup* aGroup, std::optional<TDateTime>& aNow, TDateTime& aNext);

  friend class TJobHandler;
  // Submissions (see above). Push: onto the list; the one that made the list non-empty sees
  // to it that it gets queued.
  void SubmittedPush(std::unique_ptr<TJob> aJob);
  // Queues the submissions; with the lock held.
  void SubmittedQueue();
  // Gives up the calling thread's last holding, queueing the submissions before and, when
  // more came meanwhile and the lock is free, after.
  void UnLockLast();
  // With no share of the lock: queues the submissions, or leaves them to a thread that holds
  // the lock now and will see them when it lets go.
  void SubmittedHandOn();
  // Orders this thread's write before its read of another variable (see SubmittedHandOn).
  void OrderPoint();
  // All of the calling thread's holdings go for a wait, and come back (TempUnLockAll and
  // TempReLockAll, with the submissions queued).
  void TempUnLock();
  void TempReLock();

  std::unique_ptr<TLock> FLock;
  TJobGroup* FMainGroup = nullptr;
  // Newest first; written by every adder, taken by the holders of the lock.
  alignas(64) std::atomic<TJob*> FSubmitted{nullptr};
  alignas(64) std::atomic<std::uint32_t> FOrder{0};  // OrderPoint in race-detector builds
};

extern TJobPool* JobPool;
extern TJobHandler* JobHandlerMain;   // "Main"
extern TJobHandler* JobHandlerAsync;  // "Async"
