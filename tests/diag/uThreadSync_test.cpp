#include "diag/uThreadSync.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "DebugRecorder.h"
#include "TestSupport.h"
#include "diag/uMisc.h"
#include "params/uMiscLean.h"

namespace {

// A lock controller of its own for each test, made the way the program makes it.
class LockControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(LockController, nullptr) << "no other controller runs in the test program";
    FUnits = std::make_unique<TUnits>();
    FUnits->Add<TLockController>(u"uThreadSync", &LockController, {});
    FUnits->Run();
    ASSERT_NE(LockController, nullptr);
    ProblemsRecordedClear();
  }
  void TearDown() override {
    FUnits.reset();
  }

  static Text MessageOf(const std::function<void()>& aAction) {
    try {
      aAction();
    } catch (const Exception& e) {
      return e.Message();
    }
    return u"(no exception)";
  }

  // Runs aAction on a thread of its own and waits for it.
  static void OnOtherThread(const std::function<void()>& aAction) {
    std::thread t(aAction);
    t.join();
  }

  static bool HeldByAnotherThread(TLock& aLock) {
    bool got = false;
    OnOtherThread([&] {
      got = aLock.TryEnter();
      if (got) aLock.Release();
    });
    return !got;
  }

  static int LogEntriesOf(TLock* aLock, win::DWORD aThreadId) {
    auto ops = LockController->LockOperationsGet();
    return static_cast<int>(
        std::count_if(ops.begin(), ops.end(), [&](auto& op) { return op.Lock == aLock && op.ThreadId == aThreadId; }));
  }

  std::unique_ptr<TUnits> FUnits;
};

}  // namespace

TEST(LockControllerStartUp, RegistersAsTheFirstServiceWithNoNeeds) {
  ASSERT_NE(Units, nullptr);
  auto& regs = Units->UnitsToInitialize;
  auto it = std::find_if(regs.begin(), regs.end(), [](auto& r) { return r->DebugName == u"uThreadSync"; });
  ASSERT_NE(it, regs.end());
  EXPECT_TRUE((*it)->UnitsNeeded.empty());
}

TEST_F(LockControllerTest, AcquiringAgainstTheDeclaredOrderRaises) {
  TLock a(u"A"), b(u"B");
  LockController->SetLockSequence(&a, &b);
  TRecordedLines logged([](const Text& aLine) { return aLine.rfind(u"Lock Controller: ", 0) == 0; });
  b.Acquire();
  Text expected =
      u"Lock Controller: [Error] Attempt to acquire a lock violating lock taking sequence. Taken lock: Name = B, "
      u"Index in Hierarchy = #2. New lock: Name = A, Index in Hierarchy = #1.";
  EXPECT_EQ(MessageOf([&] { a.Acquire(); }), expected);
  EXPECT_EQ(logged.Get(), std::vector<Text>{expected}) << "the error is logged";
  EXPECT_FALSE(a.IsTakenByCurrentThread()) << "the error comes before the lock is taken";
  EXPECT_TRUE(a.WaitingThreadsGet().empty()) << "and leaves no waiting entry behind";
  EXPECT_EQ(LogEntriesOf(&a, win::GetCurrentThreadId()), 0);
  b.Release();
  a.Acquire();  // the declared order works
  b.Acquire();
  b.Release();
  a.Release();
}

TEST_F(LockControllerTest, AcquiringAgainstALearnedPatternRaises) {
  TLock l(u"L"), x(u"X"), n(u"N");
  LockController->SetLockSequence(&l, &x);
  n.Acquire();
  l.Acquire();  // learns (N, L)
  l.Release();
  n.Release();
  LockController->SetLockSequence(&l, &n);
  EXPECT_EQ(LockController->LocksHierarchyAsString(),
            u" - Locks Hierarchy (total: 3) -\r\n"
            u"Name = L, Index in Hierarchy = #1\r\n"
            u"Name = N, Index in Hierarchy = #2\r\n"
            u"Name = X, Index in Hierarchy = #3\r\n");
  l.Acquire();
  EXPECT_EQ(MessageOf([&] { n.Acquire(); }),
            u"Lock Controller: [Error] Attempt to acquire a lock violating previous lock taking pattern. Taken lock: "
            u"Name = L, Index in Hierarchy = #1. New lock: Name = N, Index in Hierarchy = #2.");
  EXPECT_FALSE(n.IsTakenByCurrentThread());
  l.Release();
}

