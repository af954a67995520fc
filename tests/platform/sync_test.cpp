#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"

#ifndef _WIN32
#include <unistd.h>

#include "platform/sim/machine.h"
#endif

using namespace win;

namespace {

// Names unique to this run: under Wine every program of the session shares the namespace.
Text UniqueName(const char* aBase) {
  return T(std::string("orvanta-test-") + aBase + "-" + std::to_string(GetCurrentProcessId()));
}

// Long enough for a thread that should not run to show that it did; the tests never wait
// this long when they pass.
constexpr DWORD kPatience = 20000;

}  // namespace

TEST(Events, ManualResetStaysSetUntilReset) {
  HANDLE e = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(e, 20), WAIT_TIMEOUT);
  EXPECT_TRUE(SetEvent(e));
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(e, INFINITE), WAIT_OBJECT_0) << "a wait does not take a manual event's signal";
  EXPECT_TRUE(ResetEvent(e));
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(CloseHandle(e));
}

TEST(Events, AutoResetGivesOneWaitPerSet) {
  HANDLE e = CreateEventW(nullptr, FALSE, TRUE, nullptr);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0) << "created signalled";
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT) << "the wait took the signal";
  SetEvent(e);
  SetEvent(e);
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT) << "two sets are not counted";
  CloseHandle(e);
}

TEST(Events, SetFromAnotherThreadWakesAWaiter) {
  HANDLE go = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<DWORD> result{WAIT_FAILED};
  std::thread t([&] {
    result = WaitForSingleObject(go, INFINITE);
    SetEvent(done);
  });
  SetEvent(go);
  EXPECT_EQ(WaitForSingleObject(done, kPatience), WAIT_OBJECT_0);
  t.join();
  EXPECT_EQ(result.load(), WAIT_OBJECT_0);
  CloseHandle(go);
  CloseHandle(done);
}

TEST(Events, WaitForMultipleObjects) {
  HANDLE e[3];
  for (auto& h : e) h = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  EXPECT_EQ(WaitForMultipleObjects(3, e, FALSE, 0), WAIT_TIMEOUT);
  SetEvent(e[2]);
  SetEvent(e[1]);
  EXPECT_EQ(WaitForMultipleObjects(3, e, FALSE, 0), WAIT_OBJECT_0 + 1) << "the lowest signalled index";
  EXPECT_EQ(WaitForMultipleObjects(3, e, TRUE, 10), WAIT_TIMEOUT) << "not all are set";
  SetEvent(e[0]);
  EXPECT_EQ(WaitForMultipleObjects(3, e, TRUE, 0), WAIT_OBJECT_0);

  // A wait for all is woken when the last one comes.
  for (auto& h : e) ResetEvent(h);
  std::thread t([&] {
    for (auto& h : e) SetEvent(h);
  });
  EXPECT_EQ(WaitForMultipleObjects(3, e, TRUE, kPatience), WAIT_OBJECT_0);
  t.join();

  // Waiting for all auto-reset events takes every signal, or none.
  HANDLE a[2] = {CreateEventW(nullptr, FALSE, TRUE, nullptr), CreateEventW(nullptr, FALSE, FALSE, nullptr)};
  EXPECT_EQ(WaitForMultipleObjects(2, a, TRUE, 0), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(a[0], 0), WAIT_OBJECT_0) << "the failed wait for all left the first signalled";
  for (auto& h : e) CloseHandle(h);
  for (auto& h : a) CloseHandle(h);
}

