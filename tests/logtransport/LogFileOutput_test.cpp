// The file output: rotation, appending to an earlier file, files it must not or cannot write.
#include <gtest/gtest.h>

#include "LogTestSupport.h"
#include "TestSupport.h"
#include "logtransport/LogFileFormat.h"
#include "logtransport/LogFileOutput.h"
#include "logtransport/LogTransport.h"

namespace {

const Text kKey = u"5A3C5A3C5A3C5A3C";

Text Numbered(int i) { return u"entry " + T(std::to_string(i)) + u" " + Text(40, u'.'); }

void LogNumbered(const Text& aConnections, int aFrom, int aTo) {
  TLogTransport transport(u"Setup.exe");
  transport.ConnectionsSet(aConnections);
  transport.EnabledSet(true);
  TLogChannel channel(transport, u"Main");
  for (int i = aFrom; i < aTo; ++i) channel.LogMessage(Numbered(i));
  transport.Close();
}

std::uint64_t SizeOf(const Text& aPath) {
  auto data = testsupport::FileRead(aPath);
  return data ? data->size() : 0;
}

TEST(LogFileOutput, PartNames) {
  EXPECT_EQ(LogFilePartName(u"C:\\x\\Setup.log", 0), u"C:\\x\\Setup.log");
  EXPECT_EQ(LogFilePartName(u"C:\\x\\Setup.log", 2), u"C:\\x\\Setup.2.log");
  EXPECT_EQ(LogFilePartName(u"C:\\x.d\\Setup", 1), u"C:\\x.d\\Setup.1");
  EXPECT_EQ(LogFilePartName(u"C:\\x\\.log", 1), u"C:\\x\\.log.1");
}

TEST(LogFileOutput, RotationKeepsPartsWithinTheirSizeInOrder) {
  for (const char16_t* async : {u"false", u"true"}) {
    SCOPED_TRACE(TextToUtf8(async));
    const Text path = testsupport::ScratchFolder() + u"\\Setup.log";
    LogNumbered(u"file(filename=\"" + path + u"\", maxsize=\"2 KB\", maxparts=\"2\", encrypt=\"true\", key=\"" + kKey +
                    u"\", async.enabled=\"" + async + u"\")",
                0, 400);
    const Text older = LogFilePartName(path, 1);
    EXPECT_FALSE(testsupport::FileRead(LogFilePartName(path, 2)).has_value());
    EXPECT_LE(SizeOf(path), 2048u);
    EXPECT_LE(SizeOf(older), 2048u);
    auto a = LogFileRead(older, kKey), b = LogFileRead(path, kKey);
    EXPECT_EQ(a.Status, TLogReadStatus::End) << a.Problem;
    EXPECT_EQ(b.Status, TLogReadStatus::End) << b.Problem;
    ASSERT_FALSE(a.Entries.empty());
    ASSERT_FALSE(b.Entries.empty());
    // The two parts hold the newest entries, without a gap, ending with the last.
    std::vector<TLogEntry> all = a.Entries;
    all.insert(all.end(), b.Entries.begin(), b.Entries.end());
    const int first = 400 - static_cast<int>(all.size());
    for (size_t i = 0; i < all.size(); ++i) EXPECT_EQ(all[i].Text, Numbered(first + static_cast<int>(i)));
  }
}

TEST(LogFileOutput, OnePartStartsAfreshWithinItsSize) {
  const Text path = testsupport::ScratchFolder() + u"\\Setup.log";
  LogNumbered(u"file(filename=\"" + path + u"\", maxsize=\"1 KB\", maxparts=\"1\", encrypt=\"true\", key=\"" + kKey + u"\")",
              0, 100);
  EXPECT_LE(SizeOf(path), 1024u);
  EXPECT_FALSE(testsupport::FileRead(LogFilePartName(path, 1)).has_value());
  auto r = LogFileRead(path, kKey);
  EXPECT_EQ(r.Status, TLogReadStatus::End) << r.Problem;
  ASSERT_FALSE(r.Entries.empty());
  EXPECT_EQ(r.Entries.back().Text, Numbered(99));
}

TEST(LogFileOutput, AnEntryLargerThanAPartIsCutToFit) {
  const Text path = testsupport::ScratchFolder() + u"\\big.log";
  TLogTransport transport(u"Setup.exe");
  transport.ConnectionsSet(u"file(filename=\"" + path + u"\", maxsize=\"1 KB\", encrypt=\"false\")");
  transport.EnabledSet(true);
  TLogChannel channel(transport, u"Main");
  channel.LogMessage(Text(5000, u'b'));
  transport.Close();
  EXPECT_LE(SizeOf(path), 1024u);
  auto r = LogFileRead(path, Text());
  ASSERT_EQ(r.Entries.size(), 1u);
  EXPECT_GT(r.Entries[0].Text.size(), 100u);
  EXPECT_EQ(r.Entries[0].Text, Text(r.Entries[0].Text.size(), u'b'));
}

TEST(LogFileOutput, ReopeningAppendsAndCutsACutRecordOff) {
  const Text path = testsupport::ScratchFolder() + u"\\Setup.log";
  const Text connections = u"file(filename=\"" + path + u"\", encrypt=\"true\", key=\"" + kKey + u"\")";
  LogNumbered(connections, 0, 3);
  // A writer that died within a record: its last bytes are missing.
  auto data = testsupport::FileRead(path);
  ASSERT_TRUE(data.has_value());
  ASSERT_TRUE(testsupport::FileWrite(path, data->substr(0, data->size() - 5)));
  LogNumbered(connections, 3, 6);
  auto r = LogFileRead(path, kKey);
  EXPECT_EQ(r.Status, TLogReadStatus::End) << r.Problem;
  std::vector<Text> got;
  for (auto& e : r.Entries) got.push_back(e.Text);
  EXPECT_EQ(got, (std::vector<Text>{Numbered(0), Numbered(1), Numbered(3), Numbered(4), Numbered(5)}));
}

TEST(LogFileOutput, AFileThatIsNotALogIsLeftAlone) {
  const Text path = testsupport::ScratchFolder() + u"\\notes.log";
  ASSERT_TRUE(testsupport::FileWrite(path, "my own notes\r\n"));
  LogNumbered(u"file(filename=\"" + path + u"\")", 0, 10);
  EXPECT_EQ(testsupport::FileRead(path), std::optional<std::string>("my own notes\r\n"));
}

TEST(LogFileOutput, AnUnwritableFileDropsEntriesWithoutHarm) {
  const Text path = testsupport::ScratchFolder() + u"\\missing folder\\Setup.log";
  for (const char16_t* async : {u"false", u"true"}) {
    TLogTransport transport(u"Setup.exe");
    transport.ConnectionsSet(u"file(filename=\"" + path + u"\", async.enabled=" + async + u", async.queue=\"1 KB\")");
    transport.EnabledSet(true);
    TLogChannel channel(transport, u"Main");
    for (int i = 0; i < 2000; ++i) channel.LogMessage(Numbered(i));
    transport.Flush();
    transport.Close();
    transport.Close();
  }
  EXPECT_FALSE(testsupport::FileRead(path).has_value());
}

}  // namespace