TEST_F(LockControllerTest, PatternsAreLearnedAcrossThreads) {
  TLock a(u"A"), b(u"B");
  LockController->SetLockSequence(&a, &b);
  OnOtherThread([&] {
    a.Acquire();
    b.Acquire();
    b.Release();
    a.Release();
  });
  ASSERT_EQ(LockController->LockPairs.size(), 1u);
  EXPECT_EQ(LockController->LockPairs[0]->FirstLock, &a);
  EXPECT_EQ(LockController->LockPairs[0]->SecondLock, &b);
}

TEST_F(LockControllerTest, DeclaringTheOrder) {
  TLock a(u"A"), b(u"B"), c(u"C"), d(u"D");
  LockController->SetLockSequence(&a, &b);
  EXPECT_EQ(MessageOf([&] { LockController->SetLockSequence(&b, &a); }),
            u"Lock Controller: [Error] New requirement conflicts with existing lock hierarchy. First lock: Name = B, "
            u"Index in Hierarchy = #2. Second lock index: Name = A, Index in Hierarchy = #1.");
  LockController->SetLockSequence(&a, &c);
  EXPECT_EQ(LockController->LocksHierarchyGet(), (std::vector<TLock*>{&a, &c, &b}));
  LockController->SetLockSequence(&a, &b);  // already so: nothing changes
  LockController->SetLockSequence(&d, &c);  // a new first lock goes right before the second
  EXPECT_EQ(LockController->LocksHierarchyGet(), (std::vector<TLock*>{&a, &d, &c, &b}));
  EXPECT_NE(MessageOf([&] { LockController->SetLockSequence(&a, &a); }).find(u"Lock Controller: [Error] "),
            Text::npos);
  EXPECT_EQ(LockController->LocksHierarchyGet().size(), 4u);

  TLock unnamed;
  EXPECT_EQ(LockController->LockDescribe(&unnamed), u"Name = [undefined], Index in Hierarchy = #0");
  EXPECT_EQ(LockController->LockDescribe(&c), u"Name = C, Index in Hierarchy = #3");
}

TEST_F(LockControllerTest, ReentryNeverChecksAndIsLogged) {
  TLock a(u"A"), b(u"B");
  LockController->SetLockSequence(&a, &b);
  win::DWORD me = win::GetCurrentThreadId();
  b.Acquire();
  b.Acquire();  // re-entry: the held-lock scan does not run
  EXPECT_EQ(b.TakenCountGet(), 2);
  EXPECT_EQ(LogEntriesOf(&b, me), 2);
  TLock c(u"C");
  c.Acquire();
  b.Acquire();
  auto ops = LockController->LockOperationsGet();
  ASSERT_EQ(ops.size(), 4u);
  EXPECT_EQ(ops[2].Lock, &c) << "oldest first, across locks";
  EXPECT_EQ(ops[3].Lock, &b);
  for (std::size_t i = 0; i < ops.size(); ++i) EXPECT_EQ(ops[i].Id, static_cast<std::int64_t>(i + 1));
  b.Release();
  c.Release();
  EXPECT_TRUE(b.TryEnter());
  EXPECT_EQ(b.TakenCountGet(), 3);
  EXPECT_EQ(LogEntriesOf(&b, me), 3) << "TryEnter logs one acquisition";
  for (int i = 0; i < 3; ++i) b.Release();
  EXPECT_EQ(LogEntriesOf(&b, me), 0);
  EXPECT_FALSE(b.IsTakenByCurrentThread());
  EXPECT_EQ(LockController->LockOperationsLastIdGet(), 5) << "ids count up from 1";
}

