#include "diag/uDebug.h"

#include <memory>
#include <vector>

#include "DebugRecorder.h"
#include "TestSupport.h"
#include "diag/uJobPool.h"
#include "diag/uMisc.h"
#include "diag/uThreadSync.h"
#include "diag/uUnits.h"
#include "logtransport/LogTransport.h"
#include "params/uMiscLean.h"
#include "ui/Form.h"

namespace {

// The test program's debug facility (made by its main), with its outputs put back after each
// test.
class DebugTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(Debug, nullptr);
    LogLinesRecordedClear();
    ProblemsRecordedClear();
    FLogFile = Debug->LogFile;
  }
  void TearDown() override {
    Debug->LogToConsole = false;
    Debug->LogToFile = false;
    Debug->LogFile = FLogFile;
    Debug->EnableLogging(Text());
    ProblemsRecordedClear();
  }
  TPath FLogFile;
};

TEST_F(DebugTest, ConnectionStringsCharacterForCharacter) {
  const TPath file(u"C:\\ProgramData\\Orvanta\\Logs\\Setup.exe 2024-05-17 09-41-07 4312.log");
  const Text fileString =
      u"file(filename=\"C:\\ProgramData\\Orvanta\\Logs\\Setup.exe 2024-05-17 09-41-07 4312.log\",      "
      u"async.enabled=\"true\", async.queue=\"10 MB\",      maxparts=\"1\", maxsize=\"50 MB\",      "
      u"encrypt=\"true\", key=\"K\")";
  struct Case {
    bool console, file, developer;
    Text expected;
  } cases[] = {
      {false, false, false, u""},
      {true, false, false, u"pipe(async.enabled=\"true\")"},
      {false, true, false, fileString},
      {true, true, false, u"pipe(async.enabled=\"true\"), " + fileString},
  };
  for (const Case& c : cases)
    EXPECT_EQ(DebugConnectionsBuild(c.console, c.file, file, u"K", c.developer), c.expected)
        << c.console << c.file;
  Text developer = DebugConnectionsBuild(false, true, file, u"K", true);
  EXPECT_NE(developer.find(u"maxsize=\"500 MB\""), Text::npos) << TextToUtf8(developer);
  EXPECT_EQ(developer.find(u"maxsize=\"50 MB\""), Text::npos);

  // What EnableLogging hands the transport, and that the transport takes it.
  Debug->LogToConsole = true;
  Debug->EnableLogging(u"K");
  EXPECT_EQ(LogTransportGet()->ConnectionsGet(), u"pipe(async.enabled=\"true\")");
  Debug->LogToConsole = false;
  Debug->LogFile = TPath(testsupport::ScratchFolder()) + TPath(u"x.log");
  Debug->LogToFile = true;
  Debug->EnableLogging(u"0123456789ABCDEF");
  Text connections = LogTransportGet()->ConnectionsGet();
  EXPECT_EQ(connections.rfind(u"file(filename=\"", 0), 0u) << TextToUtf8(connections);
  EXPECT_EQ(connections.find(u"pipe"), Text::npos);
  EXPECT_NE(connections.find(u"key=\"0123456789ABCDEF\")"), Text::npos);
  EXPECT_TRUE(Debug->LoggingEnabled);
  EXPECT_TRUE(LogTransportGet()->EnabledGet());
}

TEST_F(DebugTest, LinesAreDroppedWhileLoggingIsOffAndTildeBreaksLines) {
  Debug->Log(u"a~b");
  DebugLog(u"[Installer] x~~y");
  std::vector<Text> expected{u"a\r\nb", u"[Installer] x\r\n\r\ny"};
  EXPECT_EQ(LogLinesRecordedGet(), expected);

  Debug->DisableLogging();
  EXPECT_FALSE(Debug->LoggingEnabled);
  DebugLog(u"dropped");
  Debug->LogBuffer(std::vector<std::uint8_t>{1, 2, 3});
  EXPECT_EQ(LogLinesRecordedGet(), expected);
  Debug->EnableLogging(Text());
  DebugLog(u"back");
  EXPECT_EQ(LogLinesRecordedGet().back(), u"back");
}

TEST_F(DebugTest, LoggingKeepsTheCallersLastError) {
  win::SetLastError(win::ERROR_ACCESS_DENIED);
  DebugLog(u"a line between a call and its error");
  EXPECT_EQ(win::GetLastError(), win::ERROR_ACCESS_DENIED);
}

