// Call stacks of the own and of other threads. Lines and line offsets are checked against
// this file: the helpers below note where they are declared and where they capture.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "TestSupport.h"
#include "crashreport/Callstack.h"
#include "platform/win32api.h"

#if defined(__SANITIZE_THREAD__)
#define ORV_TEST_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ORV_TEST_TSAN 1
#endif
#endif

// Units and lines come from the DWARF that the Linux build reads; dbghelp mostly does not read
// the DWARF that MinGW writes, so the Windows build checks modules and routine names (from the
// program's COFF symbols) only.
#ifdef _WIN32
#define NEEDS_DWARF_SYMBOLS() GTEST_SKIP() << "needs the DWARF symbols of the Linux build"
#else
#define NEEDS_DWARF_SYMBOLS() (void)0
#endif

namespace {

struct TProbeLines {
  int Decl = 0;
  int Call = 0;
};

__attribute__((noinline)) TCallstack ProbeOwnStack(TProbeLines& aLines, int iSkip = 0) {
  aLines.Decl = __LINE__ - 1;
  aLines.Call = __LINE__ + 1;
  TCallstack s = CallstackOfCurrentThread(iSkip);
  asm volatile("" ::: "memory");
  return s;
}

class TProbe {
 public:
  __attribute__((noinline)) TCallstack Run(TProbeLines& aLines);
  __attribute__((noinline)) TCallstack RunLambda(TProbeLines& aLines);
};

TCallstack TProbe::Run(TProbeLines& aLines) {
  aLines.Decl = __LINE__ - 1;
  aLines.Call = __LINE__ + 1;
  TCallstack s = CallstackOfCurrentThread();
  asm volatile("" ::: "memory");
  return s;
}

TCallstack TProbe::RunLambda(TProbeLines& aLines) {
  auto capture = [&]() __attribute__((noinline)) {
    TCallstack s = CallstackOfCurrentThread();
    asm volatile("" ::: "memory");
    return s;
  };
  TCallstack s = capture();
  asm volatile("" ::: "memory");
  return s;
}

// Inlined into its caller: the stack shows it as a frame of its own, before the caller.
__attribute__((always_inline)) inline TCallstack ProbeInlined(TProbeLines& aLines) {
  aLines.Decl = __LINE__ - 1;
  aLines.Call = __LINE__ + 1;
  return CallstackOfCurrentThread();
}

__attribute__((noinline)) TCallstack ProbeInlinedHolder(TProbeLines& aInner, int& aCallLine) {
  aCallLine = __LINE__ + 1;
  TCallstack s = ProbeInlined(aInner);
  asm volatile("" ::: "memory");
  return s;
}

__attribute__((noinline)) TCallstack ProbeOuterSkipping(int& aCallLine) {
  TProbeLines inner;
  aCallLine = __LINE__ + 1;
  TCallstack s = ProbeOwnStack(inner, 1);
  asm volatile("" ::: "memory");
  return s;
}

__attribute__((noinline)) void ProbeBlockedOnEvent(win::HANDLE aEvent, std::atomic<bool>& aEntered) {
  aEntered = true;
  win::WaitForSingleObject(aEvent, win::INFINITE);
  asm volatile("" ::: "memory");
}

__attribute__((noinline)) void ProbeBusy(std::atomic<bool>& aEntered, std::atomic<bool>& aStop) {
  aEntered = true;
  while (!aStop.load(std::memory_order_relaxed)) {
  }
  asm volatile("" ::: "memory");
}

bool ModuleIsTestProgram(const TCallstackFrame& f) { return f.ModuleName.find(u"crashreport_tests") == 0; }

int FrameIndexOf(const TCallstack& s, const Text& aRoutine) {
  for (std::size_t i = 0; i < s.size(); ++i)
    if (s[i].RoutineName == aRoutine) return static_cast<int>(i);
  return -1;
}

// A thread blocked on an event in ProbeBlockedOnEvent until the object goes.
class TBlockedThread {
 public:
  TBlockedThread() {
    FEvent = win::CreateEventW(nullptr, win::TRUE, win::FALSE, nullptr);
    FThread = std::thread([this] {
      FId = win::GetCurrentThreadId();
      ProbeBlockedOnEvent(FEvent, FEntered);
    });
    while (!FEntered) win::Sleep(1);
    win::Sleep(50);  // into the wait
  }
  ~TBlockedThread() {
    win::SetEvent(FEvent);
    FThread.join();
    win::CloseHandle(FEvent);
  }
  win::DWORD Id() const { return FId; }

