// winsim's contract, driven as a user drives it: new, run, events, put, get, tree.
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "TestSupport.h"
#include "WinsimSupport.h"

namespace fs = std::filesystem;

namespace {

using Result = WinsimResult;

Result Winsim(const std::string& aArgs) { return WinsimRun(aArgs, true); }

class WinsimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FRoot = fs::temp_directory_path() / ("winsim-test-" + std::to_string(::getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(FRoot);
    fs::create_directories(FRoot);
    FMachine = (FRoot / "m").string();
  }
  void TearDown() override { fs::remove_all(FRoot); }
  fs::path FRoot;
  std::string FMachine;
};

}  // namespace

TEST_F(WinsimTest, RunsAProgramAsAProcessOfTheMachineAndLogsStartAndExit) {
  ASSERT_EQ(Winsim("new " + FMachine).status, 0);
  Result r = Winsim("run " + FMachine + " -- " PROBE_EXE " 7 \"two words\"");
  EXPECT_EQ(r.status, 7);
  EXPECT_NE(r.out.find("image: C:\\Users\\User\\Downloads\\scenario_probe.exe"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("commandLine: \"C:\\Users\\User\\Downloads\\scenario_probe.exe\" 7 \"two words\""),
            std::string::npos)
      << r.out;
  Result events = Winsim("events " + FMachine);
  ASSERT_EQ(events.status, 0);
  std::istringstream lines(events.out);
  std::string shell, start, exit;
  std::getline(lines, shell);
  std::getline(lines, start);
  std::getline(lines, exit);
  EXPECT_NE(shell.find("\"image\":\"C:\\\\Windows\\\\explorer.exe\""), std::string::npos) << shell;
  EXPECT_NE(start.find("\"type\":\"process-start\""), std::string::npos) << start;
  EXPECT_NE(start.find("\"integrity\":\"medium\""), std::string::npos) << start;
  EXPECT_NE(start.find("\"bits\":32"), std::string::npos) << start;
  EXPECT_NE(start.find("\"parent\":1000"), std::string::npos) << start;
  EXPECT_NE(r.out.find("pid: 1004"), std::string::npos) << r.out;
  EXPECT_EQ(exit, "{\"type\":\"process-exit\",\"pid\":1004,\"exitCode\":7}");
}

TEST_F(WinsimTest, RunHonoursIntegrityBitsAndPlace) {
  ASSERT_EQ(Winsim("new " + FMachine + " --windows 6.1 --computer BUILDBOX").status, 0);
  Result r = Winsim("run " + FMachine + " --integrity high --bits 64 --at 'C:\\Tools\\probe' -- " PROBE_EXE);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("image: C:\\Tools\\probe"), std::string::npos) << r.out;
  std::string events = Winsim("events " + FMachine).out;
  EXPECT_NE(events.find("\"integrity\":\"high\",\"bits\":64"), std::string::npos) << events;
  std::ifstream ini(FMachine + "/machine.ini");
  std::string all((std::istreambuf_iterator<char>(ini)), std::istreambuf_iterator<char>());
  EXPECT_NE(all.find("windows=6.1"), std::string::npos);
  EXPECT_NE(all.find("computer=BUILDBOX"), std::string::npos);
}

TEST_F(WinsimTest, PutGetAndTree) {
  ASSERT_EQ(Winsim("new " + FMachine).status, 0);
  std::string host = (FRoot / "in.txt").string();
  std::ofstream(host) << "abc";
  ASSERT_EQ(Winsim("put " + FMachine + " " + host + " 'C:\\Data\\Sub\\In.txt'").status, 0);
  // Names are found whatever their case.
  std::string back = (FRoot / "back.txt").string();
  ASSERT_EQ(Winsim("get " + FMachine + " 'c:\\DATA\\sub\\in.TXT' " + back).status, 0);
  std::ifstream in(back);
  std::string got;
  std::getline(in, got);
  EXPECT_EQ(got, "abc");
  Result tree = Winsim("tree " + FMachine + " 'C:\\Data'");
  EXPECT_EQ(tree.out,
            "Sub\\\t-\t-\n"
            "Sub\\In.txt\t3\tba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\n");
}