TEST_F(DebugTest, HexDumps) {
  const Text dashes(70, u'-');
  EXPECT_EQ(BufferToHexDump({}), dashes + u"\r\n");

  const std::vector<std::uint8_t> hello{'H', 'e', 'l', 'l', 'o'};
  Text line = u"01: 48 65 6C 6C 6F";
  line += Text(48 - 15, u' ') + u" | Hello";
  EXPECT_EQ(BufferToHexDump(hello), dashes + u"\r\n" + line + u"\r\n");

  std::vector<std::uint8_t> seventeen(17);
  for (std::size_t i = 0; i < seventeen.size(); ++i) seventeen[i] = static_cast<std::uint8_t>(i * 16 + 1);
  Text dump = BufferToHexDump(seventeen);
  std::vector<Text> lines;
  for (std::size_t at = 0, next; (next = dump.find(u"\r\n", at)) != Text::npos; at = next + 2)
    lines.push_back(dump.substr(at, next - at));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1].substr(0, 3), u"01:");
  EXPECT_EQ(lines[1].substr(3, 48), u" 01 11 21 31 41 51 61 71 81 91 A1 B1 C1 D1 E1 F1");
  EXPECT_EQ(lines[1].substr(51), u" | ..!1AQaq........");
  EXPECT_EQ(lines[2], u"02: 01" + Text(45, u' ') + u" | .");

  std::vector<std::uint8_t> many(600, '~');
  dump = BufferToHexDump(many);
  lines.clear();
  for (std::size_t at = 0, next; (next = dump.find(u"\r\n", at)) != Text::npos; at = next + 2)
    lines.push_back(dump.substr(at, next - at));
  ASSERT_EQ(lines.size(), 1u + 32u + 1u);
  EXPECT_EQ(lines[32].substr(0, 3), u"32:");
  EXPECT_EQ(lines[33], Text(70, u'.'));

  // Exactly 512 bytes fill the 32 lines without the dot line.
  EXPECT_EQ(BufferToHexDump(std::vector<std::uint8_t>(512, 0)).find(Text(70, u'.')), Text::npos);

  // Through Log, a "~" shown in the character column becomes a line break.
  Debug->LogBuffer(std::vector<std::uint8_t>{'~'});
  EXPECT_NE(LogLinesRecordedGet().back().find(u" | \r\n"), Text::npos);
}

TEST_F(DebugTest, LogFileNamesCarryTheProcessId) {
  const TPath folder = TPath(testsupport::ScratchFolder()) + TPath(u"Logs\\Deeper");
  Debug->FileLoggingActivateDefault(folder);
  EXPECT_TRUE(Debug->LogToFile);
  const Text name = Debug->LogFile.LastGet();
  const Text exe = ExePathGet().LastGet();
  const Text pid = UIntToText(win::GetCurrentProcessId());
  ASSERT_EQ(name.rfind(exe + u" ", 0), 0u) << TextToUtf8(name);
  // "<exe> yyyy-mm-dd hh-nn-ss <pid>.log"
  const Text rest = name.substr(exe.size() + 1);
  ASSERT_EQ(rest.size(), 19u + 1u + pid.size() + 4u) << TextToUtf8(rest);
  EXPECT_EQ(rest.substr(4, 1), u"-");
  EXPECT_EQ(rest.substr(13, 1), u"-");
  EXPECT_EQ(rest.substr(16, 1), u"-");
  EXPECT_EQ(rest.substr(20), pid + u".log");
  EXPECT_TRUE(Debug->LogFile.WithoutLast().IsSameAs(folder));
  EXPECT_NE(win::GetFileAttributesW((u"\\\\?\\" + folder).c_str()), win::INVALID_FILE_ATTRIBUTES)
      << "the folder is made";
}

// With the lock controller and the job pool of a program, as Units makes them.
class DebugWithPoolTest : public DebugTest {
 protected:
  void SetUp() override {
    DebugTest::SetUp();
    ASSERT_EQ(JobPool, nullptr);
    FUnits = std::make_unique<TUnits>();
    FUnits->Add<TLockController>(u"uThreadSync", &LockController, {});
    FUnits->Add<TJobPool>(u"uJobPool", &JobPool, {u"uThreadSync"});
    FUnits->Run();
    ASSERT_NE(JobHandlerMain, nullptr);
  }
  void TearDown() override {
    FUnits.reset();
    DebugTest::TearDown();
  }
  static std::vector<TJob*> MainQueue() { return JobPool->GroupByName(u"Main")->JobsQueuedGet(); }
  std::unique_ptr<TUnits> FUnits;
};