// A thread keeps its own list of the locks it holds (a handful; the lock is asked beyond
// that): more locks than the list holds, in any order of release.
TEST_F(LockControllerTest, AThreadKnowsEveryLockItHolds) {
  std::vector<std::unique_ptr<TLock>> locks;
  for (int i = 0; i < 12; ++i) locks.push_back(std::make_unique<TLock>(u"L" + IntToText(i)));
  for (auto& l : locks) l->Acquire();
  locks[3]->Acquire();  // twice
  for (auto& l : locks) EXPECT_TRUE(l->IsTakenByCurrentThread());
  OnOtherThread([&] {
    for (auto& l : locks) EXPECT_FALSE(l->IsTakenByCurrentThread());
  });
  const int order[] = {0, 11, 5, 3, 7, 1, 10, 2, 9, 4, 8, 6};
  std::vector<bool> released(locks.size(), false);
  for (int i : order) {
    locks[i]->Release();
    if (i == 3) {
      EXPECT_TRUE(locks[3]->IsTakenByCurrentThread()) << "one holding of two left";
      locks[3]->Release();
    }
    released[i] = true;
    for (std::size_t k = 0; k < locks.size(); ++k) EXPECT_EQ(locks[k]->IsTakenByCurrentThread(), !released[k]) << k;
  }
  // A lock freed by the thread that held it leaves nothing behind for a lock made after it.
  auto gone = std::make_unique<TLock>(u"gone");
  gone->Acquire();
  gone.reset();
  auto after = std::make_unique<TLock>(u"after");  // most likely at the same address
  EXPECT_FALSE(after->IsTakenByCurrentThread());
}

TEST_F(LockControllerTest, ReleasingALockThatIsNotAcquiredRaises) {
  TLock a(u"A");
  EXPECT_EQ(MessageOf([&] { a.Release(); }), u"Releasing a lock, which is not acquired");
  a.Acquire();
  Text other;
  OnOtherThread([&] { other = MessageOf([&] { a.Release(); }); });
  EXPECT_EQ(other, u"Releasing a lock, which is not acquired") << "another thread's holding is not ours to release";
  EXPECT_TRUE(a.IsTakenByCurrentThread());
  EXPECT_EQ(a.TakenCountGet(), 1);
  a.Release();
  EXPECT_EQ(MessageOf([&] { a.Release(); }), u"Releasing a lock, which is not acquired");
}

TEST_F(LockControllerTest, TempUnLockAllAndReLockAll) {
  TLock l(u"L");
  win::DWORD me = win::GetCurrentThreadId();
  for (int i = 0; i < 3; ++i) l.Acquire();
  EXPECT_TRUE(l.TempUnLockAll());
  EXPECT_EQ(l.TakenCountGet(), 0);
  EXPECT_FALSE(HeldByAnotherThread(l)) << "free for others meanwhile";
  EXPECT_EQ(LogEntriesOf(&l, me), 0);
  l.TempReLockAll();
  EXPECT_EQ(l.TakenCountGet(), 3);
  EXPECT_TRUE(l.IsTakenByCurrentThread());
  EXPECT_EQ(LogEntriesOf(&l, me), 3);
  for (int i = 0; i < 3; ++i) l.Release();

  // A thread that does not hold the lock has nothing to give up or take back.
  EXPECT_FALSE(l.TempUnLockAll());
  l.TempReLockAll();
  EXPECT_EQ(l.TakenCountGet(), 0);
  EXPECT_FALSE(HeldByAnotherThread(l));

  // While another thread holds it, TempUnLockAll fails at once.
  l.Acquire();
  bool result = true;
  OnOtherThread([&] { result = l.TempUnLockAll(); });
  EXPECT_FALSE(result);
  EXPECT_EQ(l.TakenCountGet(), 1);
  l.Release();
}

