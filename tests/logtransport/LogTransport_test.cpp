// The transport as the debug facility uses it: defaults, switching outputs, many threads.
#include <gtest/gtest.h>

#include <map>
#include <thread>

#include "LogTestSupport.h"
#include "TestSupport.h"
#include "logtransport/LogFileKey.h"
#include "logtransport/LogTransport.h"

namespace {

const Text kKey = u"0123456789ABCDEF";

Text FileConnections(const Text& aPath, bool bAsync) {
  return u"file(filename=\"" + aPath + u"\",      async.enabled=\"" + (bAsync ? u"true" : u"false") +
         u"\", async.queue=\"10 MB\",      maxparts=\"1\", maxsize=\"50 MB\",      encrypt=\"true\", key=\"" + kKey + u"\")";
}

TEST(LogTransport, TheProcessTransportStartsDisabledWithTheConsoleDefault) {
  ASSERT_NE(LogTransportGet(), nullptr);
  EXPECT_EQ(LogTransportGet(), LogTransportGet());
  // The process's own has been switched on by the test program: one made as it was.
  auto made = LogTransportDefaultCreate();
  TLogTransport* transport = made.get();
  EXPECT_FALSE(transport->EnabledGet());
  EXPECT_EQ(transport->ConnectionsGet(), u"pipe(reconnect=true, reconnect.interval=1s)");
  ASSERT_NE(LogChannelMainGet(), nullptr);
  EXPECT_EQ(LogChannelMainGet()->NameGet(), u"Main");
  // The executable's file name, without its folder.
  Text app = transport->AppNameGet();
  EXPECT_FALSE(app.empty());
  EXPECT_EQ(app.find_first_of(u"\\/"), Text::npos);
  EXPECT_NE(app.find(u"logtransport_tests"), Text::npos);
}

TEST(LogTransport, TheInstallersKey) { EXPECT_EQ(LogFileKeyForm(), u"5A3C5A3C5A3C5A3C"); }

TEST(LogTransport, EntriesOfManyThreadsKeepTheirOrder) {
  for (bool async : {true, false}) {
    SCOPED_TRACE(async ? "async" : "sync");
    const Text path = testsupport::ScratchFolder() + u"\\Setup.exe 2024-05-17 09-41-07 4312.log";
    TLogTransport transport(u"Setup.exe");
    transport.ConnectionsSet(u"pipe(async.enabled=\"true\"), " + FileConnections(path, async));
    transport.EnabledSet(true);
    TLogChannel channel(transport, u"Main");
    constexpr int kThreads = 6, kEach = 3000;
    std::vector<std::thread> threads;
    std::map<win::DWORD, int> threadOf;
    std::mutex lock;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        {
          std::lock_guard<std::mutex> g(lock);
          threadOf[win::GetCurrentThreadId()] = t;
        }
        for (int i = 0; i < kEach; ++i) channel.LogMessage(T(std::to_string(t) + ":" + std::to_string(i)));
      });
    }
    for (auto& t : threads) t.join();
    transport.Close();

    auto r = LogFileRead(path, kKey);
    EXPECT_EQ(r.Status, TLogReadStatus::End) << r.Problem;
    ASSERT_EQ(r.Entries.size(), static_cast<size_t>(kThreads * kEach));
    std::vector<int> next(kThreads, 0);
    for (const auto& e : r.Entries) {
      ASSERT_TRUE(threadOf.count(e.ThreadId));
      int t = threadOf[e.ThreadId];
      ASSERT_EQ(e.Text, T(std::to_string(t) + ":" + std::to_string(next[t])));
      ++next[t];
    }
  }
}

TEST(LogTransport, AMalformedStringKeepsTheOutputsInPlace) {
  const Text path = testsupport::ScratchFolder() + u"\\Setup.log";
  TLogTransport transport(u"Setup.exe");
  const Text good = FileConnections(path, true);
  transport.ConnectionsSet(good);
  transport.EnabledSet(true);
  TLogChannel channel(transport, u"Main");
  channel.LogMessage(u"before");
  EXPECT_THROW(transport.ConnectionsSet(u"file(filename=\"x.log\", maxsize=\"huge\")"), ELogConnectionsError);
  EXPECT_EQ(transport.ConnectionsGet(), good);
  channel.LogMessage(u"after");
  transport.Close();
  auto r = LogFileRead(path, kKey);
  ASSERT_EQ(r.Entries.size(), 2u);
  EXPECT_EQ(r.Entries[1].Text, u"after");
}

TEST(LogTransport, DisablingDropsEntriesAndFlushes) {
  const Text folder = testsupport::ScratchFolder();
  const Text path = folder + u"\\Setup.log";
  TLogTransport transport(u"Setup.exe");
  transport.ConnectionsSet(FileConnections(path, true));
  TLogChannel channel(transport, u"Main");
  channel.LogMessage(u"while disabled");
  transport.EnabledSet(true);
  channel.EnterProcess();
  channel.LogMessage(u"one");
  channel.LogSeparator();
  channel.LeaveProcess();
  transport.EnabledSet(false);
  // Written already, though the file stays open.
  auto r = LogFileRead(path, kKey);
  ASSERT_EQ(r.Entries.size(), 4u);
  channel.LogMessage(u"dropped");
  // On again with new connections: the old output is closed and the file appended to.
  transport.ConnectionsSet(FileConnections(path, false));
  transport.EnabledSet(true);
  channel.LogMessage(u"two");
  transport.Close();
  transport.Close();
  channel.LogMessage(u"after the end");
  r = LogFileRead(path, kKey);
  EXPECT_EQ(r.Status, TLogReadStatus::End) << r.Problem;
  ASSERT_EQ(r.Entries.size(), 5u);
  EXPECT_EQ(r.Entries[1].Text, u"one");
  EXPECT_EQ(r.Entries[4].Text, u"two");
}

TEST(LogTransport, NoOutputsIsFine) {
  TLogTransport transport(u"Setup.exe");
  transport.ConnectionsSet(u"");
  transport.EnabledSet(true);
  TLogChannel channel(transport, u"Main");
  channel.LogMessage(u"nowhere");
  transport.Flush();
  EXPECT_EQ(transport.ConnectionsGet(), u"");
}

}  // namespace
