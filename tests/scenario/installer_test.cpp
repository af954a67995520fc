// The installer as a user meets it: packed with a small product by orvanta-pack and run on a
// simulated machine, from the first installation to upgrades that wait for a restart.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "LogConsoleSupport.h"
#include "TestSupport.h"
#include "WinsimSupport.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

const std::string kInstallFolder = "C:\\Program Files (x86)\\Orvanta";
const std::string kDriver = "C:\\Windows\\System32\\drivers\\Vexlon.sys";
const std::string kSetupAt = "C:\\Users\\User\\Downloads\\Setup.exe";
const std::string kClassKey = "HKCR\\CLSID\\{4E1A7C30-9B52-4D0E-A6F3-2C81D95B7E04}";

std::string Quote(const std::string& s) {
  std::string r = "'";
  for (char c : s) r += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return r + "'";
}

void HostWrite(const fs::path& aPath, const std::string& aData) {
  fs::create_directories(aPath.parent_path());
  std::ofstream(aPath, std::ios::binary) << aData;
}

// The value of a top-level field of one event line (texts unescaped, numbers as written).
std::string JsonField(const std::string& aLine, const std::string& aName) {
  const std::string key = "\"" + aName + "\":";
  std::size_t p = aLine.find(key);
  if (p == std::string::npos) return {};
  p += key.size();
  std::string r;
  if (aLine[p] != '"') {
    while (p < aLine.size() && aLine[p] != ',' && aLine[p] != '}') r += aLine[p++];
    return r;
  }
  for (++p; p < aLine.size() && aLine[p] != '"'; ++p) {
    if (aLine[p] != '\\') {
      r += aLine[p];
      continue;
    }
    const char c = aLine[++p];
    r += c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
  }
  return r;
}

// One product file: its entry in the script and its bytes.
struct ProductFile {
  std::string Entry;
  std::string Data;
};

std::string Noise(std::size_t aSize, unsigned aSeed) {
  std::string r;
  for (unsigned x = aSeed; r.size() < aSize;) r.push_back(static_cast<char>((x = x * 1103515245u + 12345u) >> 16));
  return r;
}

// The small product: the stand-in Vexlon.exe (build 77), a file in a sub-folder and the two
// drivers; aTag makes every file but Vexlon.exe differ between versions.
std::vector<ProductFile> SmallProduct(const std::string& aTag) {
  return {
      {"Vexlon.exe", HostFileRead(std::string(SAMPLE_PRODUCT_DIR) + "/files/Vexlon.exe")},
      {"Readme.txt", "Orvanta " + aTag + "\r\n"},
      {"Data\\Strings.xml", "<strings version=\"" + aTag + "\">" + std::string(3000, 'x') + "</strings>\r\n"},
      {"Drivers\\Vexlon\\x86\\Vexlon.sys", "x86 driver " + aTag + Noise(20000, 1)},
      {"Drivers\\Vexlon\\x64\\Vexlon.sys", "x64 driver " + aTag + Noise(30000, 2)},
  };
}

class InstallerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FRoot = fs::temp_directory_path() / ("orvanta-installer-test-" + std::to_string(::getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(FRoot);
    fs::create_directories(FRoot);
    FMachine = (FRoot / "m").string();
  }
  void TearDown() override {
    for (pid_t pid : FHolds) HoldEnd(pid);
    if (!::getenv("ORV_KEEP_MACHINE")) fs::remove_all(FRoot);
  }

  WinsimResult Winsim(const std::string& aArgs) { return WinsimRun(aArgs, true); }

  void MachineNew(const std::string& aOptions = "") {
    WinsimResult r = Winsim("new " + Quote(FMachine) + " " + aOptions);
    ASSERT_EQ(r.status, 0) << r.out;
  }

  // Packs aFiles into an installer of version aVersion; its host path.
  std::string Pack(const std::string& aName, const std::vector<ProductFile>& aFiles, const std::string& aVersion) {
    const fs::path dir = FRoot / ("product-" + aName);
    std::string script = "// The product\r\n\r\n";
    for (const ProductFile& f : aFiles) {
      std::string host = f.Entry;
      for (char& c : host) c = c == '\\' ? '/' : c;
      HostWrite(dir / "files" / host, f.Data);
      script += f.Entry + "\r\n";
    }
    HostWrite(dir / "InstallScript.txt", script);
    const std::string setup = (dir / "Setup").string();
    WinsimResult r = CommandRun(Quote(ORVANTA_PACK_EXE) + " --script " + Quote((dir / "InstallScript.txt").string()) +
                                " --from " + Quote((dir / "files").string()) + " --out " + Quote(setup) +
                                " --version " + aVersion + " 2>&1");
    EXPECT_EQ(r.status, 0) << r.out;
    return setup;
  }

  // Runs aSetup on the machine: winsim's options, then the installer's own arguments.
  WinsimResult Run(const std::string& aSetup, const std::string& aOptions, const std::string& aArgs = "",
                   const std::string& aAt = kSetupAt) {
    // --at last: winsim misreads the program's arguments when a repeated option such as
    // --answer stands right before "--".
    return Winsim("run " + Quote(FMachine) + " " + aOptions + " --at " + Quote(aAt) + " -- " + Quote(aSetup) + " " +
                  aArgs);
  }

  std::vector<std::string> Events(const std::string& aType) {
    std::vector<std::string> r;
    std::istringstream lines(Winsim("events " + Quote(FMachine)).out);
    for (std::string line; std::getline(lines, line);)
      if (JsonField(line, "type") == aType) r.push_back(line);
    return r;
  }
  std::vector<std::string> Dialogs() { return Events("dialog"); }
  // The exit code of the process whose command line holds aPart.
  std::string ExitCodeOf(const std::string& aPart) {
    std::string pid;
    for (const std::string& e : Events("process-start"))
      if (JsonField(e, "commandLine").find(aPart) != std::string::npos) pid = JsonField(e, "pid");
    for (const std::string& e : Events("process-exit"))
      if (JsonField(e, "pid") == pid) return JsonField(e, "exitCode");
    return "none";
  }

  // A file of the machine; nullopt-like "<absent>" when it cannot be read.
  std::string MachineFile(const std::string& aWinPath) {
    const std::string host = (FRoot / "got").string();
    fs::remove(host);
    // A path past MAX_PATH is reached in its long form, as on Windows.
    std::string path = aWinPath;
    if (path.size() >= 260) path.insert(0, R"(\\?\)");
    if (Winsim("get " + Quote(FMachine) + " " + Quote(path) + " " + Quote(host)).status != 0) return "<absent>";
    return HostFileRead(host);
  }
  std::string VexlonStarts() { return MachineFile("C:\\ProgramData\\Orvanta\\Vexlon-starts.txt"); }
  std::string Tree(const std::string& aWinPath) { return Winsim("tree " + Quote(FMachine) + " " + Quote(aWinPath)).out; }
  std::string Pending() { return Winsim("pending " + Quote(FMachine)).out; }

  // Every line the installers logged on the machine so far.
  std::string Log() {
    std::string all;
    const fs::path logs = fs::path(FMachine) / "drives" / "C" / "ProgramData" / "Orvanta" / "Logs";
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(logs, ec))
      all += CommandRun(Quote(ORVANTA_LOG_EXE) + " " + Quote(e.path().string()) + " 2>&1").out;
    return all;
  }

  // Every file of aFiles in the install folder, and the real 64-bit driver, as in the payload.
  void ExpectInstalled(const std::vector<ProductFile>& aFiles) {
    for (const ProductFile& f : aFiles) {
      SCOPED_TRACE(f.Entry);
      EXPECT_TRUE(MachineFile(kInstallFolder + "\\" + f.Entry) == f.Data);
    }
    EXPECT_TRUE(MachineFile(kDriver) == aFiles.back().Data) << "the x64 driver in the system's driver folder";
    EXPECT_EQ(MachineFile("C:\\Windows\\SysWOW64\\drivers\\Vexlon.sys"), "<absent>");
  }

  // Holds a file of the machine open, sharing nothing, as a running program would.
  pid_t Hold(const std::string& aWinPath) {
    int out[2];
    if (::pipe(out) != 0) return -1;
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    ::posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<std::string> args = {WINSIM_EXE, "hold", FMachine, aWinPath};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    // Without the test's own machine, as a user runs winsim.
    std::vector<char*> env;
    for (char** e = environ; *e; ++e)
      if (std::strncmp(*e, "WINSIM_MACHINE=", 15) != 0 && std::strncmp(*e, "WINSIM_PID=", 11) != 0) env.push_back(*e);
    env.push_back(nullptr);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, WINSIM_EXE, &actions, nullptr, argv.data(), env.data());
    ::posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    std::string said;
    char c;
    while (rc == 0 && said.find("holding") == std::string::npos && ::read(out[0], &c, 1) == 1) said += c;
    ::close(out[0]);
    if (rc != 0) return -1;
    FHolds.push_back(pid);
    EXPECT_NE(said.find("holding"), std::string::npos) << said;
    return pid;
  }
  static void HoldEnd(pid_t aPid) {
    ::kill(aPid, SIGTERM);
    ::waitpid(aPid, nullptr, 0);
  }
  void Reboot() {
    WinsimResult r = Winsim("reboot " + Quote(FMachine));
    ASSERT_EQ(r.status, 0) << r.out;
    for (pid_t pid : FHolds) ::waitpid(pid, nullptr, 0);
    FHolds.clear();
  }

  fs::path FRoot;
  std::string FMachine;
  std::vector<pid_t> FHolds;
};

std::string Count(const std::string& aHaystack, const std::string& aNeedle) {
  int n = 0;
  for (std::size_t p = aHaystack.find(aNeedle); p != std::string::npos; p = aHaystack.find(aNeedle, p + 1)) ++n;
  return std::to_string(n);
}

}  // namespace