TEST_F(LockControllerTest, ReleaseAllForThreadReleasesOnlyThatThreadsNewerLocks) {
  TLock p(u"P"), x(u"X"), y(u"Y"), w(u"W");
  win::DWORD me = win::GetCurrentThreadId();
  p.Acquire();  // before the mark: stays
  std::int64_t mark = LockController->LockOperationsLastIdGet();

  // Another thread takes W after the mark and keeps it until told.
  TEvent* taken = TEvent::Create();
  TEvent* letGo = TEvent::Create();
  win::DWORD otherId = 0;
  std::thread other([&] {
    otherId = win::GetCurrentThreadId();
    w.Acquire();
    taken->SetEvent();
    letGo->Wait(win::INFINITE);
    w.Release();
  });
  ASSERT_TRUE(taken->Wait(20000));

  auto failingJob = [&] {
    x.Acquire();
    for (int i = 0; i < 12; ++i) y.Acquire();  // deeper than a lock keeps inline
    throw Exception(u"job failed");
  };
  EXPECT_THROW(failingJob(), Exception);
  LockController->ReleaseAllForThread(me, mark);

  EXPECT_FALSE(x.IsTakenByCurrentThread());
  EXPECT_FALSE(y.IsTakenByCurrentThread());
  EXPECT_FALSE(HeldByAnotherThread(x));
  EXPECT_FALSE(HeldByAnotherThread(y));
  EXPECT_TRUE(p.IsTakenByCurrentThread());
  auto ops = LockController->LockOperationsGet();
  EXPECT_TRUE(std::none_of(ops.begin(), ops.end(), [&](auto& op) { return op.ThreadId == me && op.Id > mark; }));
  EXPECT_EQ(LogEntriesOf(&p, me), 1);
  EXPECT_EQ(LogEntriesOf(&w, otherId), 1) << "other threads' entries are untouched";
  EXPECT_TRUE(HeldByAnotherThread(w));

  letGo->SetEvent();
  other.join();
  p.Release();
  taken->DeReference();
  letGo->DeReference();

  // Only the thread itself can release its locks.
  x.Acquire();
  std::int64_t mark2 = LockController->LockOperationsLastIdGet() - 1;
  Text msg;
  OnOtherThread([&] { msg = MessageOf([&] { LockController->ReleaseAllForThread(me, mark2); }); });
  EXPECT_EQ(msg.rfind(u"Lock Controller: [Error] ", 0), 0u);
  EXPECT_TRUE(x.IsTakenByCurrentThread());
  x.Release();
}

TEST_F(LockControllerTest, HighPerformanceLocksAreCheckedButNotLogged) {
  TLock a(u"A"), b(u"B");
  b.IsHighPerformanceLock = true;
  LockController->SetLockSequence(&a, &b);
  b.Acquire();
  EXPECT_EQ(LogEntriesOf(&b, win::GetCurrentThreadId()), 0);
  EXPECT_NE(MessageOf([&] { a.Acquire(); }).find(u"lock taking sequence"), Text::npos);
  b.Release();
  EXPECT_FALSE(b.IsTakenByCurrentThread());
}