TEST_F(WinsimTest, BadCallsFailWithStatus2AndChangeNothing) {
  EXPECT_EQ(Winsim("events " + FMachine).status, 2);  // no machine yet
  ASSERT_EQ(Winsim("new " + FMachine).status, 0);
  EXPECT_EQ(Winsim("new " + FMachine).status, 2);  // exists
  std::string before = Winsim("tree " + FMachine + " 'C:\\'").out;
  struct Case {
    const char* args;
  };
  const Case cases[] = {
      {"run M --integrity root -- /bin/true"},
      {"run M --bits 16 -- /bin/true"},
      {"run M --uac maybe -- /bin/true"},
      {"run M -- /nonexistent/program"},
      {"run M --at 'C:\\bad|name.exe' -- /bin/true"},
      {"put M /nonexistent 'C:\\x.txt'"},
      {"get M 'C:\\missing.txt' /tmp/never-written"},
      {"tree M 'C:\\missing'"},
      {"frobnicate M"},
  };
  for (const auto& c : cases) {
    std::string args = c.args;
    args.replace(args.find(" M"), 2, " " + FMachine);
    Result r = Winsim(args);
    EXPECT_EQ(r.status, 2) << args << "\n" << r.out;
    EXPECT_FALSE(r.out.empty()) << args;
  }
  EXPECT_EQ(Winsim("tree " + FMachine + " 'C:\\'").out, before);
  EXPECT_FALSE(fs::exists("/tmp/never-written"));
  // A damaged machine folder is refused.
  fs::remove(FMachine + "/machine.ini");
  EXPECT_EQ(Winsim("events " + FMachine).status, 2);
}

TEST_F(WinsimTest, ATimeOutEndsTheProcesses) {
  ASSERT_EQ(Winsim("new " + FMachine).status, 0);
  Result r = Winsim("run " + FMachine + " --timeout 0.5 -- /bin/sleep 30");
  EXPECT_EQ(r.status, 124) << r.out;
  std::string events = Winsim("events " + FMachine).out;
  EXPECT_NE(events.find("\"type\":\"process-exit\",\"pid\":1004"), std::string::npos) << events;
}

TEST_F(WinsimTest, HoldPendingAndReboot) {
  ASSERT_EQ(Winsim("new " + FMachine).status, 0);
  std::string host = (FRoot / "a.txt").string();
  std::ofstream(host) << "old";
  ASSERT_EQ(Winsim("put " + FMachine + " " + host + " 'C:\\Data\\a.txt'").status, 0);
  ASSERT_EQ(Winsim("put " + FMachine + " " + host + " 'C:\\Data\\Tree\\Deep\\f.txt'").status, 0);

  // Another process of the machine holds the file open, sharing nothing.
  std::string holdCmd = "env -u WINSIM_MACHINE -u WINSIM_PID " WINSIM_EXE " hold " + FMachine + " 'C:\\Data\\a.txt'";
  FILE* hold = ::popen(holdCmd.c_str(), "r");
  char line[64] = {};
  ASSERT_TRUE(std::fgets(line, sizeof line, hold));
  EXPECT_STREQ(line, "holding\n");
  Result write = Winsim("run " + FMachine + " -- " PROBE_EXE " write 'C:\\Data\\a.txt' new");
  EXPECT_EQ(write.out, "ERROR 32\n");

  // Delayed moves need an administrator; they are carried out at the restart, in order.
  EXPECT_EQ(Winsim("run " + FMachine + " -- " PROBE_EXE " move-later 'C:\\Data\\a.txt'").out, "ERROR 5\n");
  EXPECT_EQ(Winsim("run " + FMachine + " --integrity high -- " PROBE_EXE " move-later 'C:\\Data\\a.txt' 'C:\\Data\\b.txt'").out,
            "OK\n");
  EXPECT_EQ(Winsim("run " + FMachine + " --integrity high -- " PROBE_EXE " move-later 'C:\\Data\\Tree\\Deep\\f.txt'").out, "OK\n");
  EXPECT_EQ(Winsim("run " + FMachine + " --integrity high -- " PROBE_EXE " move-later 'C:\\Data\\Tree\\Deep'").out, "OK\n");
  EXPECT_EQ(Winsim("pending " + FMachine).out,
            "\\??\\C:\\Data\\a.txt -> !\\??\\C:\\Data\\b.txt\n"
            "\\??\\C:\\Data\\Tree\\Deep\\f.txt -> \n"
            "\\??\\C:\\Data\\Tree\\Deep -> \n");

  ASSERT_EQ(Winsim("reboot " + FMachine).status, 0);
  ::pclose(hold);  // the reboot ended it
  EXPECT_EQ(Winsim("pending " + FMachine).out, "");
  std::string tree = Winsim("tree " + FMachine + " 'C:\\Data'").out;
  EXPECT_EQ(tree.find("a.txt"), std::string::npos) << tree;
  EXPECT_NE(tree.find("b.txt\t3\t"), std::string::npos) << tree;
  EXPECT_EQ(tree.find("Deep"), std::string::npos) << tree;
  EXPECT_NE(tree.find("Tree\\\t-\t-"), std::string::npos) << tree;
  EXPECT_NE(Winsim("events " + FMachine).out.find("{\"type\":\"reboot\"}"), std::string::npos);
}