 private:
  win::HANDLE FEvent = nullptr;
  std::atomic<bool> FEntered{false};
  std::atomic<win::DWORD> FId{0};
  std::thread FThread;
};

TEST(Callstack, OwnStackStartsAtTheCallerInTheTestProgram) {
  TProbeLines lines;
  TCallstack s = ProbeOwnStack(lines);
  ASSERT_GE(s.size(), 2u);
  EXPECT_TRUE(ModuleIsTestProgram(s[0])) << TextToUtf8(s[0].ModuleName);
  EXPECT_NE(s[0].Address, 0u);
  EXPECT_EQ(TextToUtf8(s[0].RoutineName), "ProbeOwnStack");
  // The caller (this test) is further out, in the same module.
  EXPECT_TRUE(ModuleIsTestProgram(s[1]));
}

TEST(Callstack, OwnStackNamesRoutineUnitLineAndOffset) {
  NEEDS_DWARF_SYMBOLS();
  TProbeLines lines;
  TCallstack s = ProbeOwnStack(lines);
  ASSERT_FALSE(s.empty());
  EXPECT_EQ(TextToUtf8(s[0].RoutineName), "ProbeOwnStack");
  EXPECT_EQ(TextToUtf8(s[0].UnitName), "Callstack_test");
  EXPECT_EQ(s[0].Line, lines.Call);
  EXPECT_EQ(s[0].LineOffset, lines.Call - lines.Decl);
  EXPECT_GT(s[0].RoutineOffset, 0u);
  // The next frame is this test's body, in the same unit.
  ASSERT_GE(s.size(), 2u);
  EXPECT_EQ(TextToUtf8(s[1].UnitName), "Callstack_test");
  EXPECT_GT(s[1].Line, lines.Call);
}

TEST(Callstack, MethodsAreClassDotMethodAndLambdasStayReadable) {
  TProbe probe;
  TProbeLines lines;
  TCallstack s = probe.Run(lines);
  ASSERT_FALSE(s.empty());
  EXPECT_EQ(TextToUtf8(s[0].RoutineName), "TProbe.Run");
#ifndef _WIN32
  EXPECT_EQ(s[0].LineOffset, lines.Call - lines.Decl);
#endif

  s = probe.RunLambda(lines);
  ASSERT_GE(s.size(), 2u);
  EXPECT_EQ(TextToUtf8(s[0].RoutineName), "TProbe.RunLambda.{lambda}");
  EXPECT_EQ(TextToUtf8(s[1].RoutineName), "TProbe.RunLambda");
}

TEST(Callstack, InlinedRoutineIsAFrameBeforeItsHolder) {
  NEEDS_DWARF_SYMBOLS();
  TProbeLines inner;
  int holderCall = 0;
  TCallstack s = ProbeInlinedHolder(inner, holderCall);
  ASSERT_GE(s.size(), 2u);
  EXPECT_EQ(TextToUtf8(s[0].RoutineName), "ProbeInlined");
  EXPECT_EQ(s[0].Line, inner.Call);
  EXPECT_EQ(s[0].LineOffset, inner.Call - inner.Decl);
  EXPECT_EQ(TextToUtf8(s[1].RoutineName), "ProbeInlinedHolder");
  EXPECT_EQ(s[1].Line, holderCall);
  EXPECT_EQ(s[0].Address, s[1].Address);
}

TEST(Callstack, SkipDropsInnermostFrames) {
  int callLine = 0;
  TCallstack s = ProbeOuterSkipping(callLine);
  ASSERT_FALSE(s.empty());
  EXPECT_EQ(TextToUtf8(s[0].RoutineName), "ProbeOuterSkipping");
#ifndef _WIN32
  EXPECT_EQ(s[0].Line, callLine);
#endif
}

TEST(Callstack, OwnThreadIdGivesOwnStack) {
  TCallstack s = CallstackOfThread(win::GetCurrentThreadId());
  ASSERT_FALSE(s.empty());
  EXPECT_TRUE(ModuleIsTestProgram(s[0]));
  EXPECT_NE(s[0].RoutineName.find(u"OwnThreadIdGivesOwnStack"), Text::npos) << TextToUtf8(s[0].RoutineName);
}

TEST(Callstack, AnotherThreadBlockedOnAnEventShowsWhereItWaits) {
  TBlockedThread blocked;
  TCallstack s = CallstackOfThread(blocked.Id());
  ASSERT_FALSE(s.empty());
  bool inTestProgram = false;
  for (const TCallstackFrame& f : s) inTestProgram = inTestProgram || ModuleIsTestProgram(f);
  EXPECT_TRUE(inTestProgram);
  int at = FrameIndexOf(s, u"ProbeBlockedOnEvent");
  ASSERT_GE(at, 0) << TextToUtf8(CallstackToPlainText(s));
#ifndef _WIN32
  EXPECT_EQ(TextToUtf8(s[at].UnitName), "Callstack_test");
#endif
  // Sampling again gives the same place; the first request left nothing behind.
  EXPECT_GE(FrameIndexOf(CallstackOfThread(blocked.Id()), u"ProbeBlockedOnEvent"), 0);
  // The walk ends with the thread's first routine: no leftovers of the stack after it.
  for (const TCallstackFrame& f : s) EXPECT_FALSE(f.ModuleName.empty()) << TextToUtf8(CallstackToPlainText(s));
}

TEST(Callstack, BusyThreadIsSampledToo) {
#ifdef ORV_TEST_TSAN
  GTEST_SKIP() << "the thread sanitizer holds signals back from a thread that makes no calls";
#endif
  std::atomic<bool> entered{false}, stop{false};
  std::atomic<win::DWORD> id{0};
  std::thread t([&] {
    id = win::GetCurrentThreadId();
    ProbeBusy(entered, stop);
  });
  while (!entered) win::Sleep(1);
  TCallstack s = CallstackOfThread(id);
  stop = true;
  t.join();
  ASSERT_FALSE(s.empty());
  EXPECT_GE(FrameIndexOf(s, u"ProbeBusy"), 0) << TextToUtf8(CallstackToPlainText(s));
}

TEST(Callstack, ThreadsSampleEachOtherAtOnce) {
  // Two requesters and their targets at the same time: one request at a time, no deadlock,
  // every answer complete.
  TBlockedThread a, b;
  std::atomic<int> good{0};
  auto sampler = [&](win::DWORD aTarget) {
    for (int i = 0; i < 20; ++i)
      if (!CallstackOfThread(aTarget).empty()) ++good;
  };
  std::thread s1(sampler, a.Id()), s2(sampler, b.Id());
  s1.join();
  s2.join();
  EXPECT_EQ(good.load(), 40);
}

TEST(Callstack, EndedOrUnknownThreadGivesEmptyStack) {
  std::atomic<win::DWORD> id{0};
  std::thread t([&] { id = win::GetCurrentThreadId(); });
  t.join();
  EXPECT_TRUE(CallstackOfThread(id).empty());
  EXPECT_TRUE(CallstackOfThread(0).empty());
}

TEST(Callstack, ThreadListHoldsMainAndStartedThread) {
  win::DWORD self = win::GetCurrentThreadId();
  TBlockedThread blocked;
  std::vector<win::DWORD> ids = ProcessThreadIdsGet();
  EXPECT_NE(std::find(ids.begin(), ids.end(), self), ids.end());
  EXPECT_NE(std::find(ids.begin(), ids.end(), blocked.Id()), ids.end());
}

TEST(Callstack, PlainTextHasOneLineAFrame) {
  TCallstack s(3);
  s[0].Address = 0x1234;
  s[0].ModuleName = u"Setup.exe";
  s[0].UnitName = u"uMisc";
  s[0].Line = 42;
  s[0].LineOffset = 3;
  s[0].RoutineName = u"TA.B";
  s[1].Address = 0x20;
  s[1].ModuleName = u"kernel32.dll";
  s[1].RoutineName = u"BaseThreadInitThunk";
  s[1].RoutineOffset = 0x1F;
  s[2].Address = 0x30;
  std::string pad(sizeof(void*) * 2 - 4, '0');
  std::string pad2(sizeof(void*) * 2 - 2, '0');
  EXPECT_EQ(TextToUtf8(CallstackToPlainText(s)), pad + "1234 Setup.exe uMisc:42 TA.B +3\r\n" + pad2 +
                                                     "20 kernel32.dll BaseThreadInitThunk +0x1F\r\n" + pad2 +
                                                     "30 ?");
  EXPECT_EQ(CallstackToPlainText({}), u"");
}

}  // namespace
