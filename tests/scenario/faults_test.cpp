// Faults on demand, as winsim run gives them: failed calls, failed paths and the power cut.
// The probe's "save" makes, in this order: CreateFileW, WriteFile, [FlushFileBuffers],
// CloseHandle, MoveFileExW, GetFileAttributesW.
#include <filesystem>
#include <fstream>
#include <string>

#include "TestSupport.h"
#include "WinsimSupport.h"

namespace fs = std::filesystem;

namespace {

const std::string kFile = "C:\\Users\\User\\a.txt";

class FaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FRoot = fs::temp_directory_path() / ("faults-test-" + std::to_string(::getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(FRoot);
    fs::create_directories(FRoot);
    FMachine = (FRoot / "m").string();
  }
  void TearDown() override { fs::remove_all(FRoot); }

  WinsimResult Winsim(const std::string& aArgs) { return WinsimRun(aArgs, true); }
  // A new machine whose kFile holds "old".
  void MachineNew() {
    fs::remove_all(FMachine);
    ASSERT_EQ(Winsim("new " + FMachine).status, 0);
    const std::string old = (FRoot / "old.txt").string();
    std::ofstream(old) << "old";
    ASSERT_EQ(Winsim("put " + FMachine + " " + old + " '" + kFile + "'").status, 0);
  }
  WinsimResult Save(const std::string& aOptions, const std::string& aArgs) {
    return Winsim("run " + FMachine + " " + aOptions + " -- " PROBE_EXE " save '" + kFile + "' " + aArgs);
  }
  // A file of the machine; "<absent>" when there is none.
  std::string File(const std::string& aWinPath) {
    const std::string host = (FRoot / "got").string();
    fs::remove(host);
    if (Winsim("get " + FMachine + " '" + aWinPath + "' " + host).status != 0) return "<absent>";
    return HostFileRead(host);
  }
  std::string Events() { return Winsim("events " + FMachine).out; }

  fs::path FRoot;
  std::string FMachine;
};

}  // namespace

// Written, renamed over the old file, then the power goes: the rename stays, and the content
// is there only when it was flushed.
TEST_F(FaultsTest, APowerCutLosesWhatWasNotFlushedAndKeepsTheRename) {
  const std::string text = "the whole content of the file";
  struct Case {
    const char* Flush;
    std::string Content;
  };
  const Case cases[] = {{"", std::string(text.size(), '\0')}, {"flush", text}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Flush);
    MachineNew();
    WinsimResult counted = Save("--count-calls", "'" + text + "' " + c.Flush);
    ASSERT_EQ(counted.status, 0) << counted.out;
    const std::size_t at = counted.out.find("calls: ");
    ASSERT_NE(at, std::string::npos) << counted.out;
    const std::string calls = counted.out.substr(at + 7, counted.out.find('\n', at) - at - 7);
    EXPECT_EQ(calls, *c.Flush ? "6" : "5");

    // The cut comes at the last call: everything before it is done.
    MachineNew();
    WinsimResult cut = Save("--power-cut " + calls, "'" + text + "' " + c.Flush);
    EXPECT_EQ(cut.status, 125) << cut.out;
    EXPECT_NE(cut.out.find("power cut at call " + calls), std::string::npos) << cut.out;
    EXPECT_EQ(cut.out.find("OK"), std::string::npos) << "the probe never finished: " << cut.out;
    const std::string events = Events();
    EXPECT_NE(events.find("{\"type\":\"power-cut\",\"pid\":1004,\"call\":" + calls +
                          ",\"function\":\"GetFileAttributesW\",\"path\":\"C:\\\\Users\\\\User\\\\a.txt\"}"),
              std::string::npos)
        << events;
    EXPECT_NE(events.find("{\"type\":\"process-exit\",\"pid\":1004,\"exitCode\":1}"), std::string::npos) << events;
    ASSERT_EQ(Winsim("reboot " + FMachine).status, 0);
    EXPECT_EQ(File(kFile), c.Content);
    EXPECT_EQ(File(kFile + ".new"), "<absent>");
  }
}

TEST_F(FaultsTest, AFailedCallDoesNothingAndSetsTheLastError) {
  struct Case {
    std::string Options;
    int Error;
    const char* Function;  // of the fault event
    const char* Left;      // kFile afterwards
    const char* Aside;     // kFile.new afterwards
  };
  const Case cases[] = {
      {"--fail-call 1:112", 112, "CreateFileW", "old", "<absent>"},
      {"--fail-call 3:0x20", 32, "CloseHandle", "old", "text"},
      {"--fail-call 5:5", 5, "GetFileAttributesW", "text", "<absent>"},
      // Every call on a path, whatever the case and prefix it is named with.
      {"--fail-path 'c:\\users\\user\\A.TXT:5'", 5, "MoveFileExW", "old", "text"},
      {"--fail-path '\\\\?\\C:\\Users\\User\\a.txt.new:112' --fail-path 'C:\\Other:5'", 112, "CreateFileW", "old",
       "<absent>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Options);
    MachineNew();
    WinsimResult r = Save(c.Options, "text");
    EXPECT_EQ(r.status, c.Error) << r.out;
    EXPECT_EQ(r.out, "ERROR " + std::to_string(c.Error) + "\n");
    const std::string events = Events();
    EXPECT_NE(events.find("\"function\":\"" + std::string(c.Function) + "\""), std::string::npos) << events;
    EXPECT_NE(events.find("\"error\":" + std::to_string(c.Error) + "}"), std::string::npos) << events;
    EXPECT_EQ(File(kFile), c.Left);
    EXPECT_EQ(File(kFile + ".new"), c.Aside);
  }
}

TEST_F(FaultsTest, FaultOptionsThatAreNotWellFormedAreRefused) {
  MachineNew();
  for (const char* options : {"--fail-call 0:5", "--fail-call 3", "--fail-call 3:0", "--fail-call x:5",
                              "--fail-call 3:-5", "--fail-call 3:0x100000000", "--fail-path 'C:\\x'",
                              "--fail-path 'C:\\x:'", "--power-cut x"}) {
    SCOPED_TRACE(options);
    WinsimResult r = Save(options, "text");
    EXPECT_EQ(r.status, 2) << r.out;
    EXPECT_EQ(File(kFile), "old");
  }
  // Nothing of the faults is left in the machine.
  for (const auto& e : fs::directory_iterator(FMachine + "/state"))
    EXPECT_EQ(e.path().filename().string().rfind("faults-", 0), std::string::npos) << e.path();
}