TEST_F(InstallerTest, AStandardUserInstallsThroughAnElevatedInstance) {
  const auto files = SmallProduct("v1");
  const std::string setup = Pack("v1", files, "4.2.1.77");
  MachineNew();
  WinsimResult r = Run(setup, "--uac accept");
  EXPECT_EQ(r.status, 1) << r.out;

  std::vector<std::string> starts = Events("process-start");
  ASSERT_GE(starts.size(), 4u);  // the shell, the installer, its elevated instance, the product
  EXPECT_EQ(JsonField(starts[1], "commandLine"), "\"" + kSetupAt + "\"");
  EXPECT_EQ(JsonField(starts[2], "commandLine"), "\"" + kSetupAt + "\" -RequestedElevation True");
  EXPECT_EQ(JsonField(starts[2], "integrity"), "high");
  EXPECT_EQ(ExitCodeOf("-RequestedElevation True"), "10");
  EXPECT_EQ(Count(Winsim("events " + Quote(FMachine)).out, "\"type\":\"uac\""), "1");

  EXPECT_EQ(VexlonStarts(),
            "\"" + kInstallFolder + "\\Vexlon.exe\" -Installer " + kSetupAt + " -FirstRunAfterInstall True\r\n");
  ExpectInstalled(files);
  // Nothing else in the install folder: the tree lists exactly the payload.
  EXPECT_EQ(Count(Tree(kInstallFolder), "\n"), "10") << Tree(kInstallFolder);  // 5 files, 5 folders
  EXPECT_NE(Pending().find("\\??\\" + kInstallFolder + "-tmp ->"), std::string::npos) << Pending();

  const std::string log = Log();
  EXPECT_NE(log.find("[Installer] Running without admin rights, requesting elevation"), std::string::npos) << log;
  EXPECT_NE(log.find("RequestedElevation"), std::string::npos);
  EXPECT_EQ(Count(log, " NOT FOUND"), "5") << log;
  EXPECT_NE(log.find("[Installer] Conclusion: RestartNeeded = False"), std::string::npos);
}

// With a log console running, both instances find its window and log to it: per process, the
// console shows what the log file holds, in the same order.
TEST_F(InstallerTest, BothInstancesLogToARunningLogConsole) {
  const auto files = SmallProduct("v1");
  const std::string setup = Pack("v1", files, "4.2.1.77");
  MachineNew();
  TLogConsoleRun console(FMachine, (FRoot / "console.jsonl").string(), {"--json"});
  WinsimResult r = Run(setup, "--uac accept");
  EXPECT_EQ(r.status, 1) << r.out;
  ExpectInstalled(files);
  ASSERT_TRUE(console.Stop()) << console.Errors();

  // process id -> "kind text" of each entry, in order.
  using TByProcess = std::map<std::string, std::vector<std::string>>;
  auto byProcess = [](const std::string& aJsonLines) {
    TByProcess r;
    std::istringstream lines(aJsonLines);
    for (std::string line; std::getline(lines, line);)
      if (!line.empty()) r[JsonField(line, "process")].push_back(JsonField(line, "kind") + " " + JsonField(line, "text"));
    return r;
  };
  const TByProcess shown = byProcess(console.Output());
  std::string fileLines;
  const fs::path logs = fs::path(FMachine) / "drives" / "C" / "ProgramData" / "Orvanta" / "Logs";
  for (const auto& e : fs::directory_iterator(logs))
    fileLines += CommandRun(Quote(ORVANTA_LOG_EXE) + " --json " + Quote(e.path().string())).out;
  const TByProcess logged = byProcess(fileLines);

  std::vector<std::string> params;
  for (const auto& [pid, entries] : logged) {
    SCOPED_TRACE("process " + pid);
    for (const std::string& e : entries)
      if (e.rfind("message [Installer] Params: ", 0) == 0) params.push_back(e.substr(8));
    ASSERT_TRUE(shown.count(pid));
    EXPECT_EQ(shown.at(pid), entries);
    EXPECT_EQ(entries.front().rfind("enter-process ", 0), 0u);
  }
  ASSERT_EQ(logged.size(), 2u) << fileLines;
  ASSERT_EQ(params.size(), 2u);
  EXPECT_EQ(params[0] + "|" + params[1].substr(0, 20), "[Installer] Params: |[Installer] Params: ");
  EXPECT_NE(params[1].find("RequestedElevation"), std::string::npos) << params[1];
}

TEST_F(InstallerTest, ThreeRefusalsEndWithTwoExplanationsAndTheFailure) {
  const std::string setup = Pack("v1", SmallProduct("v1"), "4.2.1.77");
  MachineNew();
  WinsimResult r = Run(setup, "--uac refuse --uac refuse --uac refuse");
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_EQ(Count(Winsim("events " + Quote(FMachine)).out, "\"answer\":\"refuse\""), "3");
  const std::vector<std::string> dialogs = Dialogs();
  ASSERT_EQ(dialogs.size(), 3u);
  EXPECT_EQ(JsonField(dialogs[0], "text"),
            "Orvanta cannot be installed without your permission. \r\n\r\nPlease click \"Yes\" when asked for your "
            "permission.");
  EXPECT_EQ(JsonField(dialogs[1], "text"),
            "Orvanta cannot be installed without your permission. \r\n\r\nPlease click \"YES\" when asked for your "
            "permission.\r\n\r\nTHIS IS YOUR LAST CHANCE.");
  EXPECT_EQ(JsonField(dialogs[2], "text"),
            "Installation failed, because administrative permissions were not provided.");
  EXPECT_EQ(Tree("C:\\Program Files (x86)").find("Orvanta"), std::string::npos);
  EXPECT_EQ(VexlonStarts(), "<absent>");
}

