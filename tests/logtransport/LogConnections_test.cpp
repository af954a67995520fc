#include <gtest/gtest.h>

#include "logtransport/LogConnections.h"
#include "platform/utf.h"

namespace {

TEST(LogConnections, TheStringsTheDebugFacilityBuildsParse) {
  const Text console = u"pipe(async.enabled=\"true\")";
  const Text file =
      u"file(filename=\"C:\\x\\Setup.exe 2024-05-17 09-41-07 4312.log\",      async.enabled=\"true\", "
      u"async.queue=\"10 MB\",      maxparts=\"1\", maxsize=\"50 MB\",      encrypt=\"true\", key=\"0123456789ABCDEF\")";

  auto c = LogConnectionsParse(console);
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c[0].Protocol, TLogProtocol::Pipe);
  EXPECT_TRUE(c[0].AsyncEnabled);

  c = LogConnectionsParse(file);
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c[0].Protocol, TLogProtocol::File);
  // Backslashes in values are the path's own.
  EXPECT_EQ(c[0].FileName, u"C:\\x\\Setup.exe 2024-05-17 09-41-07 4312.log");
  EXPECT_TRUE(c[0].AsyncEnabled);
  EXPECT_EQ(c[0].AsyncQueue, 10u << 20);
  EXPECT_EQ(c[0].MaxParts, 1u);
  EXPECT_EQ(c[0].MaxSize, 50u << 20);
  EXPECT_TRUE(c[0].Encrypt);
  EXPECT_EQ(c[0].Key, u"0123456789ABCDEF");

  c = LogConnectionsParse(console + u", " + file);
  ASSERT_EQ(c.size(), 2u);
  EXPECT_EQ(c[0].Protocol, TLogProtocol::Pipe);
  EXPECT_EQ(c[1].Protocol, TLogProtocol::File);
  EXPECT_EQ(c[1].Position, console.size() + 2);

  EXPECT_TRUE(LogConnectionsParse(u"").empty());
  EXPECT_TRUE(LogConnectionsParse(u"  \t ").empty());
}

TEST(LogConnections, ValuesAndOptions) {
  struct Case {
    const char16_t* Text;
    std::uint64_t MaxSize, Queue;
    std::uint32_t Interval;
    bool Reconnect;
  } cases[] = {
      {u"pipe(reconnect=true, reconnect.interval=1s)", 0, 10u << 20, 1000, true},
      {u"pipe(RECONNECT = \"TRUE\" , reconnect.interval = 500ms)", 0, 10u << 20, 500, true},
      {u"pipe(reconnect.interval=2 min, async.queue=4096)", 0, 4096, 120000, false},
      {u"pipe()", 0, 10u << 20, 1000, false},
      {u"file(filename=a.log, maxsize=1 KB, async.queue=2 kb)", 1024, 2048, 1000, false},
      {u"file(filename=a.log, maxsize=3GB, async.queue=\"100 bytes\")", 3ull << 30, 100, 1000, false},
      {u" File ( FileName = a.log , MaxSize = 2048 b ) ", 2048, 10u << 20, 1000, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(TextToUtf8(c.Text));
    auto v = LogConnectionsParse(c.Text);
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(v[0].MaxSize, c.MaxSize);
    EXPECT_EQ(v[0].AsyncQueue, c.Queue);
    EXPECT_EQ(v[0].ReconnectIntervalMs, c.Interval);
    EXPECT_EQ(v[0].Reconnect, c.Reconnect);
  }
  // A bare value keeps its inner blanks; a key alone asks for encryption.
  auto v = LogConnectionsParse(u"file(filename= C:\\My Logs\\a.log , key=K)");
  EXPECT_EQ(v[0].FileName, u"C:\\My Logs\\a.log");
  EXPECT_TRUE(v[0].Encrypt);
  v = LogConnectionsParse(u"file(filename=a.log, key=K, encrypt=false)");
  EXPECT_FALSE(v[0].Encrypt);
}

TEST(LogConnections, MalformedStringsNameTheProblemAndWhere) {
  struct Case {
    const char16_t* Text;
    const char* Says;
    size_t Position;
  } cases[] = {
      {u"console()", "unknown protocol \"console\"", 0},
      {u"pipe(async.enabled=\"true\"), tcp(x=1)", "unknown protocol \"tcp\"", 28},
      {u"file(filename=a, colour=red)", "unknown option \"colour\" for \"file\"", 17},
      {u"pipe(filename=a.log)", "unknown option \"filename\" for \"pipe\"", 5},
      {u"file(filename=a, async.queue=\"10 XB\")", "\"async.queue\": \"10 XB\" is not a size", 29},
      {u"file(filename=a, maxsize=lots)", "\"maxsize\": \"lots\" is not a size", 25},
      {u"file(filename=a, maxsize=10)", "at least 1 KB", 25},
      {u"file(filename=a, async.queue=0)", "a size above 0", 29},
      {u"file(filename=a, maxparts=0)", "a number from 1", 26},
      {u"file(filename=a, async.enabled=yes)", "true or false", 31},
      {u"pipe(reconnect.interval=soon)", "a duration", 24},
      {u"file(filename=\"a.log)", "unterminated quoted value", 14},
      {u"file(filename=a.log", "\")\" missing for \"file\"", 0},
      {u"file filename=a.log)", "\"(\" expected after \"file\"", 5},
      {u"file(filename=a.log))", "\",\" or the end expected", 20},
      {u"file(filename=a.log,)", "an option name expected", 20},
      {u"file(filename)", "\"=\" expected after \"filename\"", 13},
      {u"file(filename=)", "a value expected", 14},
      {u"file(filename=a\"b)", "inside an unquoted value", 15},
      {u"pipe(), ", "a protocol expected", 8},
      {u", pipe()", "a protocol name expected", 0},
      {u"file(maxsize=1 MB)", "\"filename\" missing", 0},
      {u"file(filename=a, encrypt=true)", "\"key\" missing", 0},
      {u"file(filename=a, filename=b)", "given twice", 17},
      {u"file(filename=A.log), file(filename=a.LOG)", "named by two outputs", 22},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(TextToUtf8(c.Text));
    try {
      LogConnectionsParse(c.Text);
      ADD_FAILURE() << "accepted";
    } catch (const ELogConnectionsError& e) {
      std::string message = TextToUtf8(e.Message());
      EXPECT_NE(message.find(c.Says), std::string::npos) << message;
      EXPECT_NE(message.find("at offset " + std::to_string(c.Position)), std::string::npos) << message;
      EXPECT_EQ(e.Position, c.Position);
    }
  }
}

}  // namespace
