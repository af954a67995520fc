// A writer killed from outside while it logs from several threads: every entry that was
// whole on disk reads back, each thread's entries without a gap up to its last one read.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <thread>

#include "LogTestSupport.h"
#include "TestSupport.h"
#include "logtransport/LogFileKey.h"

namespace {

// Starts the helper that logs to aPath from several threads ("THREADS [ENTRIES]" in aArgs).
bool WriterStart(const Text& aPath, const Text& aKey, const Text& aArgs, win::PROCESS_INFORMATION& aInformation) {
  const Text helper = testsupport::HelperProgram("logkill_writer");
  Text commandLine = u"\"" + helper + u"\" \"" + aPath + u"\" " + aKey + u" " + aArgs;
  win::STARTUPINFOW si{};
  si.cb = sizeof si;
  return win::CreateProcessW(helper.c_str(), commandLine.data(), nullptr, nullptr, win::FALSE, 0, nullptr, nullptr,
                             &si, &aInformation) != win::FALSE;
}

TEST(LogKill, AKilledWriterLosesNoWholeEntry) {
  const Text key = LogFileKeyForm();
  const Text path = testsupport::ScratchFolder() + u"\\Setup.exe 2024-05-17 09-41-07 4312.log";
  win::PROCESS_INFORMATION pi{};
  ASSERT_TRUE(WriterStart(path, key, u"4", pi)) << win::GetLastError();

  // Killed once a good number of entries is on disk.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  size_t seen = 0;
  while (seen < 20000 && std::chrono::steady_clock::now() < deadline) {
    TLogWinFileSource source(path);
    if (source.IsOpen()) {
      // Read as it grows: each Resume goes on where the last whole record ended.
      TLogFileReader reader(source, key);
      TLogEntry e;
      while (seen < 20000 && std::chrono::steady_clock::now() < deadline) {
        while (seen < 20000 && reader.Next(e)) ++seen;
        reader.Resume();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(win::TerminateProcess(pi.hProcess, 9));
  EXPECT_EQ(win::WaitForSingleObject(pi.hProcess, 30000), win::WAIT_OBJECT_0);
  win::DWORD code = 0;
  EXPECT_TRUE(win::GetExitCodeProcess(pi.hProcess, &code));
  EXPECT_EQ(code, 9u);
  win::CloseHandle(pi.hThread);
  win::CloseHandle(pi.hProcess);
  ASSERT_GE(seen, 20000u) << "the writer wrote too little";

  auto r = LogFileRead(path, key);
  EXPECT_TRUE(r.Status == TLogReadStatus::End || r.Status == TLogReadStatus::DamagedTail) << r.Problem;
  ASSERT_GE(r.Entries.size(), seen);
  // Per thread (by the number in the text): 0, 1, 2 ... without a gap.
  std::map<int, unsigned> next;
  std::map<int, win::DWORD> threadIds;
  for (const auto& e : r.Entries) {
    std::string text = TextToUtf8(e.Text);
    int t = -1;
    unsigned n = 0;
    ASSERT_EQ(std::sscanf(text.c_str(), "%d %u", &t, &n), 2) << text;
    ASSERT_EQ(n, next[t]) << "thread " << t;
    ++next[t];
    if (!threadIds.count(t)) threadIds[t] = e.ThreadId;
    EXPECT_EQ(e.ThreadId, threadIds[t]);
    EXPECT_EQ(e.ProcessId, pi.dwProcessId);
  }
  EXPECT_EQ(next.size(), 4u);
}

TEST(LogKill, WhatIsQueuedAtTheEndIsWrittenByTheFinalisation) {
  const Text key = LogFileKeyForm();
  const Text path = testsupport::ScratchFolder() + u"\\Setup.log";
  win::PROCESS_INFORMATION pi{};
  ASSERT_TRUE(WriterStart(path, key, u"3 20000", pi)) << win::GetLastError();
  EXPECT_EQ(win::WaitForSingleObject(pi.hProcess, 60000), win::WAIT_OBJECT_0);
  win::DWORD code = 1;
  EXPECT_TRUE(win::GetExitCodeProcess(pi.hProcess, &code));
  EXPECT_EQ(code, 0u);
  win::CloseHandle(pi.hThread);
  win::CloseHandle(pi.hProcess);
  auto r = LogFileRead(path, key);
  EXPECT_EQ(r.Status, TLogReadStatus::End) << r.Problem;
  EXPECT_EQ(r.Entries.size(), 60000u);
}

}  // namespace