// An instance started to be the elevated one that still runs without admin rights (a "runas"
// that gave no elevation) does not ask again: that would start instances without end.
TEST_F(InstallerTest, TheElevatedInstanceNeverAsksAgain) {
  const std::string setup = Pack("v1", SmallProduct("v1"), "4.2.1.77");
  MachineNew();
  WinsimResult r = Run(setup, "--uac accept", "-RequestedElevation True");
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_EQ(Events("uac").size(), 0u) << "no prompt";
  const std::vector<std::string> dialogs = Dialogs();
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_EQ(JsonField(dialogs[0], "text"),
            "Installation failed, because administrative permissions were not provided.");
  EXPECT_EQ(Tree("C:\\Program Files (x86)").find("Orvanta"), std::string::npos);
}

TEST_F(InstallerTest, AnElevatedStartInstallsAtOnce) {
  const auto files = SmallProduct("v1");
  const std::string setup = Pack("v1", files, "4.2.1.77");
  MachineNew();
  WinsimResult r = Run(setup, "--integrity high");
  EXPECT_EQ(r.status, 10) << r.out;
  ExpectInstalled(files);
  const std::string log = Log();
  EXPECT_EQ(log.find("Running without admin rights"), std::string::npos) << log;
  EXPECT_EQ(log.find("Attempt #"), std::string::npos) << log;
  EXPECT_TRUE(Events("uac").empty());
}

// The splash's style and what the product is told, by the debugging parameters.
TEST_F(InstallerTest, DebugParametersShapeTheSplashAndTheProductsCommandLine) {
  const std::string setup = Pack("v1", SmallProduct("v1"), "4.2.1.77");
  struct Case {
    const char* Args;
    const char* StayOnTop;
    const char* VexlonGets;
  };
  const Case cases[] = {
      {"", "true", ""},
      {"-DebugInIDE True", "false", ""},
      {"-DebugRun True", "true", " -DebugInIDE True"},
      {"-DebugRun -DebugInIDE", "false", " -DebugInIDE True"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Args);
    fs::remove_all(FMachine);
    MachineNew();
    EXPECT_EQ(Run(setup, "--integrity high", c.Args).status, 10);
    const std::vector<std::string> windows = Events("window");
    ASSERT_FALSE(windows.empty());
    EXPECT_EQ(JsonField(windows[0], "title"), "Orvanta");
    EXPECT_EQ(JsonField(windows[0], "border"), "false");
    EXPECT_EQ(JsonField(windows[0], "visible"), "true");
    EXPECT_EQ(JsonField(windows[0], "stayOnTop"), c.StayOnTop);
    EXPECT_EQ(VexlonStarts(), "\"" + kInstallFolder + "\\Vexlon.exe\" -Installer " + kSetupAt +
                                  " -FirstRunAfterInstall True" + c.VexlonGets + "\r\n");
  }
}

// A file of an earlier installation in use: every move waits for the restart; the prompt's
// answers, or -Hidden, decide what happens then.
TEST_F(InstallerTest, AFileInUseDefersTheInstallationToTheRestart) {
  const auto v1 = SmallProduct("v1");
  const auto v2 = SmallProduct("v2");
  const std::string setup1 = Pack("v1", v1, "4.2.1.76");
  const std::string setup2 = Pack("v2", v2, "4.2.1.77");
  struct Case {
    const char* Args;
    const char* Answer;
    int Exit;
    bool Prompted;
    bool RebootRequested;
  };
  const Case cases[] = {
      {"", "'I will do it later'", 12, true, false},
      {"", "'Restart Now'", 12, true, true},
      {"", "close", 12, true, false},
      {"-Hidden", "'Restart Now'", 13, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.Args) + " " + c.Answer);
    for (pid_t pid : FHolds) HoldEnd(pid);
    FHolds.clear();
    fs::remove_all(FMachine);
    MachineNew();
    ASSERT_EQ(Run(setup1, "--integrity high").status, 10);
    ASSERT_GT(Hold(kInstallFolder + "\\Vexlon.exe"), 0);
    WinsimResult r = Run(setup2, "--integrity high --answer " + std::string(c.Answer), c.Args);
    EXPECT_EQ(r.status, c.Exit) << r.out;

    const std::vector<std::string> dialogs = Dialogs();
    if (c.Prompted) {
      ASSERT_EQ(dialogs.size(), 1u);
      EXPECT_EQ(JsonField(dialogs[0], "kind"), "TaskDialog");
      EXPECT_EQ(JsonField(dialogs[0], "caption"), "Restart Needed");
      EXPECT_NE(dialogs[0].find("\"buttons\":[\"Restart Now\",\"I will do it later\"]"), std::string::npos)
          << dialogs[0];
    } else {
      EXPECT_TRUE(dialogs.empty());
      // Only the earlier installer's splash was ever shown.
      EXPECT_EQ(Count(Winsim("events " + Quote(FMachine)).out, "\"visible\":true"), "1");
    }
    EXPECT_EQ(Events("reboot-request").size(), c.RebootRequested ? 1u : 0u);
    // The earlier installation stays until the restart; only build 76's product ran.
    EXPECT_TRUE(MachineFile(kInstallFolder + "\\Readme.txt") == v1[1].Data);
    EXPECT_TRUE(MachineFile(kDriver) == v1.back().Data);
    EXPECT_EQ(Count(VexlonStarts(), "\r\n"), "1");

    const std::string pending = Pending();
    for (const ProductFile& f : v2)
      EXPECT_NE(pending.find("\\??\\" + kInstallFolder + "-tmp\\" + f.Entry + " -> !\\??\\" + kInstallFolder + "\\" +
                             f.Entry),
                std::string::npos)
          << f.Entry << "\n"
          << pending;
    EXPECT_NE(pending.find(" -> !\\??\\" + kDriver), std::string::npos) << pending;
    const std::string log = Log();
    EXPECT_NE(log.find("Vexlon.exe FOUND - IN USE"), std::string::npos) << log;
    EXPECT_NE(log.find("Readme.txt FOUND - AVAILABLE"), std::string::npos) << log;
    EXPECT_NE(log.find("Conclusion: RestartNeeded = True"), std::string::npos);

    Reboot();
    ExpectInstalled(v2);
    EXPECT_EQ(Tree("C:\\Program Files (x86)").find("Orvanta-tmp"), std::string::npos);
    EXPECT_EQ(Pending(), "");
  }
}