TEST(Events, BadArgumentsFail) {
  HANDLE e = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  SetLastError(0);
  EXPECT_EQ(WaitForMultipleObjects(0, &e, FALSE, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  std::vector<HANDLE> many(MAXIMUM_WAIT_OBJECTS + 1, e);
  EXPECT_EQ(WaitForMultipleObjects(static_cast<DWORD>(many.size()), many.data(), FALSE, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

  HANDLE bogus = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x7FFC));
  SetLastError(0);
  EXPECT_EQ(WaitForSingleObject(bogus, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(SetEvent(bogus));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  HANDLE mixed[2] = {e, bogus};
  EXPECT_EQ(WaitForMultipleObjects(2, mixed, FALSE, 0), WAIT_FAILED);

  CloseHandle(e);
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_FAILED) << "a closed handle";
  EXPECT_FALSE(CloseHandle(e));
}

TEST(Events, NamedEventsShareOneObject) {
  Text name = UniqueName("shared");
  SetLastError(ERROR_INVALID_DATA);
  HANDLE first = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  HANDLE second = CreateEventW(nullptr, FALSE, TRUE, name.c_str());
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_NE(first, second);
  EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_TIMEOUT) << "the second create keeps the first's state";
  HANDLE opened = OpenEventW(EVENT_ALL_ACCESS, FALSE, name.c_str());
  ASSERT_NE(opened, nullptr);
  SetEvent(opened);
  EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_OBJECT_0) << "still manual-reset, as first created";
  ResetEvent(second);
  EXPECT_EQ(WaitForSingleObject(opened, 0), WAIT_TIMEOUT);

  // A thread waiting on one handle is woken through another.
  std::thread t([&] { SetEvent(second); });
  EXPECT_EQ(WaitForSingleObject(first, kPatience), WAIT_OBJECT_0);
  t.join();

  CloseHandle(first);
  CloseHandle(second);
  CloseHandle(opened);
  // With its last handle the event is gone: the name makes a new one.
  HANDLE again = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(WaitForSingleObject(again, 0), WAIT_TIMEOUT);
  CloseHandle(again);
}

TEST(Events, OpeningAMissingNameFails) {
  Text name = UniqueName("missing");
  SetLastError(0);
  EXPECT_EQ(OpenEventW(EVENT_ALL_ACCESS, FALSE, name.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  HANDLE e = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
  CloseHandle(e);
  EXPECT_EQ(OpenEventW(EVENT_ALL_ACCESS, FALSE, name.c_str()), nullptr) << "gone with its last handle";
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST(Events, LocalPrefixIsTheSessionNamespace) {
  Text name = UniqueName("prefix");
  HANDLE plain = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
  HANDLE local = CreateEventW(nullptr, TRUE, FALSE, (u"Local\\" + name).c_str());
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  SetLastError(0);
  EXPECT_EQ(CreateEventW(nullptr, TRUE, FALSE, (u"NoSuchFolder\\" + name).c_str()), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  CloseHandle(plain);
  CloseHandle(local);
}

#ifndef _WIN32
// The helper side of the next test: runs only as the second process that test starts.
TEST(EventsHelper, SignalsAcrossProcesses) {
  const char* base = std::getenv("ORV_SYNC_HELPER");
  if (!base) GTEST_SKIP() << "runs as the helper process of Events.NamedEventsAcrossProcesses";
  Text name = T(base);
  HANDLE ready = OpenEventW(EVENT_ALL_ACCESS, FALSE, (name + u"-ready").c_str());
  HANDLE ack = OpenEventW(EVENT_ALL_ACCESS, FALSE, (name + u"-ack").c_str());
  HANDLE done = OpenEventW(EVENT_ALL_ACCESS, FALSE, (name + u"-done").c_str());
  ASSERT_TRUE(ready && ack && done);
  SetEvent(ready);
  if (WaitForSingleObject(ack, kPatience) == WAIT_OBJECT_0) SetEvent(done);
  CloseHandle(ready);
  CloseHandle(ack);
  CloseHandle(done);
}

TEST(Events, NamedEventsAcrossProcesses) {
  std::string machine = sim::MachineFolderHost();
  ASSERT_FALSE(machine.empty());
  Text name = UniqueName("xproc");
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, (name + u"-ready").c_str());
  HANDLE ack = CreateEventW(nullptr, FALSE, FALSE, (name + u"-ack").c_str());
  HANDLE done = CreateEventW(nullptr, TRUE, FALSE, (name + u"-done").c_str());

  char self[4096];
  ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  ASSERT_GT(n, 0);
  self[n] = 0;
  sim::SpawnRequest req;
  req.Record.Image = "C:\\helper.exe";
  req.Record.CommandLine = "helper.exe";
  req.Record.CurrentDirectory = "C:\\";
  req.HostExecutable = self;
  req.Arguments = {"--gtest_filter=EventsHelper.SignalsAcrossProcesses", "--gtest_brief=1"};
  req.ExtraEnvironment = {"ORV_SYNC_HELPER=" + TextToUtf8(name)};
  sim::ProcessSpawn(machine, req, true);

  HANDLE both[2] = {ready, done};
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, kPatience), WAIT_OBJECT_0) << "the other process set it";
  SetEvent(ack);
  EXPECT_EQ(WaitForSingleObject(done, kPatience), WAIT_OBJECT_0) << "it saw ours";
  CloseHandle(ready);
  CloseHandle(ack);
  CloseHandle(done);
}
#endif

TEST(CriticalSections, ReentryAndOwner) {
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  EXPECT_EQ(CriticalSectionOwnerGet(&cs), 0u);
  EnterCriticalSection(&cs);
  EnterCriticalSection(&cs);
  EXPECT_TRUE(TryEnterCriticalSection(&cs)) << "the owner enters again at once";
  EXPECT_EQ(CriticalSectionOwnerGet(&cs), GetCurrentThreadId());
  EXPECT_EQ(cs.RecursionCount, 3);

  auto tryFromOther = [&] {
    BOOL got = FALSE;
    DWORD seenOwner = 0;
    std::thread t([&] {
      seenOwner = CriticalSectionOwnerGet(&cs);
      got = TryEnterCriticalSection(&cs);
      if (got) LeaveCriticalSection(&cs);
    });
    t.join();
    return std::make_pair(got, seenOwner);
  };
  auto held = tryFromOther();
  EXPECT_FALSE(held.first);
  EXPECT_EQ(held.second, GetCurrentThreadId());

  LeaveCriticalSection(&cs);
  LeaveCriticalSection(&cs);
  EXPECT_FALSE(tryFromOther().first) << "still held once";
  LeaveCriticalSection(&cs);
  EXPECT_EQ(CriticalSectionOwnerGet(&cs), 0u);
  auto freed = tryFromOther();
  EXPECT_TRUE(freed.first);
  EXPECT_EQ(freed.second, 0u);
  DeleteCriticalSection(&cs);
}

TEST(CriticalSections, MutualExclusion) {
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  long counter = 0;  // guarded by cs alone
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i)
    threads.emplace_back([&] {
      for (int k = 0; k < 20000; ++k) {
        EnterCriticalSection(&cs);
        EnterCriticalSection(&cs);
        ++counter;
        LeaveCriticalSection(&cs);
        LeaveCriticalSection(&cs);
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, 80000);
  DeleteCriticalSection(&cs);
}
