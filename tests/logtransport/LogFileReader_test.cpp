// The log file format as a reader meets it: keys, damage, cut tails, foreign files.
#include <gtest/gtest.h>

#include <random>

#include "LogTestSupport.h"
#include "TestSupport.h"
#include "logtransport/LogFileFormat.h"
#include "logtransport/LogTransport.h"

namespace {

const Text kKey = u"0123456789ABCDEF";

// A log file of aCount entries written one record each (synchronous output).
Text SmallLog(const Text& aFolder, int aCount, bool bEncrypt) {
  Text path = aFolder + u"\\small.log";
  TLogTransport transport(u"Setup.exe");
  transport.ConnectionsSet(u"file(filename=\"" + path + u"\", encrypt=\"" + (bEncrypt ? u"true" : u"false") +
                           u"\", key=\"" + kKey + u"\")");
  transport.EnabledSet(true);
  TLogChannel channel(transport, u"Main");
  for (int i = 0; i < aCount; ++i) channel.LogMessage(u"entry " + T(std::to_string(i)) + u" \u00e9\u4e2d\U0001F600");
  transport.Close();
  return path;
}

TEST(LogFileReader, AllFieldsComeBack) {
  const Text folder = testsupport::ScratchFolder();
  const Text path = folder + u"\\fields.log";
  TLogTransport transport(u"Setup.exe");
  transport.ConnectionsSet(u"file(filename=\"" + path + u"\", encrypt=\"true\", key=\"" + kKey + u"\")");
  transport.EnabledSet(true);
  TLogChannel channel(transport, u"Main");
  win::FILETIME before;
  win::GetSystemTimeAsFileTime(&before);
  channel.EnterProcess();
  channel.LogMessage(u"line one\r\nline two");
  channel.LogColored(0x00FF8040, u"coloured");
  channel.LogSeparator();
  channel.LeaveProcess();
  transport.Close();

  auto r = LogFileRead(path, kKey);
  EXPECT_EQ(r.Status, TLogReadStatus::End) << r.Problem;
  ASSERT_EQ(r.Entries.size(), 5u);
  const TLogEntryKind kinds[] = {TLogEntryKind::EnterProcess, TLogEntryKind::Message, TLogEntryKind::Colored,
                                 TLogEntryKind::Separator, TLogEntryKind::LeaveProcess};
  std::uint64_t start = (static_cast<std::uint64_t>(before.dwHighDateTime) << 32) | before.dwLowDateTime;
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(r.Entries[i].Kind, kinds[i]);
    EXPECT_EQ(r.Entries[i].AppName, u"Setup.exe");
    EXPECT_EQ(r.Entries[i].Channel, u"Main");
    EXPECT_EQ(r.Entries[i].ProcessId, win::GetCurrentProcessId());
    EXPECT_EQ(r.Entries[i].ThreadId, win::GetCurrentThreadId());
    EXPECT_GE(r.Entries[i].Time, start);
    EXPECT_LT(r.Entries[i].Time - start, 600000000ull);  // within a minute
  }
  EXPECT_EQ(r.Entries[1].Text, u"line one\r\nline two");
  EXPECT_EQ(r.Entries[2].Color, 0x00FF8040u);
  EXPECT_EQ(r.Entries[2].Text, u"coloured");
}

TEST(LogFileReader, WrongKeyIsToldAndNothingIsDecoded) {
  const Text path = SmallLog(testsupport::ScratchFolder(), 3, true);
  auto r = LogFileRead(path, u"0123456789ABCDEE");
  EXPECT_EQ(r.Status, TLogReadStatus::WrongKey);
  EXPECT_TRUE(r.Entries.empty());
  EXPECT_EQ(LogFileRead(path, kKey).Entries.size(), 3u);
}

TEST(LogFileReader, ForeignBytesAreNotALogFile) {
  std::mt19937 random(7);
  std::string noise(4096, '\0');
  for (auto& c : noise) c = static_cast<char>(random());
  for (const std::string& bytes : {noise, std::string(), std::string("plain text\r\n"), std::string("\x89ORVLOG\n", 8)}) {
    auto r = LogBytesRead(bytes, kKey);
    EXPECT_EQ(r.Status, TLogReadStatus::NotALogFile) << r.Problem;
    EXPECT_TRUE(r.Entries.empty());
  }
}

TEST(LogFileReader, CutAtAnyOffsetGivesEveryWholeEntryThenTheDamage) {
  for (bool encrypt : {true, false}) {
    SCOPED_TRACE(encrypt ? "encrypted" : "plain");
    auto whole = testsupport::FileRead(SmallLog(testsupport::ScratchFolder(), 4, encrypt));
    ASSERT_TRUE(whole.has_value());
    auto all = LogBytesRead(*whole, kKey);
    ASSERT_EQ(all.Status, TLogReadStatus::End) << all.Problem;
    ASSERT_EQ(all.Entries.size(), 4u);
    // Record ends, from the reader's own walk: entry k is whole once the file reaches end[k].
    std::vector<size_t> ends;
    for (size_t cut = 1; cut <= whole->size(); ++cut) {
      auto r = LogBytesRead(whole->substr(0, cut), kKey);
      if (cut < logfile::kHeaderSize) {
        EXPECT_EQ(r.Status, TLogReadStatus::NotALogFile) << cut;
        continue;
      }
      if (r.Status == TLogReadStatus::End) {
        ends.push_back(cut);
      } else {
        EXPECT_EQ(r.Status, TLogReadStatus::DamagedTail) << cut << " " << r.Problem;
      }
      ASSERT_LE(r.Entries.size(), 4u);
      for (size_t i = 0; i < r.Entries.size(); ++i) EXPECT_EQ(r.Entries[i].Text, all.Entries[i].Text);
      // Every entry whose record lies wholly before the cut is there.
      size_t whole_records = 0;
      for (size_t e : ends) whole_records += e <= cut ? 1 : 0;
      EXPECT_EQ(r.Entries.size() + 1, whole_records) << cut;
    }
    EXPECT_EQ(ends.size(), 5u);  // the header alone, then after each of the four records
    EXPECT_EQ(ends.back(), whole->size());
  }
}

TEST(LogFileReader, AnyFlippedByteIsDetected) {
  for (bool encrypt : {true, false}) {
    SCOPED_TRACE(encrypt ? "encrypted" : "plain");
    auto whole = testsupport::FileRead(SmallLog(testsupport::ScratchFolder(), 3, encrypt));
    ASSERT_TRUE(whole.has_value());
    for (size_t at = 0; at < whole->size(); ++at) {
      std::string damaged = *whole;
      damaged[at] = static_cast<char>(damaged[at] ^ 0x10);
      auto r = LogBytesRead(damaged, kKey);
      EXPECT_NE(r.Status, TLogReadStatus::End) << at;
      EXPECT_LT(r.Entries.size(), 3u) << at;
      if (at >= logfile::kHeaderSize) {
        EXPECT_EQ(r.Status, TLogReadStatus::DamagedTail) << at;
      }
    }
  }
}

TEST(LogFileReader, TimesReadAsUtc) {
  EXPECT_EQ(LogTimeText(0), "1601-01-01 00:00:00.0000000");
  EXPECT_EQ(LogTimeText(116444736000000000ull), "1970-01-01 00:00:00.0000000");
  // 2024-02-29 13:45:30.5 UTC = 1709214330.5 s after 1970.
  EXPECT_EQ(LogTimeText(116444736000000000ull + 17092143305000000ull), "2024-02-29 13:45:30.5000000");
}

}  // namespace