TEST_F(InstallerTest, TwoUpgradesBeforeARestartLeaveTheLastOne) {
  const auto v1 = SmallProduct("v1");
  const auto v3 = SmallProduct("v3");
  const std::string setup1 = Pack("v1", v1, "4.2.1.75");
  const std::string setup2 = Pack("v2", SmallProduct("v2"), "4.2.1.76");
  const std::string setup3 = Pack("v3", v3, "4.2.1.77");
  MachineNew();
  ASSERT_EQ(Run(setup1, "--integrity high").status, 10);
  ASSERT_GT(Hold(kInstallFolder + "\\Vexlon.exe"), 0);
  EXPECT_EQ(Run(setup2, "--integrity high --answer 'I will do it later'").status, 12);
  EXPECT_EQ(Run(setup3, "--integrity high --answer 'I will do it later'").status, 12);
  Reboot();
  ExpectInstalled(v3);
  EXPECT_EQ(Tree("C:\\Program Files (x86)").find("Orvanta-tmp"), std::string::npos);
}

// The same build installed: the "Already installed" dialog and its answers.
TEST_F(InstallerTest, TheSameBuildInstalledAsksWhatToDo) {
  const auto files = SmallProduct("v1");
  const std::string same = Pack("same", files, "5.0.0.77");  // only the build number counts
  const std::string other = Pack("other", files, "4.2.1.78");
  const std::string installed = std::string(SAMPLE_PRODUCT_DIR) + "/files/Vexlon.exe";
  struct Case {
    const std::string* Setup;
    const char* Answer;
    int Exit;
    bool Asked;
    const char* VexlonGets;  // "" when it is not started
  };
  const Case cases[] = {
      {&same, "'Abort Installation'", 4, true, ""},
      {&same, "Re-Install", 10, true, " -FirstRunAfterInstall True"},
      {&same, "'Just open Orvanta'", 4, true, "-"},
      {&same, "close", 10, true, " -FirstRunAfterInstall True"},
      {&other, "'Abort Installation'", 10, false, " -FirstRunAfterInstall True"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(*c.Setup + " " + c.Answer);
    fs::remove_all(FMachine);
    MachineNew();
    ASSERT_EQ(Winsim("reg-set " + Quote(FMachine) + " " + Quote(kClassKey)).status, 0);
    ASSERT_EQ(Winsim("put " + Quote(FMachine) + " " + Quote(installed) + " " + Quote(kInstallFolder + "\\Vexlon.exe"))
                  .status,
              0);
    EXPECT_EQ(Run(*c.Setup, "--integrity high --answer " + std::string(c.Answer)).status, c.Exit);
    const std::vector<std::string> dialogs = Dialogs();
    if (c.Asked) {
      ASSERT_EQ(dialogs.size(), 1u);
      EXPECT_EQ(JsonField(dialogs[0], "caption"), "Already installed");
      EXPECT_EQ(JsonField(dialogs[0], "text"),
                "It looks like you already have Orvanta installed with the same version (5.0.0).\r\n\r\nWhat would "
                "you like to do?");
      EXPECT_NE(dialogs[0].find("\"buttons\":[\"Abort Installation\",\"Re-Install\",\"Just open Orvanta\"]"),
                std::string::npos)
          << dialogs[0];
    } else {
      EXPECT_TRUE(dialogs.empty());
    }
    const std::string vexlon = "\"" + kInstallFolder + "\\Vexlon.exe\" -Installer " + kSetupAt;
    const std::string expected = std::string(c.VexlonGets) == "-" ? vexlon + "\r\n"
                                 : *c.VexlonGets                   ? vexlon + c.VexlonGets + "\r\n"
                                                                   : std::string("<absent>");
    EXPECT_EQ(VexlonStarts(), expected);
    // Stopping leaves the installation as it was.
    if (c.Exit == 4) {
      EXPECT_EQ(Count(Tree(kInstallFolder), "\n"), "1");
    }
  }
}

TEST_F(InstallerTest, WindowsVistaIsNotSupported) {
  const std::string setup = Pack("v1", SmallProduct("v1"), "4.2.1.77");
  MachineNew("--windows 6.0");
  EXPECT_EQ(Run(setup, "--uac accept").status, 5);
  const std::vector<std::string> dialogs = Dialogs();
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_EQ(JsonField(dialogs[0], "text"),
            "The version of Windows that you are using is not supported by Orvanta.\r\n\r\nOrvanta can be installed "
            "on all versions of Windows, starting from Windows 7, and including Windows 8, Windows 8.1 and Windows "
            "10.");
  EXPECT_TRUE(Events("uac").empty());
  EXPECT_EQ(Tree("C:\\Program Files (x86)").find("Orvanta"), std::string::npos);
}

// A damaged payload: nothing reaches the install folder, and the earlier installation stays.
TEST_F(InstallerTest, ADamagedPayloadLeavesTheInstallFolderAlone) {
  const auto v1 = SmallProduct("v1");
  const std::string setup1 = Pack("v1", v1, "4.2.1.76");
  const std::string setup2 = Pack("v2", SmallProduct("v2"), "4.2.1.77");
  // The container of "F2" (Data\Strings.xml), found through the resource table at the end.
  std::string bytes = HostFileRead(setup2);
  ASSERT_GT(bytes.size(), 24u);
  const std::size_t trailer = bytes.size() - 24;
  ASSERT_EQ(bytes.substr(trailer, 8), "ORVRES01");
  auto u16 = [&](std::size_t p) { return std::uint16_t(std::uint8_t(bytes[p]) | std::uint8_t(bytes[p + 1]) << 8); };
  auto u64 = [&](std::size_t p) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = v << 8 | std::uint8_t(bytes[p + i]);
    return v;
  };
  std::size_t p = u64(trailer + 8), container = 0;
  for (std::uint32_t i = 0; i < std::uint32_t(u64(trailer + 16)); ++i) {
    std::u16string names[2];
    for (std::u16string& n : names) {
      const std::uint16_t id = u16(p), length = u16(p + 2);
      p += 4;
      for (unsigned j = 0; j < length; ++j, p += 2) n += char16_t(u16(p));
      if (id) n.clear();  // a numbered name is never "F2"
    }
    p += 2;
    if (names[1] == u"F2") container = u64(p);
    p += 16;
  }
  ASSERT_NE(container, 0u);
  bytes[container + 9] = 0x7F;  // the first LZMA2 chunk's control byte: no such chunk kind
  HostWrite(setup2, bytes);

  MachineNew();
  ASSERT_EQ(Run(setup1, "--integrity high").status, 10);
  const std::string before = Tree(kInstallFolder);
  const std::string driver = MachineFile(kDriver);
  EXPECT_EQ(Run(setup2, "--integrity high").status, 9);
  const std::vector<std::string> dialogs = Dialogs();
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_EQ(JsonField(dialogs[0], "text"), "There was a problem extracting the files. Installation terminated.");
  EXPECT_EQ(Tree(kInstallFolder), before);
  EXPECT_TRUE(MachineFile(kDriver) == driver);
  EXPECT_EQ(Count(VexlonStarts(), "\r\n"), "1");
}

