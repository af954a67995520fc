#include "diag/uMisc.h"

#include <thread>

#include "TestSupport.h"
#include "params/uMiscLean.h"

namespace {

class Misc : public ::testing::Test {
 protected:
  void SetUp() override { ProblemsRecordedClear(); }
  void TearDown() override {
    AlertsOff = false;
    AlertsNoBreak = false;
    AlertsStop = false;
    ProblemNotifyHookSet(nullptr);
    ProblemsRecordedClear();
  }
};

TEST_F(Misc, StopsRaiseWithTheErrorPrefix) {
  EXPECT_NO_THROW(StopIf(false, u"never"));
  EXPECT_TRUE(StopIfNot(true, u"never"));
  struct Case {
    const char* what;
    void (*call)();
  } cases[] = {
      {"StopIf", [] { StopIf(true, u"Broken state"); }},
      {"StopIfNot", [] { StopIfNot(false, u"Broken state"); }},
      {"Stop", [] { Stop(u"Broken state"); }},
  };
  for (const Case& c : cases) {
    try {
      c.call();
      ADD_FAILURE() << c.what << " did not raise";
    } catch (const EDebugStop& e) {
      EXPECT_EQ(e.Message(), u"Error: Broken state") << c.what;
    }
  }
  EXPECT_TRUE(ProblemsRecordedGet().empty());  // a stop is no problem report
}

TEST_F(Misc, VerifyReportsOneProblemAndGoesOn) {
  EXPECT_TRUE(Verify(true));
  EXPECT_TRUE(ProblemsRecordedGet().empty());

  EXPECT_FALSE(Verify(false));
  auto problems = ProblemsRecordedGet();
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].Type, u"Alert");
  EXPECT_EQ(problems[0].Message, u"");
  EXPECT_EQ(problems[0].ThreadId, win::GetCurrentThreadId());
  EXPECT_EQ(problems[0].Thread, u"Thread (" + IntToText(win::GetCurrentThreadId()) + u")");
  EXPECT_EQ(problems[0].ToText(), u"Type: \"Alert\", \r\nMessage: \"\", \r\nThread: \"" + problems[0].Thread + u"\"\r\n");
}

TEST_F(Misc, AlertsCarryTheirText) {
  AlertIf(false, u"quiet");
  Alert(u"first");
  AlertIf(true, u"second");
  AlertIfUsed();
  auto problems = ProblemsRecordedGet();
  ASSERT_EQ(problems.size(), 3u);
  EXPECT_EQ(problems[0].Message, u"first");
  EXPECT_EQ(problems[1].Message, u"second");
  EXPECT_EQ(problems[2].Message, u"Should not be used");
}

TEST_F(Misc, Switches) {
  AlertsOff = true;
  Alert(u"ignored");
  EXPECT_FALSE(Verify(false));
  EXPECT_TRUE(ProblemsRecordedGet().empty());

  AlertsOff = false;
  AlertsStop = true;
  if (DebuggerIsPresent()) GTEST_SKIP() << "AlertsStop acts only without a debugger";
  try {
    Alert(u"fatal now");
    ADD_FAILURE() << "AlertsStop did not stop";
  } catch (const EDebugStop& e) {
    EXPECT_EQ(e.Message(), u"Error: Alert fatal now");
  }
  EXPECT_EQ(ProblemsRecordedGet().size(), 1u);  // reported first, then stopped
}

TEST_F(Misc, AReplacedHookGetsTheReportsAndTheDefaultComesBack) {
  std::vector<TProblemReport> seen;
  ProblemNotifyHookSet([&seen](const TProblemReport& r) { seen.push_back(r); });
  Alert(u"to the hook");
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].Message, u"to the hook");
  EXPECT_TRUE(ProblemsRecordedGet().empty());

  ProblemNotifyHookSet([](const TProblemReport&) { throw Exception(u"hook failed"); });
  EXPECT_THROW(Alert(u"x"), Exception);  // a raising hook leaves the alert

  ProblemNotifyHookSet(nullptr);
  Alert(u"recorded again");
  EXPECT_EQ(ProblemsRecordedGet().size(), 1u);
}

