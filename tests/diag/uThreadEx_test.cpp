#include "diag/uThreadEx.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "TestSupport.h"
#include "crashreport/ThreadNames.h"

namespace {

// Polls a condition that another thread makes true; bounded so that a failure cannot hang.
bool WaitUntil(const std::function<bool()>& aCondition) {
  for (int i = 0; i < 20000; ++i) {
    if (aCondition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return aCondition();
}

class TCountingThread : public TThreadEx {
 public:
  explicit TCountingThread(const Text& aName = u"Counting") : TThreadEx(aName) {}
  std::atomic<int> Steps{0};
  std::atomic<int> Starts{0};
  std::atomic<int> Ends{0};
  std::function<void(int)> OnStep;  // the step number, from 1
  std::function<bool(const Exception&)> Handles;

 protected:
  void ExecuteStart() override { ++Starts; }
  void ExecuteStep() override {
    int n = ++Steps;
    if (OnStep) OnStep(n);
  }
  void ExecuteException(const Exception& aException, bool& bHandled) override {
    if (Handles) bHandled = Handles(aException);
  }
  void ExecuteEnd() override {
    ++Ends;
    TThreadEx::ExecuteEnd();
  }
};

}  // namespace

TEST(TThreadEx, SleepsUntilAlertedByDefault) {
  TCountingThread t;
  EXPECT_EQ(t.Interval.load(), 0xFFFFFFFFu);
  EXPECT_FALSE(t.IsStarted());
  t.Start();
  ASSERT_TRUE(WaitUntil([&] { return t.IsSleeping.load(); }));
  EXPECT_TRUE(t.IsStarted());
  EXPECT_EQ(t.Steps.load(), 1);
  EXPECT_EQ(t.Starts.load(), 1);
  t.Alert();
  ASSERT_TRUE(WaitUntil([&] { return t.Steps.load() == 2 && t.IsSleeping.load(); }));
  EXPECT_EQ(t.Steps.load(), 2) << "one alert, one step";
}

TEST(TThreadEx, IntervalZeroRunsStepsBackToBack) {
  TCountingThread t;
  t.Interval = 0;
  std::atomic<bool> slept{false};
  t.OnStep = [&](int n) {
    if (t.IsSleeping.load()) slept = true;
    if (n == 200) t.Terminate();
  };
  t.Start();
  EXPECT_EQ(t.WaitFor(), 0u);  // no alert is ever sent: only steps without sleeps get there
  EXPECT_EQ(t.Steps.load(), 200);
  EXPECT_FALSE(slept.load());
  EXPECT_TRUE(t.IsFinished.load());
}

TEST(TThreadEx, SkipNextDelaySkipsExactlyOneSleep) {
  TCountingThread t;
  t.OnStep = [&](int n) {
    if (n == 1) t.SkipNextDelay();
  };
  t.Start();
  ASSERT_TRUE(WaitUntil([&] { return t.IsSleeping.load(); }));
  EXPECT_EQ(t.Steps.load(), 2) << "the sleep after step 1 was skipped, the one after step 2 was not";
}

TEST(TThreadEx, AnAlertDuringAStepIsNotLost) {
  TCountingThread t;
  t.OnStep = [&](int n) {
    if (n == 1) {
      t.Alert();
      t.Alert();  // several alerts in one step wake once
    }
  };
  t.Start();
  ASSERT_TRUE(WaitUntil([&] { return t.IsSleeping.load() && t.Steps.load() >= 2; }));
  EXPECT_EQ(t.Steps.load(), 2);
}

// Alerts that find one pending add nothing; none may be lost in the moment between the
// thread's wake-up and its next step, while another thread keeps alerting.
TEST(TThreadEx, EveryAlertAfterTheThreadSleptWakesIt) {
  TCountingThread t;
  t.Start();
  for (int round = 0; round < 200; ++round) {
    ASSERT_TRUE(WaitUntil([&] { return t.IsSleeping.load(); }));
    const int before = t.Steps.load();
    t.Alert();
    ASSERT_TRUE(WaitUntil([&] { return t.Steps.load() > before; })) << "round " << round;
  }
  std::atomic<bool> stop{false};
  std::thread alerter([&] {
    while (!stop.load()) t.Alert();
  });
  ASSERT_TRUE(WaitUntil([&] { return t.Steps.load() > 400; }));
  stop = true;
  alerter.join();
  ASSERT_TRUE(WaitUntil([&] { return t.IsSleeping.load(); }));
  const int before = t.Steps.load();
  t.Alert();
  EXPECT_TRUE(WaitUntil([&] { return t.Steps.load() == before + 1; })) << "an alert after the storm still wakes it";
}

TEST(TThreadEx, TerminateWhileSleepingEndsAtOnce) {
  TCountingThread t;
  std::atomic<int> finished{0}, requested{0};
  t.OnFinished = [&] { ++finished; };
  t.OnTerminationRequested = [&] { ++requested; };
  t.Start();
  ASSERT_TRUE(WaitUntil([&] { return t.IsSleeping.load(); }));
  t.TerminateAndWait();
  EXPECT_TRUE(t.IsTerminated());
  EXPECT_EQ(t.Steps.load(), 1) << "no further step";
  EXPECT_EQ(t.Ends.load(), 1);
  EXPECT_EQ(finished.load(), 1);
  EXPECT_EQ(requested.load(), 1);
  EXPECT_TRUE(t.IsFinished.load());
}

TEST(TThreadEx, AHandledStepExceptionKeepsTheLoopGoing) {
  TCountingThread t;
  std::atomic<int> hooked{0};
  ThreadExceptionHook = [&](TThreadEx*, const Exception& e, bool& handled) {
    if (e.Message() == u"step 1 failed") ++hooked;
    EXPECT_TRUE(handled);
  };
  t.OnStep = [](int n) {
    if (n == 1) throw Exception(u"step 1 failed");
  };
  t.Handles = [](const Exception& e) { return e.Message() == u"step 1 failed"; };
  t.Start();
  ASSERT_TRUE(WaitUntil([&] { return t.IsSleeping.load(); }));
  EXPECT_EQ(t.Steps.load(), 1) << "the loop went on with the sleep";
  t.Alert();
  ASSERT_TRUE(WaitUntil([&] { return t.Steps.load() == 2; }));
  t.TerminateAndWait();
  EXPECT_TRUE(t.IsFinished.load());
  EXPECT_EQ(hooked.load(), 1);
  ThreadExceptionHook = nullptr;
}

TEST(TThreadEx, AnUnhandledStepExceptionEndsTheThread) {
  TCountingThread t;
  std::atomic<int> finished{0};
  t.OnFinished = [&] { ++finished; };
  t.OnStep = [](int) { throw Exception(u"fatal"); };
  t.Start();
  t.WaitFor();
  EXPECT_FALSE(t.IsFinished.load());
  EXPECT_EQ(finished.load(), 0) << "ExecuteEnd does not run";
  ASSERT_TRUE(t.FatalException);
  try {
    std::rethrow_exception(t.FatalException);
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), u"fatal");
  }
}