TEST_F(DebugWithPoolTest, AFailedVerifyIsLoggedAndQueuedAndDoesNotRaise) {
  EXPECT_NO_THROW(EXPECT_FALSE(Verify(false)));
  auto lines = LogLinesRecordedGet();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind(u"[Problem] ", 0), 0u);
  auto queued = MainQueue();
  ASSERT_EQ(queued.size(), 1u) << "one ProblemNotify job, staying queued: the pool is not started";
  EXPECT_EQ(queued[0]->Name, u"ProblemNotify");
  EXPECT_TRUE(queued[0]->IsNotification);
  EXPECT_EQ(queued[0]->Params.GetStringByIndex(0), u"Alert");
  EXPECT_EQ(queued[0]->Params, ProblemsRecordedGet().at(0).Report);
}

TEST_F(DebugWithPoolTest, OnCreateQueuesTheChecksAndTheWipe) {
  // A debug facility of its own, made as Units makes it, in place of the test program's.
  TDebug* programs = Debug;
  Debug = nullptr;
  {
    TUnits units;
    units.Add<TDebug>(u"uDebug", &Debug, {});
    units.Run();
    ASSERT_NE(Debug, nullptr);
    EXPECT_FALSE(Debug->LoggingEnabled);
    EXPECT_FALSE(Debug->LogToFile);
    EXPECT_EQ(Debug->LogFile.LastGet(), ExePathGet().LastGet() + u".log");
    EXPECT_EQ(Debug->MemoryConsumptionLevels.ToString(), TFlexArray(TArrayOfVariants{
        Variant(Text(u"High")), Variant(std::int32_t(200)), Variant(Text(u"Very High")), Variant(std::int32_t(500)),
        Variant(Text(u"Extreme")), Variant(std::int32_t(1000)), Variant(Text(u"Critical")),
        Variant(std::int32_t(1500))}).ToString());
    ASSERT_NE(Debug->HangDetectionLock, nullptr);
    EXPECT_EQ(Debug->HangDetectionLock->Name, u"ThreadAlive");
    EXPECT_TRUE(static_cast<bool>(JobPool->HangDetectionIsAliveFn));
    std::vector<Text> names;
    for (TJob* j : JobPool->GroupByName(u"Async")->JobsQueuedGet()) names.push_back(j->Name);
    EXPECT_EQ(names, (std::vector<Text>{u"jaHangDetection", u"jaMemoryConsumptionCheck", u"jaWipeOldLogFiles"}));
    DebugLog(u"dropped: logging is off");
  }
  EXPECT_EQ(Debug, nullptr);
  Debug = programs;
  EXPECT_TRUE(LogLinesRecordedGet().empty());
}

TEST_F(DebugWithPoolTest, WipeOldLogFilesDeletesOnlyClosedLogFiles) {
  const Text folder = testsupport::ScratchFolder();
  for (const char16_t* name : {u"a.log", u"b.log", u"c.txt", u"d.LOG"})
    ASSERT_TRUE(testsupport::FileWrite(folder + u"\\" + name, "x"));
  // b.log is held open, as a running program's log file is.
  win::HANDLE held = win::CreateFileW((folder + u"\\b.log").c_str(), win::GENERIC_READ | win::GENERIC_WRITE,
                                      win::FILE_SHARE_READ, nullptr, win::OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, win::INVALID_HANDLE_VALUE);
  Debug->LogFile = TPath(folder) + TPath(u"current.log");
  TJob job(JobPool);
  Debug->WipeOldLogFiles(job);
  win::CloseHandle(held);
  EXPECT_FALSE(testsupport::FileRead(folder + u"\\a.log"));
  EXPECT_FALSE(testsupport::FileRead(folder + u"\\d.LOG"));
  EXPECT_TRUE(testsupport::FileRead(folder + u"\\b.log"));
  EXPECT_TRUE(testsupport::FileRead(folder + u"\\c.txt"));
}

