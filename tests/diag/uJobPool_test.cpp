#include "diag/uJobPool.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "DebugRecorder.h"
#include "TestSupport.h"
#include "diag/uMisc.h"

namespace {

// The alerts filed while a test runs. The only place that knows how alerts are observed.
class TAlerts {
 public:
  TAlerts() { ProblemsRecordedClear(); }
  std::vector<Text> Messages() const {
    std::vector<Text> r;
    for (const TRecordedProblem& p : ProblemsRecordedGet())
      if (p.Type == u"Alert") r.push_back(p.Message);
    return r;
  }
  int Count() const { return static_cast<int>(Messages().size()); }
  int CountOf(const Text& aMessage) const {
    auto m = Messages();
    return static_cast<int>(std::count(m.begin(), m.end(), aMessage));
  }
  bool AnyStartsWith(const Text& aPrefix) const {
    for (const Text& m : Messages())
      if (m.compare(0, aPrefix.size(), aPrefix) == 0) return true;
    return false;
  }
  void Clear() { ProblemsRecordedClear(); }
};

// A fixed local time, so that start times compare exactly.
TDateTime gNow = 45000.5;
TDateTime TestNow() { return gNow; }
TDateTime In(std::int64_t aMs) { return gNow + static_cast<double>(aMs) / 86400000.0; }

// Job functions of an object: they record who ran, in order.
struct TWork {
  std::vector<Text>* Log = nullptr;
  Text Tag;
  void Run(TJob& aJob) { Log->push_back(Tag); }
  void Raise(TJob& aJob) { throw Exception(u"boom " + Tag); }
  void RaiseStd(TJob& aJob) { throw std::runtime_error("std boom"); }
  TJobFn Fn() { return TJobFn::Of<&TWork::Run>(this); }
};

void FreeJobFn(TJob& aJob) { aJob.ParamSet(u"ran", Variant(true)); }

std::vector<Text> gHandedOff;
void RecordHandOff(const std::exception& aException) { gHandedOff.push_back(Utf8ToText(aException.what())); }

// A lock controller and a job pool of their own for each test, made by a registry the way the
// program makes them.
class JobPoolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(LockController, nullptr);
    ASSERT_EQ(JobPool, nullptr);
    FUnits = std::make_unique<TUnits>();
    FUnits->Add<TLockController>(u"uThreadSync", &LockController, {});
    FUnits->Add<TJobPool>(u"uJobPool", &JobPool, {u"uThreadSync"});
    FUnits->Run();
    ASSERT_NE(JobPool, nullptr);
    JobPoolNowFn = &TestNow;
    FHandOffBefore = JobExceptionHandOff;
    Alerts.Clear();
  }
  void TearDown() override {
    FUnits.reset();
    JobPoolNowFn = nullptr;
    JobExceptionHandOff = FHandOffBefore;
  }

  // A handler of its own below "Async", with a function handler for Work.
  TJobHandler* Area(const Text& aName = u"Area") { return JobHandlerAsync->AddGenericHandler(aName); }

  static std::vector<Text> QueuedParam(TJobGroup* aGroup, const Text& aKey) {
    std::vector<Text> r;
    for (TJob* j : aGroup->JobsQueuedGet()) r.push_back(VariantToText(j->ParamGet(aKey)));
    return r;
  }
  static TJobGroup* Async() { return JobHandlerAsync->Group; }

  TAlerts Alerts;
  std::vector<Text> Log;

 private:
  std::unique_ptr<TUnits> FUnits;
  TJobExceptionHandOff FHandOffBefore = nullptr;
};

TEST(JobPoolStartUp, RegistersAfterTheLockController) {
  ASSERT_NE(Units, nullptr);
  auto& regs = Units->UnitsToInitialize;
  auto it = std::find_if(regs.begin(), regs.end(), [](auto& r) { return r->DebugName == u"uJobPool"; });
  ASSERT_NE(it, regs.end());
  EXPECT_EQ((*it)->UnitsNeeded, (std::vector<Text>{u"uThreadSync"}));
}