TEST(TThreadEx, Names) {
  TCountingThread t(u"Worker");
  t.SetName(u"Worker");  // same name: nothing happens
  EXPECT_EQ(t.NameGet(), u"Worker");
  EXPECT_EQ(ThreadNameGet(0), u"") << "before the start there is no id to record the name under";
  t.Start();
  ASSERT_TRUE(WaitUntil([&] { return t.IsSleeping.load(); }));
  win::DWORD id = t.ThreadId.load();
  EXPECT_NE(id, 0u);
  EXPECT_EQ(ThreadNameGet(id), u"Worker") << "recorded once the thread runs";
  t.SetName(u"Worker 2");
  EXPECT_EQ(ThreadNameGet(id), u"Worker 2");
  t.SetName(u"Wörker ünicode");  // not ANSI everywhere: still harmless
  EXPECT_EQ(ThreadNameGet(id), u"Wörker ünicode");
  t.TerminateAndWait();
}

TEST(TThreadEx, DestroyingTerminatesAndWaits) {
  std::atomic<int> finished{0};
  {
    auto t = std::make_unique<TCountingThread>();
    t->OnFinished = [&] { ++finished; };
    t->Start();
    ASSERT_TRUE(WaitUntil([&] { return t->IsSleeping.load(); }));
  }
  EXPECT_EQ(finished.load(), 1);
  {
    TCountingThread never;  // never started: destroyed without waiting
    EXPECT_EQ(never.WaitFor(), 0u) << "a failing wait returns 0 instead of raising";
  }
}

TEST(TThreadEx, TerminateAndWaitOnTheThreadItselfReturns) {
  TCountingThread t;
  std::atomic<bool> returned{false};
  t.OnStep = [&](int) {
    t.TerminateAndWait();
    returned = true;
  };
  t.Start();
  ASSERT_TRUE(WaitUntil([&] { return returned.load() && t.IsSleeping.load(); }));
  EXPECT_FALSE(t.IsTerminated()) << "on the thread itself it does nothing at all";
  EXPECT_EQ(t.Steps.load(), 1);
  t.TerminateAndWait();
  EXPECT_TRUE(t.IsFinished.load());
}

TEST(TThreadEx, FreeOnTerminateDestroysItself) {
  std::atomic<int> finished{0};
  std::atomic<win::DWORD> id{0};
  auto* t = new TCountingThread(u"Self-freeing");
  t->Interval = 0;
  t->FreeOnTerminate = true;
  t->OnFinished = [&] { ++finished; };
  t->OnStep = [t, &id](int) {
    id = t->ThreadId.load();
    t->Terminate();
  };
  t->Start();
  // Its name leaves the register as the last act of its destruction.
  ASSERT_TRUE(WaitUntil([&] { return finished.load() == 1 && id.load() != 0 && ThreadNameGet(id.load()).empty(); }));
}