TEST_F(DebugTest, HangReportsHaveADurationInsteadOfAMessage) {
  TCallstack stack(1);
  stack[0].UnitName = u"uMain";
  stack[0].RoutineName = u"TForm1.InstallRun";
  stack[0].Line = 120;
  ProblemNotify(u"Hang", u"8012", stack, 77, Text());
  auto problems = ProblemsRecordedGet();
  ASSERT_EQ(problems.size(), 1u);
  const TFlexArray& r = problems[0].Report;
  ASSERT_EQ(r.Count(), 4);
  EXPECT_EQ(r.GetKeyByIndex(0), u"Type");
  EXPECT_EQ(r.GetKeyByIndex(1), u"Thread");
  EXPECT_EQ(r.GetKeyByIndex(2), u"Duration");
  EXPECT_EQ(r.GetKeyByIndex(3), u"CallStack");
  EXPECT_EQ(r.GetStringByIndex(1), u" (77)");
  EXPECT_EQ(r.GetStringByIndex(2), u"8012");

  // Every frame skipped: no procedure; with all call stacks: the last key.
  ProblemsRecordedClear();
  TCallstack reporting(3);
  reporting[0].UnitName = u"uMisc";
  reporting[0].RoutineName = u"alertif";
  reporting[1].UnitName = u"uDebug";
  reporting[1].RoutineName = u"CallstackCreateForCurrentThread";
  reporting[2].ModuleName = u"Setup.exe";
  ProblemNotify(u"Error", u"EDebugStop: Error: x", reporting, 5, u"ALL");
  const TFlexArray e = ProblemsRecordedGet().at(0).Report;
  EXPECT_FALSE(e.HasKey(u"ProcedureName"));
  EXPECT_EQ(e.GetKeyByIndex(e.Count() - 1), u"AllCallStacks");
  EXPECT_EQ(e.GetKeyByIndex(1), u"Message");
}

TEST_F(DebugTest, CallstackTextPadsAndAligns) {
  TCallstack stack(3);
  stack[0] = {0, 0, u"Setup.exe", u"uMain", 7, 2, u"TForm1.InstallRun"};
  stack[1] = {0, 0, u"Setup.exe", u"uDebug", 1234, 15, u"DebugLog"};
  stack[2] = {0, 0, u"kernel32.dll", Text(), 0, 0, u".BaseThreadInitThunk.x"};
  Text text = CallstackToText(stack);
  // The third frame's routine ".BaseThreadInitThunk.x" splits after its leading dot.
  std::vector<Text> expected{
      u"uMain        |    7 | TForm1              | InstallRun |  +2",
      u"uDebug       | 1234 |                     | DebugLog   | +15",
      u"kernel32.dll |      | BaseThreadInitThunk | x          |    ",
  };
  EXPECT_EQ(text, expected[0] + u"\r\n" + expected[1] + u"\r\n" + expected[2]);

  // A single frame: every column as wide as its one cell.
  TCallstack two{stack[0]};
  EXPECT_EQ(CallstackToText(two), u"uMain | 7 | TForm1 | InstallRun | +2");
  EXPECT_EQ(CallstackToText({}), u"");
}

TEST_F(DebugTest, AllThreadsText) {
  TCallstack stack(1);
  stack[0] = {0, 0, u"m", u"uA", 1, 0, u"F"};
  Text text = CallstacksOfThreadsToText({{11, stack}, {12, stack}});
  Text block11 = u" ---------------------- Thread: 11 -  ------------------------ \r\n\r\nuA | 1 |  | F | +0";
  Text block12 = u" ---------------------- Thread: 12 -  ------------------------ \r\n\r\nuA | 1 |  | F | +0";
  EXPECT_EQ(text, block11 + u"\r\n\r\n" + block12);
}

TEST_F(DebugTest, MemoryLevels) {
  struct Case {
    std::int32_t mb;
    int level;
  } cases[] = {{0, -1}, {200, -1}, {201, 0}, {500, 0}, {501, 1}, {1000, 1}, {1001, 2}, {1501, 3}, {99999, 3}};
  for (const Case& c : cases) EXPECT_EQ(Debug->MemoryConsumptionLevelOf(c.mb), c.level) << c.mb;
}

TEST_F(DebugTest, AConsoleWindowSwitchesTheConsoleOutputOn) {
  SIM_ONLY("a form of its own outside the application's is not found by its title under Wine yet");
  Debug->LogToConsole = false;
  Debug->LogToConsoleActivateIfConsoleRunning();
  EXPECT_FALSE(Debug->LogToConsole) << "no console window";

  TForm* console = new TForm(nullptr, u"TLogConsole");
  console->CaptionSet(u"Log Console Redistributable");
  console->Show();
  Debug->LogToConsoleActivateIfConsoleRunning();
  EXPECT_TRUE(Debug->LogToConsole);
  ComponentFree(console);
  Debug->LogToConsoleActivateIfConsoleRunning();
  EXPECT_TRUE(Debug->LogToConsole) << "never set back";
}

}  // namespace