TEST_F(JobPoolTest, OnCreateBuildsTheHandlerTreeAndGroups) {
  TJobHandler* root = JobPool->RootHandler;
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->Name, u"ROOT");
  EXPECT_EQ(root->HandlerType, jhGeneric);
  EXPECT_EQ(root->Group, nullptr);
  ASSERT_EQ(root->Children.size(), 2u);
  EXPECT_EQ(root->Children[0].get(), JobHandlerMain);
  EXPECT_EQ(root->Children[1].get(), JobHandlerAsync);
  EXPECT_EQ(JobHandlerMain->Name, u"Main");
  EXPECT_EQ(JobHandlerAsync->Name, u"Async");
  ASSERT_EQ(JobHandlerMain->Children.size(), 1u);
  TJobHandler* sync = JobHandlerMain->Children[0].get();
  EXPECT_EQ(sync->Name, u"JobPool.SyncMain");
  EXPECT_EQ(sync->HandlerTypeAsString(), u"Function");
  EXPECT_EQ(sync->Fn, TJobFn::Of<&TJobPool::SyncMainFn>(JobPool));
  EXPECT_EQ(sync->GroupDerived(), JobHandlerMain->Group);
  EXPECT_EQ(sync->TimeMin, INT64_MAX);
  EXPECT_EQ(sync->CyclesMin, INT64_MAX);
  EXPECT_EQ(sync->RunsCount, 0);

  ASSERT_EQ(JobPool->Groups.size(), 2u);
  TJobGroup* main = JobPool->Groups[0];
  EXPECT_EQ(main->Name, u"Main");
  EXPECT_TRUE(main->CustomProcessing);
  EXPECT_EQ(main->SimultaneousJobsMax, 1);
  EXPECT_EQ(JobPool->Groups[1]->Name, u"Async");
  EXPECT_FALSE(JobPool->Groups[1]->CustomProcessing);
  EXPECT_EQ(JobPool->Groups[1]->SimultaneousJobsMax, INT32_MAX);

  EXPECT_EQ(JobPool->Handlers.size(), 4u);
  EXPECT_FALSE(JobPool->Active);
  EXPECT_EQ(JobPool->IdleThreadsMin, 1);
  EXPECT_EQ(JobPool->IdleThreadsMax, 10);
  EXPECT_EQ(JobPool->ThreadsMax, 100);
  EXPECT_NE(JobPool->ShutdownEvent, nullptr);
  EXPECT_EQ(JobPool->JobInMainThread, nullptr);
  EXPECT_EQ(Alerts.Count(), 0);
}

TEST_F(JobPoolTest, GroupsAreFoundIgnoringCaseAndMadeWhenMissing) {
  EXPECT_EQ(JobPool->GroupByName(u"aSYNC"), Async());
  TJobGroup* g = JobPool->GroupByName(u"Disk");
  EXPECT_EQ(g->Name, u"Disk");
  EXPECT_EQ(g->SimultaneousJobsMax, 1);
  EXPECT_EQ(JobPool->Groups.back(), g);
  EXPECT_EQ(JobPool->GroupByName(u"DISK"), g);
  EXPECT_FALSE(JobPool->HandlerInGroupExists(g));
  TJobHandler* h = Area();
  h->GroupSet(u"disk");
  EXPECT_TRUE(JobPool->HandlerInGroupExists(g));
  EXPECT_EQ(h->AddGenericHandler(u"Below")->GroupDerived(), g);
}

TEST_F(JobPoolTest, JobsStayQueuedWithAscendingIds) {
  TWork w{&Log, u"w"};
  TJobHandler* area = Area();
  area->AddFunctionHandler(u"Work", w.Fn());
  std::int64_t a = area->Add(w.Fn());
  std::int64_t b = area->Add(u"Work", TFlexArray(u"k|v|"));
  std::int64_t c = area->Add({Variant(u"x"), Variant(1)}, w.Fn());
  EXPECT_GT(a, 0);
  EXPECT_EQ(b, a + 1);
  EXPECT_EQ(c, b + 1);
  EXPECT_EQ(JobPool->LastJobId, c);
  auto queued = Async()->JobsQueuedGet();
  ASSERT_EQ(queued.size(), 3u);
  for (TJob* j : queued) {
    EXPECT_EQ(j->Name, u"Work");  // function jobs are named after their handler
    EXPECT_EQ(j->Group, Async());
    EXPECT_EQ(j->Handler->Name, u"Work");
    EXPECT_FALSE(j->IsNotification);
  }
  EXPECT_EQ(queued[1]->ParamGet(u"k"), Variant(u"v"));
  EXPECT_EQ(queued[2]->ParamGet(u"x"), Variant(1));
  EXPECT_TRUE(Async()->HasJobsWaiting());
  EXPECT_EQ(JobPool->JobById(b), queued[1]);
  EXPECT_EQ(JobPool->JobById(c + 10), nullptr);
  EXPECT_EQ(JobPool->JobInQueueByFn(w.Fn(), FlexArrayFromPairs({u"x", 1}), true), queued[2]);
  EXPECT_TRUE(Log.empty());  // nothing runs before the pool is started
  EXPECT_EQ(Alerts.Count(), 0);
}