TEST_F(Misc, TheRecordedListIsBounded) {
  for (std::size_t i = 0; i < ProblemsRecordedMax + 20; ++i) Alert(IntToText(static_cast<std::int64_t>(i)));
  auto problems = ProblemsRecordedGet();
  ASSERT_EQ(problems.size(), ProblemsRecordedMax);
  EXPECT_EQ(problems.front().Message, u"20");
  EXPECT_EQ(problems.back().Message, IntToText(static_cast<std::int64_t>(ProblemsRecordedMax + 19)));
}

TEST_F(Misc, AlertsFromOtherThreadsNameTheirThread) {
  win::DWORD other = 0;
  bool otherIsMain = true;
  std::thread t([&] {
    other = win::GetCurrentThreadId();
    otherIsMain = IsMainThread();
    Verify(false);
  });
  t.join();
  EXPECT_TRUE(IsMainThread());
  EXPECT_FALSE(otherIsMain);
  auto problems = ProblemsRecordedGet();
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].Thread, u"Thread (" + IntToText(other) + u")");
}

TEST_F(Misc, DebuggerAndMachines) {
  SIM_ONLY("the simulated machine has no debugger and a known name");
  EXPECT_FALSE(DebuggerIsPresent());
  DebuggerBreak();  // nothing without a debugger
  EXPECT_EQ(ComputerNameGet(), u"ORVANTA-TEST");
  EXPECT_FALSE(ComputerIsDeveloperMachine());
  EXPECT_FALSE(ComputerIsExtraDeveloperMachine());
  EXPECT_TRUE(ComputerIsDeveloperMachine(u"dev-haldor"));
  EXPECT_TRUE(ComputerIsDeveloperMachine(u"ORV-BUILD01"));
  EXPECT_FALSE(ComputerIsDeveloperMachine(u"DEV-HALDOR2"));
  EXPECT_FALSE(ComputerIsDeveloperMachine(u"ORV-LAB-X"));  // the extra machine is this computer only
}

TEST_F(Misc, VariantToInt64AndTextHasChar) {
  EXPECT_EQ(VariantToInt64(Variant::Null()), 0);
  EXPECT_EQ(VariantToInt64(Variant(u"")), 0);
  EXPECT_EQ(VariantToInt64(Variant()), 0);
  EXPECT_EQ(VariantToInt64(Variant(u"42")), 42);
  EXPECT_EQ(VariantToInt64(Variant(std::uint32_t(0xFFFFFFFF))), 0xFFFFFFFFLL);
  EXPECT_THROW(VariantToInt64(Variant(u"forty")), EVariantError);

  EXPECT_TRUE(TextHasChar(u"a\\b", u'\\'));
  EXPECT_FALSE(TextHasChar(u"ab", u'B'));
  EXPECT_FALSE(TextHasChar(u"", u'a'));
}

TEST_F(Misc, ResultTexts) {
  EXPECT_EQ(ResultText(true), u"OK");
  win::SetLastError(win::ERROR_ACCESS_DENIED);
  EXPECT_EQ(ResultText(false), u"ERROR: ERROR_ACCESS_DENIED");
  win::SetLastError(win::ERROR_INVALID_PARAMETER);
  EXPECT_EQ(ResultText(false), u"ERROR: UNKNOWN_0x57");
  EXPECT_EQ(WindowsErrorText(0), u"OK");
  EXPECT_EQ(WindowsErrorText(87), u"ERROR: UNKNOWN_0x57");
  EXPECT_EQ(WindowsErrorText(2), u"ERROR: ERROR_FILE_NOT_FOUND");
  EXPECT_EQ(WindowsErrorText(0x40010004), u"ERROR: DBG_TERMINATE_PROCESS");
}

}  // namespace
