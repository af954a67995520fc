#include "diag/uMisc.h"

#include <thread>

#include "DebugRecorder.h"
#include "TestSupport.h"
#include "diag/uDebug.h"
#include "params/uMiscLean.h"

namespace {

class Misc : public ::testing::Test {
 protected:
  void SetUp() override {
    ProblemsRecordedClear();
    LogLinesRecordedClear();
  }
  void TearDown() override {
    AlertsOff = false;
    AlertsNoBreak = false;
    AlertsStop = false;
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

// Called through a function pointer, so that the call stays a call: the report must name this
// routine as the one that raised the alert.
[[gnu::noinline]] bool VerifyingCaller(bool aCondition) {
  bool result = Verify(aCondition);
  asm volatile("");  // no tail call
  return result;
}
[[gnu::noinline, maybe_unused]] void AlertingCaller() {
  Alert(u"from the caller");
  asm volatile("");
}

TEST_F(Misc, VerifyReportsOneProblemAndGoesOn) {
  EXPECT_TRUE(Verify(true));
  EXPECT_TRUE(ProblemsRecordedGet().empty());
  EXPECT_TRUE(LogLinesRecordedGet().empty());

  bool (*volatile verifying)(bool) = VerifyingCaller;
  EXPECT_FALSE(verifying(false));
  auto problems = ProblemsRecordedGet();
  ASSERT_EQ(problems.size(), 1u);
  const TFlexArray& report = problems[0].Report;
  EXPECT_EQ(problems[0].Type, u"Alert");
  EXPECT_EQ(problems[0].Message, u"");
  EXPECT_EQ(problems[0].Thread, ThreadDisplayText(win::GetCurrentThreadId()));
  ASSERT_GE(report.Count(), 4);
  EXPECT_EQ(report.GetKeyByIndex(0), u"Type");
  EXPECT_EQ(report.GetKeyByIndex(1), u"Message");
  EXPECT_EQ(report.GetKeyByIndex(2), u"Thread");
  EXPECT_TRUE(report.HasKey(u"CallStack"));
  // One "[Problem] " line with the report's display text.
  auto lines = LogLinesRecordedGet();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], u"[Problem] " + report.AsStringForDisplay());
#ifndef _WIN32
  // Where debug information names the frames: the caller, not the alert routines of uMisc.
  EXPECT_EQ(report.GetValueByKey(Variant(Text(u"ProcedureName"))).ToText(), u"VerifyingCaller");
  EXPECT_EQ(report.GetValueByKey(Variant(Text(u"SourceName"))).ToText(), u"uMisc_test");
  EXPECT_EQ(report.GetKeyByIndex(3), u"ProcedureName");
  EXPECT_EQ(report.GetKeyByIndex(4), u"SourceName");
  EXPECT_EQ(report.GetKeyByIndex(5), u"ProcOffsetLine");
  EXPECT_EQ(report.GetValueByKey(Variant(Text(u"ProcOffsetLine"))).ToInt64(), 1);

  ProblemsRecordedClear();
  void (*volatile alerting)() = AlertingCaller;
  alerting();
  problems = ProblemsRecordedGet();
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].Report.GetValueByKey(Variant(Text(u"ProcedureName"))).ToText(), u"AlertingCaller");
#endif
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

TEST_F(Misc, ARaisingProblemCallbackLeavesTheAlert) {
  auto previous = Debug->OnProblemNotify;
  Debug->OnProblemNotify = [](TFlexArray&) { throw Exception(u"callback failed"); };
  EXPECT_THROW(Alert(u"x"), Exception);
  Debug->OnProblemNotify = previous;
  Alert(u"recorded again");
  EXPECT_EQ(ProblemsRecordedGet().size(), 1u);
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
  EXPECT_EQ(problems[0].Thread, u" (" + IntToText(other) + u")");  // no name recorded for it
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