TEST_F(LockControllerTest, WaitingThreadsAreListedWhileBlocked) {
  TLock a(u"A");
  a.Acquire();
  std::atomic<win::DWORD> waiterId{0};
  std::atomic<bool> got{false};
  std::thread t([&] {
    waiterId = win::GetCurrentThreadId();
    a.Acquire();
    got = true;
    a.Release();
  });
  // Bounded: the thread lists itself as soon as it blocks.
  std::vector<win::DWORD> waiting;
  for (int i = 0; i < 20000 && waiting.empty(); ++i) {
    waiting = a.WaitingThreadsGet();
    if (waiting.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_EQ(waiting.size(), 1u);
  EXPECT_EQ(waiting[0], waiterId.load());
  EXPECT_FALSE(got.load());
  a.Release();
  t.join();
  EXPECT_TRUE(got.load());
  EXPECT_TRUE(a.WaitingThreadsGet().empty());
}

TEST_F(LockControllerTest, LocksExcludeEachOtherUnderLoad) {
  TLock a(u"A"), b(u"B");
  LockController->SetLockSequence(&a, &b);
  long counter = 0;
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i)
    threads.emplace_back([&] {
      for (int k = 0; k < 2000; ++k) {
        a.Acquire();
        b.Acquire();
        ++counter;
        b.Release();
        a.Release();
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, 8000);
  EXPECT_TRUE(LockController->LockOperationsGet().empty());
}

// A reader while locks change hands sees only acquisitions that are held: each with its
// holder's id, never one already released.
TEST_F(LockControllerTest, LockOperationsAreReadConsistentlyWhileLocksChangeHands) {
  std::vector<std::unique_ptr<TLock>> locks;
  for (int i = 0; i < 32; ++i) locks.push_back(std::make_unique<TLock>(u"Swap" + IntToText(i)));
  std::atomic<bool> stop{false};
  std::vector<std::thread> swappers;
  std::vector<win::DWORD> ids(3);
  std::atomic<int> started{0};
  for (int t = 0; t < 3; ++t) {
    swappers.emplace_back([&, t] {
      ids[t] = win::GetCurrentThreadId();
      started++;
      for (unsigned n = t; !stop.load(); n += 7) {
        TLock& l = *locks[n % locks.size()];
        l.Acquire();
        l.Acquire();
        l.Release();
        l.Release();
      }
    });
  }
  while (started < 3) std::this_thread::yield();
  int bad = 0, seen = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
  while (std::chrono::steady_clock::now() < end) {
    for (const TLockOperation& op : LockController->LockOperationsGet()) {
      if (op.Lock->Name.rfind(u"Swap", 0) != 0) continue;
      ++seen;
      if (std::find(ids.begin(), ids.end(), op.ThreadId) == ids.end()) ++bad;
    }
  }
  stop = true;
  for (auto& t : swappers) t.join();
  EXPECT_EQ(bad, 0) << "of " << seen;
}

TEST_F(LockControllerTest, DestroyedLocksLeaveNothingBehind) {
  TLock a(u"A");
  {
    TLock b(u"B");
    LockController->SetLockSequence(&a, &b);
    a.Acquire();
    b.Acquire();
    b.Release();
    a.Release();
  }
  EXPECT_EQ(LockController->LocksHierarchyGet(), std::vector<TLock*>{&a});
  EXPECT_TRUE(LockController->LockPairs.empty());
  EXPECT_EQ(std::count(LockController->TakenLocksList.begin(), LockController->TakenLocksList.end(), &a), 1);
}

TEST_F(LockControllerTest, EventReferenceCounting) {
  TEvent* e = TEvent::Create();
  EXPECT_EQ(e->ReferenceCountGet(), 1);
  EXPECT_TRUE(e->IsNotSet()) << "created not signalled";
  e->Reference();
  e->DeReference();
  EXPECT_EQ(e->ReferenceCountGet(), 1) << "still alive";
  e->SetEvent();
  EXPECT_TRUE(e->IsSet());
  EXPECT_TRUE(e->Wait(win::INFINITE)) << "manual reset: stays set";
  e->ResetEvent();
  EXPECT_FALSE(e->Wait(10));
  e->DeReference();  // destroyed
  EXPECT_TRUE(ProblemsRecordedGet().empty()) << "destroyed without a problem report";

  TEvent* shared = TEvent::Create();
  shared->Reference();
  delete shared;  // two references left: reported, destroyed all the same
  auto problems = ProblemsRecordedGet();
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].Type, u"Alert");
  ProblemsRecordedClear();
}

TEST_F(LockControllerTest, NamedEventsShareTheKernelEvent) {
  Text name = T("orvanta-tevent-" + std::to_string(win::GetCurrentProcessId()));
  TEvent* a = TEvent::CreateGlobal(name);
  TEvent* b = TEvent::CreateGlobal(name);
  a->SetEvent();
  EXPECT_TRUE(b->IsSet());
  a->DeReference();
  b->DeReference();
}
