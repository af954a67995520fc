// Hang detection with the job pool running, and the memory watch.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>
#include <thread>
#include <vector>

#include "DebugRecorder.h"
#include "TestSupport.h"
#include "diag/uDebug.h"
#include "diag/uJobPool.h"
#include "diag/uMisc.h"
#include "diag/uThreadSync.h"
#include "diag/uUnits.h"
#include "params/uMiscLean.h"
#include "platform/win32api.h"
#ifndef _WIN32
#include "platform/sim/clock.h"
#endif

namespace {

// A debug facility of its own with a lock controller and a job pool, as Units makes them, in
// place of the test program's; lines and reports still reach the test program's recorder.
class DebugOfItsOwn {
 public:
  DebugOfItsOwn() {
    FPrograms = Debug;
    FHandOff = JobExceptionHandOff;
    Debug = nullptr;
    FUnits = std::make_unique<TUnits>();
    FUnits->Add<TLockController>(u"uThreadSync", &LockController, {});
    FUnits->Add<TJobPool>(u"uJobPool", &JobPool, {u"uThreadSync"});
    FUnits->Add<TDebug>(u"uDebug", &Debug, {u"uThreadSync", u"uJobPool"});
    FUnits->Run();
    Debug->OnProblemNotify = FPrograms->OnProblemNotify;
    Debug->LoggingEnabled = true;
  }
  ~DebugOfItsOwn() {
    if (JobPool->Active) JobPool->Shutdown();
    FUnits.reset();
    Debug = FPrograms;
    JobExceptionHandOff = FHandOff;
  }

 private:
  TDebug* FPrograms;
  TJobExceptionHandOff FHandOff;
  std::unique_ptr<TUnits> FUnits;
};

std::vector<Text> LinesStartingWith(const Text& aPrefix) {
  std::vector<Text> r;
  for (const Text& l : LogLinesRecordedGet())
    if (l.rfind(aPrefix, 0) == 0) r.push_back(l);
  return r;
}

// ---- The memory watch --------------------------------------------------------------------

TEST(MemoryWatch, LinesAndAlertsByChangeAndLevel) {
  DebugOfItsOwn debug;
  struct TCase {
    std::uint64_t FromMb, ToMb;
    bool Line, Alert;
  };
  const TCase cases[] = {
      {150, 250, true, true},    // into "High"
      {250, 240, false, false},  // 4 %, same level
      {600, 480, true, false},   // "Very High" down to "High"
      {100, 120, true, false},   // 20 %, no level
      {5, 10, false, false},     // less than 11 MB in use
  };
  for (const TCase& c : cases) {
    LogLinesRecordedClear();
    ProblemsRecordedClear();
    std::uint64_t bytes = c.FromMb * 1048576;
    Debug->MemoryAllocatedFn = [&] { return bytes; };
    Debug->MemoryConsumptionLastMb = 0;
    TJob job(JobPool);
    Debug->MemoryConsumptionCheck(job);
    EXPECT_TRUE(LinesStartingWith(u"[Performance]").empty()) << "the first check only notes the figure";
    bytes = c.ToMb * 1048576 + 1000;
    Debug->MemoryConsumptionCheck(job);
    const auto lines = LinesStartingWith(u"[Performance]");
    const auto pct = static_cast<std::int64_t>(std::nearbyint(std::abs(double(c.ToMb) - double(c.FromMb)) / c.FromMb * 100));
    if (c.Line) {
      ASSERT_EQ(lines.size(), 1u) << c.FromMb << " -> " << c.ToMb;
      EXPECT_EQ(lines[0], u"[Performance] Memory changed from " + IntToText(c.FromMb) + u" MB to " + IntToText(c.ToMb) +
                              u" MB (" + IntToText(pct) + u"%)");
    } else {
      EXPECT_TRUE(lines.empty()) << c.FromMb << " -> " << c.ToMb;
    }
    std::vector<Text> alerts;
    for (const auto& p : ProblemsRecordedGet())
      if (p.Type == u"Alert") alerts.push_back(p.Message);
    if (c.Alert)
      EXPECT_EQ(alerts, std::vector<Text>{u"Memory usage increased to  " + IntToText(c.ToMb) + u" MB"});
    else
      EXPECT_TRUE(alerts.empty()) << c.FromMb << " -> " << c.ToMb;
    EXPECT_EQ(Debug->MemoryConsumptionLastMb, static_cast<std::int32_t>(c.ToMb));
  }
  ProblemsRecordedClear();
}

TEST(MemoryWatch, RealAllocationsMoveTheFigure) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizer's allocator keeps its own statistics";
#endif
  const std::uint64_t before = MemoryAllocatedGet();
  auto block = std::make_unique<char[]>(64u << 20);
  std::fill_n(block.get(), 64u << 20, 'x');
  const std::uint64_t during = MemoryAllocatedGet();
  EXPECT_GE(during, before + (60u << 20)) << before << " -> " << during;
  block.reset();
  EXPECT_LT(MemoryAllocatedGet(), during - (60u << 20));
}