TEST_F(WinsimTest, SubstMakesADriveStandForAFolder) {
  ASSERT_EQ(Winsim("new " + FMachine).status, 0);
  std::string host = (FRoot / "in.txt").string();
  std::ofstream(host) << "abc";
  ASSERT_EQ(Winsim("put " + FMachine + " " + host + " 'C:\\Data\\In.txt'").status, 0);
  Result added = Winsim("subst " + FMachine + " x: 'c:\\data'");
  ASSERT_EQ(added.status, 0) << added.out;
  EXPECT_EQ(Winsim("subst " + FMachine).out, "X: C:\\Data\n");
  // The drive's files are the folder's, to winsim's commands as to the machine's programs.
  std::string back = (FRoot / "back.txt").string();
  ASSERT_EQ(Winsim("get " + FMachine + " 'X:\\In.txt' " + back).status, 0);
  EXPECT_EQ(HostFileRead(back), "abc");

  // Refused, changing nothing: a letter in use, C:, no folder, a bad letter, deleting what is
  // not there, and a damaged table.
  for (const char* args : {"X: 'C:\\Windows'", "C: 'C:\\Data'", "Y: 'C:\\Nothing'", "Y: 'C:\\Data\\In.txt'",
                           "1: 'C:\\Data'", "XY 'C:\\Data'", "Y: --delete", "Y:", "--delete"}) {
    Result r = Winsim("subst " + FMachine + " " + args);
    EXPECT_EQ(r.status, 2) << args << "\n" << r.out;
    EXPECT_FALSE(r.out.empty()) << args;
  }
  EXPECT_EQ(Winsim("subst " + FMachine).out, "X: C:\\Data\n");

  ASSERT_EQ(Winsim("subst " + FMachine + " X: --delete").status, 0);
  EXPECT_EQ(Winsim("subst " + FMachine).out, "");
  EXPECT_EQ(Winsim("get " + FMachine + " 'X:\\In.txt' " + back).status, 2);

  std::ofstream(FMachine + "/state/subst") << "X:\tC:\\Data";  // cut short
  Result damaged = Winsim("subst " + FMachine + " Y: 'C:\\Data'");
  EXPECT_EQ(damaged.status, 2);
  EXPECT_NE(damaged.out.find("damaged"), std::string::npos) << damaged.out;
  EXPECT_EQ(HostFileRead(FMachine + "/state/subst"), "X:\tC:\\Data");
}