// A command line that cannot be read, and an installer without entries: both stop (11).
TEST_F(InstallerTest, AStopEndsTheInstallerWithCode11) {
  const std::string setup = Pack("v1", SmallProduct("v1"), "4.2.1.77");
  // orvanta-pack refuses a script without entries: the table is made here, on the bare stub.
  std::string empty = HostFileRead(fs::path(ORVANTA_PACK_EXE).parent_path() / "Setup");
  ASSERT_FALSE(empty.empty());
  while (empty.size() % 8) empty.push_back('\0');
  const std::uint64_t data = empty.size();
  const std::string script = "// no files in this one\r\n\r\n";
  empty += script;
  auto put16 = [&](unsigned v) { empty += char(v & 0xFF), empty += char(v >> 8 & 0xFF); };
  auto put64 = [&](std::uint64_t v) {
    for (int i = 0; i < 8; ++i) empty += char(v >> (8 * i) & 0xFF);
  };
  const std::uint64_t directory = empty.size();
  put16(10), put16(0);  // RT_RCDATA
  put16(0), put16(13);
  for (char c : std::string("INSTALLSCRIPT")) put16(static_cast<unsigned char>(c));
  put16(0x0409), put64(data), put64(script.size());
  empty += "ORVRES01";
  put64(directory);
  empty += std::string("\1\0\0\0\0\0\0\0", 8);
  const std::string emptySetup = (FRoot / "EmptySetup").string();
  HostWrite(emptySetup, empty);
  fs::permissions(emptySetup, fs::perms::owner_all);

  struct Case {
    const std::string* Setup;
    const char* Args;
    const char* Logged;
  };
  const Case cases[] = {
      {&setup, "stray-value", "Empty commands are not yet supported"},
      {&emptySetup, "", "Checking for existing files, and if they can be removed (0)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Logged);
    fs::remove_all(FMachine);
    MachineNew();
    EXPECT_EQ(Run(*c.Setup, "--integrity high", c.Args).status, 11);
    EXPECT_NE(Log().find(c.Logged), std::string::npos) << Log();
    EXPECT_EQ(Tree("C:\\Program Files (x86)").find("Orvanta\\"), std::string::npos);
    EXPECT_EQ(VexlonStarts(), "<absent>");
  }
}

TEST_F(InstallerTest, AnInstallerPathWithASpaceIsQuotedForTheProduct) {
  const std::string setup = Pack("v1", SmallProduct("v1"), "4.2.1.77");
  MachineNew();
  const std::string at = "C:\\Users\\User\\Down loads\\Setup.exe";
  EXPECT_EQ(Run(setup, "--uac accept", "", at).status, 1);
  EXPECT_EQ(ExitCodeOf("-RequestedElevation True"), "10");
  EXPECT_EQ(VexlonStarts(),
            "\"" + kInstallFolder + "\\Vexlon.exe\" -Installer \"" + at + "\" -FirstRunAfterInstall True\r\n");
}

TEST_F(InstallerTest, EntriesWithNamesOf251To255CharactersAreInstalled) {
  auto files = SmallProduct("v1");
  const ProductFile driver = files.back();
  files.pop_back();
  for (std::size_t length = 251; length <= 255; ++length) {
    std::string name = "Long\\" + std::to_string(length) + "-";
    name += std::string(length - (name.size() - 5) - 4, 'n') + ".dat";
    files.push_back({name, "file of a name " + std::to_string(length) + " long"});
  }
  files.push_back(driver);  // the x64 driver stays last, for ExpectInstalled
  const std::string setup = Pack("long", files, "4.2.1.77");
  MachineNew();
  EXPECT_EQ(Run(setup, "--integrity high").status, 10);
  ExpectInstalled(files);
}

// Two installers of one product started at once end as if one had run after the other.
TEST_F(InstallerTest, TwoInstallersAtOnceEndAsOneAfterTheOther) {
  const auto files = SmallProduct("v1");
  const std::string setup = Pack("v1", files, "4.2.1.77");
  MachineNew();
  const std::string run = "env -u WINSIM_MACHINE -u WINSIM_PID " WINSIM_EXE " run " + Quote(FMachine) +
                          " --integrity high --at ";
  FILE* a = ::popen((run + Quote(kSetupAt) + " -- " + Quote(setup) + " 2>&1").c_str(), "r");
  FILE* b = ::popen((run + Quote("C:\\Users\\User\\Desktop\\Setup.exe") + " -- " + Quote(setup) + " 2>&1").c_str(), "r");
  ASSERT_TRUE(a && b);
  char buf[4096];
  while (std::fread(buf, 1, sizeof buf, a) > 0) {
  }
  while (std::fread(buf, 1, sizeof buf, b) > 0) {
  }
  const int statusA = ::pclose(a), statusB = ::pclose(b);
  ASSERT_TRUE(WIFEXITED(statusA) && WIFEXITED(statusB));
  // The second sees the first's files: installed (10), or waiting for a restart (12).
  bool restart = false;
  for (int status : {WEXITSTATUS(statusA), WEXITSTATUS(statusB)}) {
    EXPECT_TRUE(status == 10 || status == 12) << status;
    restart = restart || status == 12;
  }
  if (restart) Reboot();
  ExpectInstalled(files);
  EXPECT_EQ(Count(Tree(kInstallFolder), "\n"), "10") << Tree(kInstallFolder);
}

namespace {

// Where each resource of a packed installer lies in its bytes: name -> (offset, size), from
// the resource table at the end.
std::map<std::u16string, std::pair<std::size_t, std::size_t>> ResourceSpans(const std::string& aBytes) {
  std::map<std::u16string, std::pair<std::size_t, std::size_t>> spans;
  if (aBytes.size() < 24) return spans;
  const std::size_t trailer = aBytes.size() - 24;
  if (aBytes.substr(trailer, 8) != "ORVRES01") return spans;
  auto u16 = [&](std::size_t p) { return std::uint16_t(std::uint8_t(aBytes[p]) | std::uint8_t(aBytes[p + 1]) << 8); };
  auto u64 = [&](std::size_t p) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = v << 8 | std::uint8_t(aBytes[p + i]);
    return v;
  };
  std::size_t p = u64(trailer + 8);
  for (std::uint32_t i = 0; i < std::uint32_t(u64(trailer + 16)); ++i) {
    std::u16string names[2];
    for (std::u16string& n : names) {
      const std::uint16_t id = u16(p), length = u16(p + 2);
      p += 4;
      for (unsigned j = 0; j < length; ++j, p += 2) n += char16_t(u16(p));
      if (id) n.clear();
    }
    p += 2;
    if (!names[1].empty()) spans[names[1]] = {u64(p), u64(p + 8)};
    p += 16;
  }
  return spans;
}

}  // namespace