// ---- Hang detection ----------------------------------------------------------------------

#ifndef _WIN32
// The main thread blocked for whole seconds of the process's clock, which runs 20 times as
// fast as the host's here: the constants (1 s silence, 5 s probe, 15 s) are the program's.
class HangTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FScaleBefore = sim::TimeScaleGet();
    sim::TimeScaleSet(20);
    FDebug = std::make_unique<DebugOfItsOwn>();
    LogLinesRecordedClear();
    ProblemsRecordedClear();
  }
  void TearDown() override {
    FDebug.reset();
    sim::TimeScaleSet(FScaleBefore);
    ProblemsRecordedClear();
  }
  // Handles messages (the main loop's sign of life included) for aMs of the process's clock.
  static void Pump(win::DWORD aMs) {
    const win::DWORD start = win::GetTickCount();
    while (win::GetTickCount() - start < aMs) {
      Debug->HangDetectionIsAlive();
      win::MSG m{};
      while (win::PeekMessageW(&m, nullptr, 0, 0, win::PM_REMOVE)) win::DispatchMessageW(&m);
      win::Sleep(20);
    }
  }
  // Runs the pool, blocks the main thread for aBlockMs after a second of normal life, and
  // lives on until the check is over.
  static void BlockMainThread(win::DWORD aBlockMs) {
    JobPool->Start();
    Pump(1500);
    win::Sleep(aBlockMs);
    Pump(4000);
  }
  // Pumps until aDone holds or aCapMs of the process's clock have passed: the all-threads dump
  // of an extra-long hang takes real time (every thread's stack, with its lines), far more
  // under the thread sanitizer than the few hundred milliseconds of a fixed pump.
  template <class F>
  static void PumpUntil(F aDone, win::DWORD aCapMs) {
    const win::DWORD start = win::GetTickCount();
    while (!aDone() && win::GetTickCount() - start < aCapMs) Pump(100);
  }
  static std::vector<Text> Hang(const Text& aWhat) { return LinesStartingWith(u"[Hang] " + aWhat); }

  double FScaleBefore = 1;
  std::unique_ptr<DebugOfItsOwn> FDebug;
};

TEST_F(HangTest, ThreeSecondsAreAnsweredWithinTheProbe) {
  BlockMainThread(3000);
  EXPECT_TRUE(LinesStartingWith(u"[Hang]").empty());
  EXPECT_TRUE(ProblemsRecordedGet().empty());
}

TEST_F(HangTest, EightSecondsGiveOneReport) {
  BlockMainThread(8000);
  PumpUntil([] { return !Hang(u"No longer stuck").empty() && !ProblemsRecordedGet().empty(); }, 60000);
  ASSERT_EQ(Hang(u"Hang detected").size(), 1u);
  EXPECT_EQ(Hang(u"Hang detected")[0].find(u"known issue"), Text::npos);
  EXPECT_EQ(Hang(u"Hang detected")[0].rfind(u"[Hang] Hang detected. Hang start: ", 0), 0u);
  EXPECT_EQ(Hang(u"Main Thread Job: "), std::vector<Text>{u"[Hang] Main Thread Job: IDLE"});
  EXPECT_EQ(Hang(u"Main Thread Callstack:\r\n\r\n").size(), 1u);
  EXPECT_TRUE(Hang(u"Hang is extra long").empty());
  EXPECT_TRUE(Hang(u"ALL Callstacks").empty());
  const auto over = Hang(u"No longer stuck. Hang duration: ");
  ASSERT_EQ(over.size(), 1u);
  const std::int64_t ms = TextToInt64(over[0].substr(over[0].rfind(u' ') + 1));
  EXPECT_GT(ms, 3000);
  EXPECT_LT(ms, 12000);
  const auto problems = ProblemsRecordedGet();
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].Type, u"Hang");
  EXPECT_FALSE(problems[0].Report.HasKey(u"AllCallStacks"));
}

