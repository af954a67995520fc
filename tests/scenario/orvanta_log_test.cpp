// orvanta-log as a user runs it on log files the transport wrote.
#include <filesystem>
#include <fstream>
#include <string>

#include "TestSupport.h"
#include "WinsimSupport.h"
#include "logtransport/LogFileKey.h"
#include "logtransport/LogTransport.h"
#include "platform/sim/machine.h"

namespace {

// Writes a log file on the test's machine; its host path.
std::string LogWrite(const Text& aName, const Text& aKey, void (*aLog)(TLogChannel&)) {
  const Text path = testsupport::ScratchFolder() + u"\\" + aName;
  TLogTransport transport(u"Setup.exe");
  transport.ConnectionsSet(u"file(filename=\"" + path + u"\", async.enabled=\"true\", encrypt=\"true\", key=\"" + aKey + u"\")");
  transport.EnabledSet(true);
  TLogChannel channel(transport, u"Main");
  aLog(channel);
  transport.Close();
  return sim::ResolvePath(sim::CurrentPathContext(), path).Host;
}

WinsimResult Tool(const std::string& aArgs) { return CommandRun("'" ORVANTA_LOG_EXE "' " + aArgs + " 2>&1"); }

std::string Quoted(const std::string& s) { return "'" + s + "'"; }

TEST(OrvantaLog, PrintsEntriesAndIndentsFurtherLines) {
  std::string file = LogWrite(u"Setup.log", LogFileKeyForm(), [](TLogChannel& c) {
    c.EnterProcess();
    c.LogMessage(u"[Installer] first\r\nsecond");
    c.LogColored(0x000000FF, u"red");
  });
  auto r = Tool(Quoted(file));
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find(" enter-process "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(" message       [Installer] first\n"), std::string::npos) << r.out;
  // The continuation starts under the text's first character.
  size_t first = r.out.find("[Installer] first");
  size_t lineStart = r.out.rfind('\n', first) + 1;
  size_t second = r.out.find("second");
  ASSERT_NE(second, std::string::npos);
  EXPECT_EQ(second - (r.out.rfind('\n', second) + 1), first - lineStart);
  EXPECT_NE(r.out.find("colored #0000FF red"), std::string::npos) << r.out;

  r = Tool("--json " + Quoted(file));
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("\"kind\":\"message\",\"color\":0,\"text\":\"[Installer] first\\r\\nsecond\"}"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"app\":\"Setup.exe\",\"channel\":\"Main\""), std::string::npos) << r.out;
}

TEST(OrvantaLog, RefusesWithStatusTwo) {
  std::string file = LogWrite(u"Setup.log", u"0123456789ABCDEF", [](TLogChannel& c) { c.LogMessage(u"secret"); });
  auto r = Tool(Quoted(file));  // the installer's key, not this one
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("wrong key"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("secret"), std::string::npos);
  EXPECT_EQ(Tool("--key 0123456789ABCDEF " + Quoted(file)).status, 0);

  std::filesystem::path other = std::filesystem::path(file).parent_path() / "other.txt";
  std::ofstream(other) << "not a log\n";
  r = Tool(Quoted(other.string()));
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("not a log file"), std::string::npos) << r.out;
  EXPECT_EQ(Tool(Quoted(other.string() + ".missing")).status, 2);
}

TEST(OrvantaLog, ADamagedTailIsAWarningAfterTheEntries) {
  std::string file = LogWrite(u"Setup.log", LogFileKeyForm(), [](TLogChannel& c) { c.LogMessage(u"kept"); });
  {
    std::ofstream append(file, std::ios::app | std::ios::binary);
    append << "REC\x1e" << std::string(6, '\x7f');  // a record cut short
  }
  auto r = Tool(Quoted(file) + " " + Quoted(file));
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("kept"), std::string::npos);
  EXPECT_NE(r.out.find("warning: damaged tail at offset"), std::string::npos) << r.out;
  EXPECT_LT(r.out.find("kept"), r.out.find("warning"));
}

}  // namespace