// A byte flipped anywhere in a container: the installation either fails (9) with the install
// folder as it was, or every file is installed as packed. Never a wrong file. The product has
// a file LZMA2 stores uncompressed, where a flip decodes without any error.
TEST_F(InstallerTest, AFlippedPayloadByteNeverInstallsAWrongFile) {
  auto files = SmallProduct("v1");
  files.insert(files.begin() + 1, {"Media\\Intro.vxm", Noise(1100000, 7)});
  const std::string setup = Pack("v1", files, "4.2.1.77");
  const std::string packed = HostFileRead(setup);
  const auto spans = ResourceSpans(packed);
  ASSERT_EQ(spans.count(u"SHA256SUMS"), 1u);
  std::vector<std::size_t> places;
  // Vexlon.exe (compressed), the stored file and a small one.
  for (std::size_t k = 0; k < 3; ++k) {
    const auto it = spans.find(u"F" + std::u16string(1, char16_t(u'0' + k)));
    ASSERT_NE(it, spans.end());
    const auto [offset, size] = it->second;
    // The size field, the property byte, and the middle of the chunks. The extraction tests
    // flip bytes far more densely; here the whole installation shows what a flip does.
    for (std::size_t at : {std::size_t(0), std::size_t(8), size / 2}) places.push_back(offset + at);
  }
  const std::string flipped = (FRoot / "Flipped").string();
  int failed = 0, installed = 0;
  for (std::size_t place : places) {
    SCOPED_TRACE(place);
    std::string bytes = packed;
    bytes[place] = char(bytes[place] ^ 0x10);
    HostWrite(flipped, bytes);
    fs::permissions(flipped, fs::perms::owner_all);
    fs::remove_all(FMachine);
    MachineNew();
    const int status = Run(flipped, "--integrity high").status;
    if (status == 9) {
      ++failed;
      EXPECT_EQ(Tree("C:\\Program Files (x86)").find("Orvanta\\"), std::string::npos);
      EXPECT_EQ(MachineFile(kDriver), "<absent>");
    } else {
      ++installed;
      EXPECT_EQ(status, 10);
      ExpectInstalled(files);
    }
  }
  // A flip that changes nothing decoded (the property byte naming a larger dictionary)
  // installs the right files; the others are caught.
  EXPECT_GT(failed, installed);
}

