#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "crashreport/CrashReport.h"
#include "platform/win32api.h"
#include "rtl/Exception.h"

namespace {

// Handlers registered for one test and removed after it.
class CrashReportTest : public ::testing::Test {
 protected:
  void TearDown() override { CrashReportHandlersRegister(nullptr, nullptr); }

  std::vector<std::string> FCalls;
};

__attribute__((noinline)) void ProbeCatchAndHand() {
  try {
    throw EDebugStop(u"Error: probe");
  } catch (const std::exception& e) {
    HandleException(e);
  }
  asm volatile("" ::: "memory");
}

__attribute__((noinline)) void ProbeWaitOn(win::HANDLE aEvent, std::atomic<bool>& aEntered) {
  aEntered = true;
  win::WaitForSingleObject(aEvent, win::INFINITE);
  asm volatile("" ::: "memory");
}

TEST_F(CrashReportTest, FilterThenCompleteWithExceptionAndThread) {
  TCrashReport seen;
  CrashReportHandlersRegister(
      [&](TCrashReport& r) {
        FCalls.push_back("filter");
        EXPECT_EQ(r.CallstackCount(), 1u);
        EXPECT_FALSE(r.CallstacksAllThreads);
        EXPECT_TRUE(r.ProcessesPart);
        r.ProcessesPart = false;
      },
      [&](TCrashReport& r) {
        FCalls.push_back("complete");
        r.Handled = true;
        seen = r;
      });
  ProbeCatchAndHand();
  EXPECT_EQ(FCalls, (std::vector<std::string>{"filter", "complete"}));
  EXPECT_EQ(TextToUtf8(seen.ExceptionClassName), "EDebugStop");
  EXPECT_EQ(TextToUtf8(seen.ExceptionMessage), "Error: probe");
  EXPECT_EQ(seen.CrashedThreadId, win::GetCurrentThreadId());
  EXPECT_FALSE(seen.ProcessesPart);
  EXPECT_TRUE(seen.Handled);
  ASSERT_EQ(seen.CallstackCount(), 1u);
  EXPECT_EQ(seen.CallstackThreadIdAt(0), win::GetCurrentThreadId());
  ASSERT_FALSE(seen.CallstackAt(0).empty());
  EXPECT_EQ(seen.CallstackAt(0)[0].ModuleName.find(u"crashreport_tests"), 0u);
  // The stack starts at the catching point, not inside the reporter.
  EXPECT_EQ(TextToUtf8(seen.CallstackAt(0)[0].RoutineName), "ProbeCatchAndHand");
#ifndef _WIN32
  EXPECT_EQ(TextToUtf8(seen.CallstackAt(0)[0].UnitName), "CrashReport_test");
#endif
}

TEST_F(CrashReportTest, NonFrameworkExceptionGivesWhatAndClass) {
  TCrashReport seen;
  CrashReportHandlersRegister(nullptr, [&](TCrashReport& r) { seen = r; });
  std::runtime_error e("disk on fire");
  HandleException(e);
  EXPECT_EQ(TextToUtf8(seen.ExceptionClassName), "runtime_error");
  EXPECT_EQ(TextToUtf8(seen.ExceptionMessage), "disk on fire");
  EXPECT_EQ(seen.ExceptionObject, &e);
}

TEST_F(CrashReportTest, AllThreadsAddsTheOtherThreadsAfterTheCrashingOne) {
  win::HANDLE ev = win::CreateEventW(nullptr, win::TRUE, win::FALSE, nullptr);
  std::atomic<bool> entered{false};
  std::atomic<win::DWORD> otherId{0};
  std::thread other([&] {
    otherId = win::GetCurrentThreadId();
    ProbeWaitOn(ev, entered);
  });
  while (!entered) win::Sleep(1);
  win::Sleep(50);

  TCrashReport seen;
  CrashReportHandlersRegister([](TCrashReport& r) { r.CallstacksAllThreads = true; },
                              [&](TCrashReport& r) { seen = r; });
  HandleException(EDebugStop(u"Error: all"));
  win::SetEvent(ev);
  other.join();
  win::CloseHandle(ev);

  ASSERT_GE(seen.CallstackCount(), 2u);
  EXPECT_EQ(seen.CallstackThreadIdAt(0), win::GetCurrentThreadId());
  bool found = false;
  for (std::size_t i = 1; i < seen.CallstackCount(); ++i) {
    EXPECT_NE(seen.CallstackThreadIdAt(i), seen.CrashedThreadId);
    EXPECT_FALSE(seen.CallstackAt(i).empty());
    if (seen.CallstackThreadIdAt(i) != otherId) continue;
    found = true;
    const TCallstack& s = seen.CallstackAt(i);
    EXPECT_TRUE(std::any_of(s.begin(), s.end(), [](const TCallstackFrame& f) { return f.RoutineName == u"ProbeWaitOn"; }));
  }
  EXPECT_TRUE(found);
}

TEST_F(CrashReportTest, ThrowingHandlersDoNotEscape) {
  CrashReportHandlersRegister(
      [&](TCrashReport&) {
        FCalls.push_back("filter");
        throw std::runtime_error("filter broke");
      },
      [&](TCrashReport&) {
        FCalls.push_back("complete");
        throw 42;
      });
  EXPECT_NO_THROW(HandleException(EDebugStop(u"Error: x")));
  EXPECT_EQ(FCalls, (std::vector<std::string>{"filter", "complete"}));
}

TEST_F(CrashReportTest, ExceptionWhileReportingIsNotReportedAgain) {
  int completes = 0;
  CrashReportHandlersRegister(nullptr, [&](TCrashReport&) {
    ++completes;
    HandleException(EDebugStop(u"Error: nested"));
  });
  HandleException(EDebugStop(u"Error: outer"));
  EXPECT_EQ(completes, 1);
  // The next report on this thread runs normally again.
  HandleException(EDebugStop(u"Error: again"));
  EXPECT_EQ(completes, 2);
}

TEST_F(CrashReportTest, CurrentExceptionIsHandedOnOnlyInsideACatch) {
  std::vector<std::string> classes;
  CrashReportHandlersRegister(nullptr, [&](TCrashReport& r) { classes.push_back(TextToUtf8(r.ExceptionClassName)); });
  HandleCurrentException();
  EXPECT_TRUE(classes.empty());
  try {
    throw std::logic_error("x");
  } catch (...) {
    HandleCurrentException();
  }
  try {
    throw 42;
  } catch (...) {
    HandleCurrentException();
  }
  EXPECT_EQ(classes, (std::vector<std::string>{"logic_error", "int"}));
}

TEST_F(CrashReportTest, WithoutHandlersTheReportGoesNowhereHarmfully) {
  EXPECT_NO_THROW(HandleException(std::runtime_error("unheard")));
}

TEST_F(CrashReportTest, SettingsAreKept) {
  TCrashReportSettings before = CrashReportSettingsGet();
  TCrashReportSettings s;
  s.Registers = true;
  s.ShowDialog = true;
  CrashReportSettingsSet(s);
  EXPECT_TRUE(CrashReportSettingsGet().Registers);
  EXPECT_TRUE(CrashReportSettingsGet().ShowDialog);
  EXPECT_FALSE(CrashReportSettingsGet().AutoSave);
  CrashReportSettingsSet(before);
}

TEST_F(CrashReportTest, ReportTextNamesExceptionAndStacks) {
  TCrashReport r;
  r.ExceptionClassName = u"EDebugStop";
  r.ExceptionMessage = u"Error: t";
  r.CrashedThreadId = 7;
  TCallstack s(1);
  s[0].ModuleName = u"Setup.exe";
  r.CallstackAdd(7, s);
  Text text = CrashReportText(r);
  EXPECT_EQ(text.find(u"Exception EDebugStop: Error: t\r\nThread: "), 0u) << TextToUtf8(text);
  EXPECT_NE(text.find(u"(7)"), Text::npos);
  EXPECT_NE(text.find(u"Setup.exe"), Text::npos);
}

}  // namespace