// Jobs without parameters added while another thread holds the pool lock do not wait for
// it: they join the queue, in the order of adding, when it lets go.
TEST_F(JobPoolTest, JobsAddedWhileAnotherThreadHoldsTheLockJoinTheQueueInOrder) {
  TWork w{&Log, u"w"};
  TJobHandler* area = Area();
  area->AddFunctionHandler(u"Work", w.Fn());
  std::atomic<bool> held{false}, added{false}, addsSeenWhileHeld{false};
  std::thread holder([&] {
    JobPool->Lock();
    held = true;
    for (int i = 0; i < 5000 && !added.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    addsSeenWhileHeld = added.load();
    JobPool->UnLock();
  });
  while (!held.load()) std::this_thread::yield();
  std::vector<std::int64_t> ids;
  for (int i = 0; i < 3; ++i) ids.push_back(area->Add(w.Fn()));
  ids.push_back(area->Add(u"Work"));
  added = true;
  holder.join();
  EXPECT_TRUE(addsSeenWhileHeld.load()) << "the adds returned while the other thread held the lock";
  auto queued = Async()->JobsQueuedGet();
  ASSERT_EQ(queued.size(), ids.size());
  for (std::size_t i = 0; i < ids.size(); ++i) {
    EXPECT_EQ(queued[i]->Id, ids[i]);
    EXPECT_EQ(queued[i]->Name, u"Work");
    EXPECT_EQ(queued[i]->Handler->Name, u"Work");
    EXPECT_EQ(JobPool->JobById(ids[i]), queued[i]);
  }
  // A job with parameters queued after them stands behind them.
  std::int64_t withParams = area->Add(w.Fn(), TFlexArray(u"k|v|"));
  queued = Async()->JobsQueuedGet();
  ASSERT_EQ(queued.size(), ids.size() + 1);
  EXPECT_EQ(queued.back()->Id, withParams);
  EXPECT_TRUE(Log.empty());
  EXPECT_EQ(Alerts.Count(), 0);
}

TEST_F(JobPoolTest, QueueOrderByStartTime) {
  TJobHandler* area = Area();
  auto add = [&](const char16_t* aName, int aDelay) {
    TFlexArray p;
    p.SetKeyAndValue(Variant(u"n"), Variant(aName));
    if (aDelay) p.SetKeyAndValue(Variant(kJobDelay), Variant(aDelay));
    EXPECT_GT(area->Add(u"Job", p), 0);
  };
  add(u"A", 0);
  add(u"B", 5000);
  add(u"C", 0);
  add(u"D", 3000);
  EXPECT_EQ(QueuedParam(Async(), u"n"), (std::vector<Text>{u"A", u"C", u"D", u"B"}));
  EXPECT_EQ(Async()->JobsQueuedGet()[3]->RunNotEarlierThan, In(5000));
  add(u"E", 3000);  // the same start as D: in front of it
  add(u"F", 0);
  add(u"G", 9000);
  EXPECT_EQ(QueuedParam(Async(), u"n"), (std::vector<Text>{u"A", u"C", u"F", u"E", u"D", u"B", u"G"}));
  EXPECT_TRUE(Async()->HasJobsWaiting());
}

TEST_F(JobPoolTest, OnlyADueFirstJobIsWaiting) {
  TJobHandler* area = Area();
  area->GroupSet(u"Later");
  EXPECT_FALSE(area->Group->HasJobsWaiting());
  area->Add(u"Job", FlexArrayFromPairs({kJobDelay, 1000}));
  EXPECT_FALSE(area->Group->HasJobsWaiting());
  gNow = In(1000);
  EXPECT_TRUE(area->Group->HasJobsWaiting());
  gNow = 45000.5;
}

TEST_F(JobPoolTest, UniqueJobsMergeWhenTheirIdentityIsASubset) {
  TWork w{&Log, u"w"}, other{&Log, u"other"};
  struct Case {
    const char* what;
    TArrayOfVariants queued;
    TArrayOfVariants added;
    bool merged;
  } cases[] = {
      {"equal", {u"a", 1}, {u"a", 1}, true},
      {"subset of the queued", {u"a", 1, u"b", 2}, {u"a", 1}, true},
      {"disjoint", {u"b", 2}, {u"a", 1}, false},
      {"superset of the queued", {u"a", 1}, {u"a", 1, u"b", 2}, false},
      {"other value", {u"a", 1}, {u"a", 2}, false},
      {"timing keys are no identity", {u"a", 1, kJobNoLogging, true}, {u"a", 1, kJobRepeat, 100, kJobNoLogging, 1}, true},
  };
  for (const Case& c : cases) {
    TJobHandler* area = Area();
    area->GroupSet(Utf8ToText(c.what));
    area->AddFunctionHandler(u"Work", w.Fn());
    area->AddFunctionHandler(u"Other", other.Fn());
    TFlexArray queued = FlexArrayFromPairs(c.queued);
    queued.SetKeyAndValue(Variant(kJobUnique), Variant(true));
    TFlexArray added = FlexArrayFromPairs(c.added);
    added.SetKeyAndValue(Variant(kJobUnique), Variant(true));
    EXPECT_GT(area->Add(other.Fn(), queued), 0);  // another function never merges
    EXPECT_GT(area->Add(w.Fn(), queued), 0) << c.what;
    std::int64_t id = area->Add(w.Fn(), added);
    EXPECT_EQ(id == 0, c.merged) << c.what;
    EXPECT_EQ(area->Group->Jobs.size(), c.merged ? 2u : 3u) << c.what;
  }
  EXPECT_EQ(Alerts.Count(), 0);
}

TEST_F(JobPoolTest, UniqueNamedJobsMergeOnlyWithTheSameName) {
  TJobHandler* area = Area();
  TFlexArray p = FlexArrayFromPairs({kJobUnique, true, u"a", 1});
  EXPECT_GT(area->Add(u"First", p), 0);
  EXPECT_GT(area->Add(u"Second", p), 0);
  EXPECT_EQ(area->Add(u"First", p), 0);
  EXPECT_EQ(QueuedParam(Async(), u"a").size(), 2u);
}

TEST_F(JobPoolTest, DelayedUniqueDuplicatesKeepTheEarlierOrTheLaterStart) {
  const Text E = kJobUniqueDelayMergeEarlier, L = kJobUniqueDelayMergeLater;
  struct Case {
    const char* what;
    int queuedDelay;
    std::vector<Text> queuedKeys;
    int addedDelay;
    std::vector<Text> addedKeys;
    int keptDelay;
    int alerts;
  } cases[] = {
      {"earlier: the new one is earlier", 5000, {E}, 1000, {E}, 1000, 0},
      {"earlier: the queued one is earlier", 1000, {E}, 5000, {E}, 1000, 0},
      {"later: the new one is later", 1000, {L}, 5000, {L}, 5000, 0},
      {"later: the queued one is later", 5000, {L}, 1000, {L}, 5000, 0},
      {"later on the queued side only", 1000, {L}, 5000, {}, 5000, 1},  // delayed without a rule
      {"earlier wins over a due-at-once job too", 5000, {E}, 0, {E}, 0, 0},
      {"conflict: a new Later meets a queued Earlier", 1000, {E, L}, 5000, {L}, 5000, 1},
      {"conflict: a new Earlier meets a queued Later", 5000, {E, L}, 1000, {E}, 5000, 1},
  };
  for (const Case& c : cases) {
    Alerts.Clear();
    TJobHandler* area = Area();
    area->GroupSet(Utf8ToText(c.what));
    auto params = [&](int aDelay, const std::vector<Text>& aKeys) {
      TFlexArray p = FlexArrayFromPairs({kJobUnique, true, u"a", 1});
      if (aDelay) p.SetKeyAndValue(Variant(kJobDelay), Variant(aDelay));
      for (const Text& k : aKeys) p.SetKeyAndValue(Variant(k), Variant(true));
      return p;
    };
    std::int64_t first = area->Add(u"Tick", params(c.queuedDelay, c.queuedKeys));
    EXPECT_GT(area->Add(u"Tick", FlexArrayFromPairs({u"b", 1, kJobDelay, 3000})), 0);  // not the same
    EXPECT_EQ(area->Add(u"Tick", params(c.addedDelay, c.addedKeys)), 0) << c.what;
    TJob* kept = JobPool->JobById(first);
    ASSERT_NE(kept, nullptr) << c.what;
    EXPECT_EQ(kept->RunNotEarlierThan, c.keptDelay ? In(c.keptDelay) : 0.0) << c.what;
    // Moved to its place in the queue: ordered by start time.
    auto queued = area->Group->JobsQueuedGet();
    ASSERT_EQ(queued.size(), 2u) << c.what;
    EXPECT_EQ(queued[0] == kept, c.keptDelay < 3000) << c.what;
    EXPECT_EQ(Alerts.Count(), c.alerts) << c.what;
  }
}

TEST_F(JobPoolTest, IdRangesMergeWhenTheyMeet) {
  TWork w{&Log, u"w"};
  struct Case {
    const char* what;
    std::int64_t qMin, qMax, aMin, aMax;
    bool merged;
    std::int64_t rMin, rMax;  // the queued job's range afterwards
    TArrayOfVariants extra;   // other parameters of the added job
  } cases[] = {
      {"adjacent", 1, 5, 6, 9, true, 1, 9, {}},
      {"adjacent before", 6, 9, 1, 5, true, 1, 9, {}},
      {"gap", 1, 5, 7, 9, false, 1, 5, {}},
      {"overlap", 3, 8, 1, 4, true, 1, 8, {}},
      {"inside", 1, 9, 3, 4, true, 1, 9, {}},
      {"other parameters", 1, 5, 6, 9, false, 1, 5, {u"c", 1}},
  };
  for (const Case& c : cases) {
    TJobHandler* area = Area();
    area->GroupSet(Utf8ToText(c.what));
    area->AddFunctionHandler(u"Range", w.Fn());
    TFlexArray queued = FlexArrayFromPairs({kJobMergeIdRange, true, kIdMin, c.qMin, kIdMax, c.qMax});
    TFlexArray added = FlexArrayFromPairs({kJobMergeIdRange, true, kIdMin, c.aMin, kIdMax, c.aMax});
    added.Add(c.extra);
    std::int64_t id = area->Add(w.Fn(), queued);
    EXPECT_EQ(area->Add(w.Fn(), added) == 0, c.merged) << c.what;
    TJob* job = JobPool->JobById(id);
    ASSERT_NE(job, nullptr);
    EXPECT_EQ(VariantToInt64(job->ParamGet(kIdMin)), c.rMin) << c.what;
    EXPECT_EQ(VariantToInt64(job->ParamGet(kIdMax)), c.rMax) << c.what;
    EXPECT_EQ(area->Group->Jobs.size(), c.merged ? 1u : 2u) << c.what;
  }
  // Ids that are no range are queued on their own, not lost.
  TJobHandler* area = Area();
  area->GroupSet(u"bad ids");
  area->Add(u"R", FlexArrayFromPairs({kJobMergeIdRange, true, kIdMin, INT64_MIN, kIdMax, INT64_MAX}));
  EXPECT_GT(area->Add(u"R", FlexArrayFromPairs({kJobMergeIdRange, true, kIdMin, u"x", kIdMax, 1})), 0);
  EXPECT_EQ(area->Group->Jobs.size(), 2u);
}

TEST_F(JobPoolTest, ANamedJobWithoutFunctionHandlerIsANotification) {
  TWork a{&Log, u"A"}, b{&Log, u"B"}, c{&Log, u"C"}, d{&Log, u"D"}, e{&Log, u"E"};
  TJobHandler* area = Area();
  area->AddNotificationHandler(u"X", a.Fn());
  TJobHandler* g1 = area->AddGenericHandler(u"G1", b.Fn());
  g1->AddNotificationHandler(u"X", c.Fn());
  g1->AddNotificationHandler(u"Y", d.Fn());
  TJobHandler* g3 = g1->AddGenericHandler(u"G3");
  area->AddGenericHandler(u"G2")->AddNotificationHandler(u"X", e.Fn());

  std::int64_t id = area->Add(u"X");
  ASSERT_GT(id, 0);
  TJob* job = JobPool->JobById(id);
  EXPECT_TRUE(job->IsNotification);
  EXPECT_EQ(job->Handler, area);  // stays on the handler it was queued on
  job->FnToCallPrepare();
  std::vector<TJobHandler*> handlers;
  for (const TJobFnCallInfo& call : job->FnList) handlers.push_back(call.Handler);
  ASSERT_EQ(handlers.size(), 4u);
  EXPECT_EQ(handlers[1], g1);
  job->ExecuteFns();
  EXPECT_EQ(Log, (std::vector<Text>{u"A", u"B", u"C", u"E"}));  // depth first

  // Below a handler with a function, that ancestor alone takes the job.
  Log.clear();
  TJob* below = JobPool->JobById(g3->Add(u"X"));
  ASSERT_NE(below, nullptr);
  below->FnToCallPrepare();
  ASSERT_EQ(below->FnList.size(), 1u);
  EXPECT_EQ(below->FnList[0].Handler, g1);
  below->ExecuteFns();
  EXPECT_EQ(Log, (std::vector<Text>{u"B"}));
  EXPECT_EQ(Alerts.Count(), 0);
}

TEST_F(JobPoolTest, FunctionHandlersAreFoundByNameOrFunction) {
  TWork w{&Log, u"w"};
  TJobHandler* area = Area();
  TJobHandler* n = area->AddNotificationHandler(u"Work", w.Fn());
  TJobHandler* f = area->AddGenericHandler(u"Sub")->AddFunctionHandler(u"Work", w.Fn());
  EXPECT_EQ(area->HandlerFind(u"Work"), f);
  EXPECT_EQ(area->HandlerFind(w.Fn()), f);
  EXPECT_EQ(area->HandlerByNameOrFn(Text(), w.Fn(), jhAny), n);
  EXPECT_EQ(area->HandlerByNameOrFn(u"Work", nullptr, jhNotification), n);
  EXPECT_EQ(area->HandlerByNameOrFn(Text(), nullptr, jhAny), nullptr);  // an empty name matches nothing
  EXPECT_EQ(area->HandlerByNameOrFn(u"work", nullptr, jhAny), nullptr);  // names match exactly
  EXPECT_EQ(JobPool->RootHandler->HandlerFind(u"JobPool.SyncMain"), JobHandlerMain->Children[0].get());
  EXPECT_EQ(JobHandlerAsync->HandlerFind(u"JobPool.SyncMain"), nullptr);
  EXPECT_EQ(n->HandlerTypeAsString(), u"Notification");
  EXPECT_EQ(area->HandlerTypeAsString(), u"Generic");

  // A free function is a method reference as well; different functions differ.
  TJobFn freeFn = TJobFn::Of(&FreeJobFn);
  EXPECT_EQ(freeFn, TJobFn::Of(&FreeJobFn));
  EXPECT_FALSE(freeFn == w.Fn());
  EXPECT_TRUE(TJobFn().IsEmpty());
  EXPECT_EQ(TJobFn::FromMethod(TextToMethod(MethodToText(freeFn.AsMethod()))), freeFn);
  area->AddFunctionHandler(u"Free", freeFn);
  TJob* job = JobPool->JobById(area->Add(freeFn));
  job->FnToCallPrepare();
  job->ExecuteFns();
  EXPECT_EQ(job->ParamGet(u"ran"), Variant(true));
}

TEST_F(JobPoolTest, AFunctionJobWithoutHandlerIsQueuedWithAnAlert) {
  TWork w{&Log, u"w"};
  TJobHandler* area = Area();
  std::int64_t id = area->Add(w.Fn());
  EXPECT_GT(id, 0);
  EXPECT_EQ(Alerts.CountOf(u"Function handler not found for Job"), 1);
  TJob* job = JobPool->JobById(id);
  ASSERT_NE(job, nullptr);
  EXPECT_FALSE(job->IsNotification);
  job->FnToCallPrepare();
  EXPECT_EQ(Alerts.CountOf(u"Job  is building an Fn list (due to no handler), but is not marked as a Notification"), 1);
  EXPECT_TRUE(job->FnList.empty());
}

TEST_F(JobPoolTest, AJobWithNeitherNameNorFunctionIsQueuedWithAnAlert) {
  TJobHandler* area = Area();
  EXPECT_GT(area->Add(Text()), 0);
  EXPECT_GT(area->Add(TJobFn()), 0);
  EXPECT_EQ(Alerts.CountOf(Text()), 2);
  EXPECT_EQ(Async()->Jobs.size(), 2u);
}

TEST_F(JobPoolTest, AJobWithoutAnyGroupIsDroppedWithAnAlert) {
  TJobHandler* loose = JobPool->RootHandler->AddGenericHandler(u"Loose");
  EXPECT_EQ(loose->Add(u"Job"), 0);
  EXPECT_TRUE(Alerts.AnyStartsWith(u"Job Job dropped"));
}

TEST_F(JobPoolTest, AJobGroupParameterOnlyMakesTheGroup) {
  TJobHandler* area = Area();
  std::int64_t id = area->Add(u"Job", FlexArrayFromPairs({kJobGroup, u"Side"}));
  ASSERT_GT(id, 0);
  EXPECT_EQ(JobPool->Groups.back()->Name, u"Side");
  EXPECT_TRUE(JobPool->Groups.back()->Jobs.empty());
  EXPECT_EQ(JobPool->JobById(id)->Group, Async());
}

TEST_F(JobPoolTest, JobsForARemovingHandlerAreDropped) {
  TJobHandler* area = Area();
  TJobHandler* sub = area->AddGenericHandler(u"Sub");
  area->IsRemoving = true;
  EXPECT_EQ(area->Add(u"Job"), 0);
  EXPECT_EQ(sub->Add(u"Job"), 0);
  EXPECT_TRUE(Async()->Jobs.empty());
  EXPECT_EQ(Alerts.Count(), 0);
}

TEST_F(JobPoolTest, RemovingAHandlerAbortsItsQueuedJobs) {
  TWork w{&Log, u"w"}, keep{&Log, u"keep"};
  TJobHandler* area = Area();
  TJobHandler* sub = area->AddGenericHandler(u"Sub");
  sub->AddFunctionHandler(u"Work", w.Fn());
  Area(u"Other")->AddFunctionHandler(u"Keep", keep.Fn());
  std::int64_t byFn = sub->Add(w.Fn());
  std::int64_t named = sub->Add(u"Note");
  std::int64_t kept = JobHandlerAsync->Add(keep.Fn());
  std::int64_t otherNamed = JobHandlerAsync->Add(u"Note");
  TEvent* aborted = JobPool->JobById(named)->EventAdd(jetOnAborted);
  std::size_t handlers = JobPool->Handlers.size();

  area->Remove();
  EXPECT_EQ(JobPool->Handlers.size(), handlers - 3);
  EXPECT_EQ(JobHandlerAsync->HandlerFind(w.Fn()), nullptr);
  EXPECT_EQ(JobPool->JobById(byFn), nullptr);
  EXPECT_EQ(JobPool->JobById(named), nullptr);
  EXPECT_NE(JobPool->JobById(kept), nullptr);
  EXPECT_NE(JobPool->JobById(otherNamed), nullptr);  // a named job of another handler stays
  EXPECT_TRUE(aborted->IsSet());
  aborted->DeReference();

  // By function, and every handler of an object.
  JobHandlerAsync->RemoveHandler(TJobFn());  // no function: nothing to find, nothing removed
  EXPECT_EQ(Alerts.CountOf(Text()), 1);
  Alerts.Clear();
  EXPECT_EQ(JobPool->Handlers.size(), handlers - 3);
  TJobHandler* other = JobHandlerAsync->HandlerFind(u"Keep")->Parent;
  other->AddNotificationHandler(u"N", keep.Fn());
  JobPool->RemoveHandlers(&keep);
  EXPECT_EQ(JobHandlerAsync->HandlerByNameOrFn(Text(), keep.Fn(), jhAny), nullptr);
  EXPECT_EQ(JobPool->JobById(kept), nullptr);
  ASSERT_EQ(JobHandlerAsync->Children.size(), 1u);  // "Other" itself has no function: it stays
  EXPECT_EQ(JobHandlerAsync->Children[0].get(), other);
  EXPECT_EQ(JobPool->Handlers.size(), handlers - 4);
  EXPECT_EQ(Alerts.Count(), 0);
}

TEST_F(JobPoolTest, RemovingAHandlerWithItsGroup) {
  TJobHandler* area = Area();
  area->GroupSet(u"Own");
  area->Add(u"Job");
  std::size_t groups = JobPool->Groups.size();
  area->RemoveHandlerAndGroup();
  EXPECT_EQ(JobPool->Groups.size(), groups - 1);
  EXPECT_EQ(Alerts.Count(), 0);

  // A group still in use goes with an alert; its handler falls back to its ancestors' group.
  TJobHandler* user = Area(u"User");
  user->GroupSet(u"Used");
  delete user->Group;
  EXPECT_EQ(Alerts.Count(), 1);
  EXPECT_EQ(user->Group, nullptr);
  EXPECT_EQ(user->GroupDerived(), Async());
}

TEST_F(JobPoolTest, AbortingAQueuedJobFreesItAndSignals) {
  TJobHandler* area = Area();
  TWork w{&Log, u"completed"};
  std::int64_t id = area->Add(u"Job");
  TJob* job = JobPool->JobById(id);
  TEvent* aborted = job->EventAdd(jetOnAborted);
  TEvent* completed = job->EventAdd(jetOnCompletion);
  job->OnCompleted = w.Fn();
  EXPECT_TRUE(aborted->IsNotSet());
  EXPECT_TRUE(JobPool->AbortJob(id, 0));
  EXPECT_TRUE(aborted->IsSet());
  EXPECT_TRUE(completed->IsSet());  // freed: nobody waits for a job that is gone
  EXPECT_EQ(Log, (std::vector<Text>{u"completed"}));
  EXPECT_EQ(JobPool->JobById(id), nullptr);
  EXPECT_TRUE(Async()->Jobs.empty());
  EXPECT_TRUE(JobPool->AbortJob(id, 0));  // unknown: gone already
  aborted->DeReference();
  completed->DeReference();

  TWork x{&Log, u"x"};
  area->AddFunctionHandler(u"X", x.Fn());
  area->Add(x.Fn());
  area->Add(u"Job");
  area->Add(x.Fn(), FlexArrayFromPairs({u"p", 1}));
  JobPool->AbortJobsByFn(x.Fn());
  ASSERT_EQ(Async()->Jobs.size(), 1u);
  EXPECT_EQ(Async()->Jobs[0]->Name, u"Job");
  JobPool->AbortAllJobs();
  EXPECT_TRUE(Async()->Jobs.empty());
}

TEST_F(JobPoolTest, ARunningJobIsAbortedAfterItsRun) {
  TJobHandler* area = Area();
  std::int64_t id = area->Add(u"Job");
  std::unique_ptr<TJob> running = Async()->JobExtract(JobPool->JobById(id));  // as the scheduler takes it
  ASSERT_NE(running, nullptr);
  JobPool->Lock();
  JobPool->JobInMainThread = running.get();
  JobPool->UnLock();
  EXPECT_FALSE(JobPool->AbortJob(id, 0));
  EXPECT_TRUE(TJob::IsSetAndAborted(running.get()));
  EXPECT_FALSE(TJob::IsSetAndAborted(nullptr));
  TEvent* late = running->EventAdd(jetOnAborted);
  EXPECT_TRUE(late->IsSet());  // the abort happened before: signalled at once
  EXPECT_NE(running->EventFind(late), nullptr);
  late->DeReference();

  // Waiting for its end: another thread ends the run while AbortJob waits without the lock.
  std::thread finisher([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    JobPool->Lock();
    JobPool->JobInMainThread = nullptr;
    running.reset();
    JobPool->UnLock();
  });
  EXPECT_TRUE(JobPool->AbortJob(id, 10000));
  finisher.join();
}

TEST_F(JobPoolTest, ExecuteFnsSurvivesARaisingFunction) {
  TWork boom{&Log, u"1"}, ok{&Log, u"ok"};
  TLock taken(u"TakenByTheJob");
  struct TWatch {
    std::vector<Text>* Log;
    TLock* Lock;
    void Before(TJob& aJob) { Log->push_back(u"before " + aJob.Name); }
    void OnException(TJob& aJob, const std::exception& aException) {
      Log->push_back(u"exception " + Utf8ToText(aException.what()));
    }
    void TakeAndRaise(TJob& aJob) {
      Lock->Acquire();
      Lock->Acquire();
      throw Exception(u"boom with lock");
    }
  } watch{&Log, &taken};
  JobPool->OnBeforeJobExecute = TJobFn::Of<&TWatch::Before>(&watch);
  JobPool->OnJobException = TJobExceptionFn::Of<&TWatch::OnException>(&watch);
  gHandedOff.clear();
  JobExceptionHandOff = &RecordHandOff;

  TJobHandler* area = Area();
  TJobHandler* h1 = area->AddNotificationHandler(u"Boom", TJobFn::Of<&TWatch::TakeAndRaise>(&watch));
  area->AddNotificationHandler(u"Boom", TJobFn::Of<&TWork::RaiseStd>(&boom));
  TJobHandler* h3 = area->AddNotificationHandler(u"Boom", ok.Fn());
  std::unique_ptr<TJob> job = Async()->JobExtract(JobPool->JobById(area->Add(u"Boom")));
  job->FnToCallPrepare();
  ASSERT_EQ(job->FnList.size(), 3u);
  job->ExecuteFns();

  EXPECT_FALSE(taken.IsTakenByCurrentThread());
  EXPECT_EQ(taken.TakenCountGet(), 0);
  EXPECT_EQ(Log, (std::vector<Text>{u"before Boom", u"exception boom with lock", u"exception std boom", u"ok"}));
  EXPECT_EQ(gHandedOff, (std::vector<Text>{u"boom with lock", u"std boom"}));

  job->PerformanceCalculateAverages();
  EXPECT_EQ(h1->RunsCount, 1);
  EXPECT_EQ(h3->RunsCount, 1);
  EXPECT_EQ(h3->TimeMin, job->FnList[2].TimeTotal);
  EXPECT_EQ(h3->TimeMax, job->FnList[2].TimeTotal);
  EXPECT_EQ(h3->CyclesMin, job->FnList[2].Cycles);
  EXPECT_GE(h3->CyclesMin, 0);
  // The pool lock is free again for everyone.
  bool free = false;
  std::thread([&] {
    JobPool->Lock();
    free = true;
    JobPool->UnLock();
  }).join();
  EXPECT_TRUE(free);
}

TEST_F(JobPoolTest, SyncMainSignalsItsStartAndWaitsForItsStop) {
  TEvent* start = TEvent::Create();
  start->Reference();  // the job's, as SyncWithMainThreadStart hands it over: dropped once signalled
  TEvent* stop = TEvent::Create();  // handed over: the job frees it
  stop->SetEvent();
  TFlexArray p;
  p.SetKeyAndValue(Variant(u"StartEvent"), Variant(PointerToText(start)));
  p.SetKeyAndValue(Variant(u"StopEvent"), Variant(PointerToText(stop)));
  std::int64_t id = JobHandlerMain->Add(u"JobPool.SyncMain", p);
  TJob* queued = JobPool->JobById(id);
  ASSERT_NE(queued, nullptr);
  EXPECT_EQ(queued->Group, JobHandlerMain->Group);
  std::unique_ptr<TJob> job = JobHandlerMain->Group->JobExtract(queued);
  job->FnToCallPrepare();
  job->ExecuteFns();
  EXPECT_TRUE(start->IsSet());
  EXPECT_EQ(start->ReferenceCountGet(), 1);
  start->DeReference();
}

TEST_F(JobPoolTest, ParametersAndTheirHelpers) {
  TJobHandler* area = Area();
  TJob* job = JobPool->JobById(area->Add(u"Job", FlexArrayFromPairs({u"a", 1, kJobRepeat, 1000})));
  EXPECT_TRUE(job->IsRepetetive());
  EXPECT_EQ(job->ParamGet(u"A"), Variant(1));
  job->ReTryIn(2000);
  EXPECT_EQ(job->ParamGet(kJobNextDelay), Variant(std::int64_t{2000}));
  job->NextDelaySkip();
  EXPECT_EQ(job->ParamGet(kJobNextDelay), Variant(std::int64_t{0}));
  EXPECT_EQ(job->ToString(), u"Job (a: \"1\", \r\nJobRepeat: \"1000\", \r\nJobNextDelay: \"0\"\r\n)");
  EXPECT_TRUE(TJobPool::UniqueParams(FlexArrayFromPairs({kJobDelay, 1, u"x", 2, kJobRepeat, 3, kJobNoLogging, true,
                                                         kJobNextDelay, 4, kJobUnique, true}))
                  .IsSameAs({u"x", 2, kJobUnique, true}));
  EXPECT_TRUE(JobPool->JobById(area->Add(u"Quiet", FlexArrayFromPairs({kJobNoLogging, 1})))->NoLogging);
  EXPECT_FALSE(job->NoLogging);
  job->EventRemove(nullptr);
  EXPECT_EQ(Alerts.CountOf(u"Should not be used"), 1);
}

TEST_F(JobPoolTest, DestroyingThePoolFreesQueuedJobsAndClearsTheGlobals) {
  TJobHandler* area = Area();
  TEvent* completed = JobPool->JobById(area->Add(u"Job"))->EventAdd(jetOnCompletion);
  TearDown();
  EXPECT_EQ(JobPool, nullptr);
  EXPECT_EQ(JobHandlerMain, nullptr);
  EXPECT_EQ(JobHandlerAsync, nullptr);
  EXPECT_TRUE(completed->IsSet());
  completed->DeReference();
  SetUp();  // for the fixture's own TearDown
}

}  // namespace