// A failure injected into the extraction (creating a file aside, or giving it its name in the
// temp folder): nothing reaches the install folder and the earlier installation stays.
TEST_F(InstallerTest, AFailureInTheExtractionLeavesTheInstallFolderAlone) {
  const std::string setup1 = Pack("v1", SmallProduct("v1"), "4.2.1.76");
  const std::string setup2 = Pack("v2", SmallProduct("v2"), "4.2.1.77");
  const std::string temp = kInstallFolder + "-tmp\\Data\\Strings.xml";
  for (const std::string& fault : {temp + ".part:112", temp + ":5"}) {
    SCOPED_TRACE(fault);
    fs::remove_all(FMachine);
    MachineNew();
    ASSERT_EQ(Run(setup1, "--integrity high").status, 10);
    const std::string before = Tree(kInstallFolder);
    const std::string driver = MachineFile(kDriver);
    EXPECT_EQ(Run(setup2, "--integrity high --fail-path " + Quote(fault)).status, 9);
    EXPECT_FALSE(Events("fault").empty());
    const std::vector<std::string> dialogs = Dialogs();
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(JsonField(dialogs[0], "text"), "There was a problem extracting the files. Installation terminated.");
    EXPECT_EQ(Tree(kInstallFolder), before);
    EXPECT_TRUE(MachineFile(kDriver) == driver);
  }
}

// A move that fails is logged and the sequence goes on: the other files and the driver are
// placed, the product is started and the result is that of an installation (10).
TEST_F(InstallerTest, AFailedMoveIsLoggedAndTheSequenceGoesOn) {
  const auto v1 = SmallProduct("v1");
  const auto v2 = SmallProduct("v2");
  const std::string setup1 = Pack("v1", v1, "4.2.1.76");
  const std::string setup2 = Pack("v2", v2, "4.2.1.77");
  MachineNew();
  ASSERT_EQ(Run(setup1, "--integrity high").status, 10);
  const std::string readme = kInstallFolder + "\\Readme.txt";
  EXPECT_EQ(Run(setup2, "--integrity high --fail-path " + Quote(readme + ":32")).status, 10);
  EXPECT_TRUE(MachineFile(readme) == v1[1].Data);
  EXPECT_TRUE(MachineFile(kInstallFolder + "\\Data\\Strings.xml") == v2[2].Data);
  EXPECT_TRUE(MachineFile(kDriver) == v2.back().Data);
  EXPECT_EQ(Count(VexlonStarts(), "\r\n"), "2");
  const std::string log = Log();
  EXPECT_NE(log.find("[Installer] Move from " + kInstallFolder + "-tmp\\Readme.txt to " + readme + ". ERROR"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("[Installer] Move from " + kInstallFolder + "-tmp\\Data\\Strings.xml to " + kInstallFolder +
                     "\\Data\\Strings.xml. OK"),
            std::string::npos)
      << log;
}

// The installer and its elevated instance make one run: the count goes on in the second.
TEST_F(InstallerTest, TheCallsOfBothInstancesCountAsOneRun) {
  const std::string setup = Pack("v1", SmallProduct("v1"), "4.2.1.77");
  MachineNew();
  const WinsimResult counted = Run(setup, "--uac accept --count-calls");
  ASSERT_EQ(counted.status, 1) << counted.out;
  const std::size_t at = counted.out.find("calls: ");
  ASSERT_NE(at, std::string::npos) << counted.out;
  const int calls = std::stoi(counted.out.substr(at + 7));
  ASSERT_GT(calls, 40);
  fs::remove_all(FMachine);
  MachineNew();
  // Well after the first instance has handed over.
  EXPECT_EQ(Run(setup, "--uac accept --fail-call " + std::to_string(calls - 20) + ":5").status, 1);
  const std::vector<std::string> faults = Events("fault");
  ASSERT_EQ(faults.size(), 1u);
  EXPECT_EQ(JsonField(faults[0], "call"), std::to_string(calls - 20));
  const std::vector<std::string> starts = Events("process-start");
  ASSERT_GE(starts.size(), 3u);
  EXPECT_NE(JsonField(faults[0], "pid"), JsonField(starts[1], "pid")) << "not in the first instance";
}