// The main thread shuts the pool down while the check is still probing it: the check must not
// wait for an answer from a thread that waits for it to end.
TEST_F(HangTest, AShutdownDuringAHangEndsTheCheck) {
  JobPool->Start();
  Pump(1500);
  win::Sleep(12000);
  ASSERT_EQ(Hang(u"Hang detected").size(), 1u);
  JobPool->Shutdown();
  EXPECT_TRUE(Hang(u"No longer stuck").empty());
  EXPECT_TRUE(ProblemsRecordedGet().empty());
}

TEST_F(HangTest, ThirtySecondsDumpAllThreadsAndQueueTheExtraJobsOnce) {
  std::atomic<int> extraRuns{0};
  struct TExtra {
    std::atomic<int>* Runs;
    void Run(TJob&) { ++*Runs; }
  } extra{&extraRuns};
  const TJobFn fn = TJobFn::Of<&TExtra::Run>(&extra);
  JobHandlerAsync->AddFunctionHandler(u"jaExtraInfo", fn);
  Debug->HangDetectionHandlerRegister(fn);
  EXPECT_TRUE(Debug->HangExtraInfoJobs.HasKey(u"jaExtraInfo"));
  BlockMainThread(30000);
  PumpUntil([&] { return extraRuns > 0 && !ProblemsRecordedGet().empty(); }, 600000);
  Pump(2000);  // time for a second dump or report that must not come
  EXPECT_EQ(Hang(u"Hang detected").size(), 1u);
  EXPECT_EQ(Hang(u"Hang is extra long, building callstacks for ALL threads").size(), 1u);
  EXPECT_EQ(Hang(u"ALL Callstacks:\r\n\r\n").size(), 1u);
  EXPECT_EQ(extraRuns, 1);
  const auto problems = ProblemsRecordedGet();
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_TRUE(problems[0].Report.HasKey(u"AllCallStacks"));
}

TEST_F(HangTest, AKnownIssueIsLoggedButNotReported) {
  JobPool->Start();
  Pump(1500);
  Debug->HangDetectionDeactivate();
  win::Sleep(8000);
  Debug->HangDetectionReActivate();
  Pump(4000);
  ASSERT_EQ(Hang(u"Hang detected").size(), 1u);
  EXPECT_NE(Hang(u"Hang detected")[0].find(u"Hang detected (known issue). Hang start: "), Text::npos);
  EXPECT_TRUE(Hang(u"Hang is extra long").empty());
  EXPECT_TRUE(ProblemsRecordedGet().empty());
}

TEST_F(HangTest, ABroadcastDuringTheProbeIgnoresTheHang) {
  std::atomic<bool> blocked{false};
  std::thread machine([&] {
    while (!blocked) win::Sleep(10);
    win::Sleep(3000);  // the main thread is blocked, a probe waits
    // The system sends it: the main thread takes it, in order, before the next probe.
    win::SendMessageTimeoutW(win::HWND_BROADCAST, win::WM_POWERBROADCAST, win::PBT_APMSUSPEND, 0, win::SMTO_NORMAL,
                             20000, nullptr);
  });
  JobPool->Start();
  Pump(1500);
  blocked = true;
  win::Sleep(8000);
  Pump(4000);
  machine.join();
  EXPECT_EQ(Hang(u"Hang timer reset due to WM_POWERBROADCAST. Subtype: "),
            std::vector<Text>{u"[Hang] Hang timer reset due to WM_POWERBROADCAST. Subtype: Suspend."});
  for (const auto& p : ProblemsRecordedGet()) EXPECT_NE(p.Type, u"Hang") << TextToUtf8(p.Message);
}

TEST_F(HangTest, BroadcastLabels) {
  const std::pair<win::WPARAM, Text> cases[] = {
      {4, u"Suspend"}, {7, u"Resume (key/mouse input)"}, {18, u"Resume (any kind)"}, {10, u"Other (10)"}};
  for (const auto& [subtype, label] : cases) {
    LogLinesRecordedClear();
    win::SendMessageW(Debug->HangDetectionMessageWindowHandle, win::WM_POWERBROADCAST, subtype, 0);
    EXPECT_EQ(LogLinesRecordedGet(),
              std::vector<Text>{u"[Hang] Hang timer reset due to WM_POWERBROADCAST. Subtype: " + label + u"."});
  }
  LogLinesRecordedClear();
  win::SendMessageW(Debug->HangDetectionMessageWindowHandle, win::WM_TIMECHANGE, 0, 0);
  EXPECT_EQ(LogLinesRecordedGet(), std::vector<Text>{u"[Hang] Hang timer reset due to WM_TIMECHANGE"});
  EXPECT_TRUE(Debug->HangDetectionIgnoreThisOne);
}
#endif

}  // namespace
