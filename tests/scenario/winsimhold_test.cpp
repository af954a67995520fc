// winsim under bad input, concurrency and damaged state: a refused call changes nothing in the
// machine folder or on the host, and two calls at once both do their work.
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "WinsimSupport.h"

namespace fs = std::filesystem;

namespace {

using Result = WinsimResult;

Result Winsim(const std::string& aArgs) { return WinsimRun(aArgs, true); }

size_t LineCount(const std::string& aText) { return static_cast<size_t>(std::count(aText.begin(), aText.end(), '\n')); }

void HostFileWrite(const fs::path& aPath, const std::string& aData) {
  std::ofstream(aPath, std::ios::binary | std::ios::trunc) << aData;
}

class WinsimHoldTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FRoot = fs::temp_directory_path() / ("winsimhold-test-" + std::to_string(::getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(FRoot);
    fs::create_directories(FRoot / "host");
    FMachine = (FRoot / "m").string();
    FHost = (FRoot / "host").string();
    ASSERT_EQ(Winsim("new " + FMachine).status, 0);
    HostFileWrite(FRoot / "host" / "h.txt", "hello\n");
  }
  void TearDown() override { fs::remove_all(FRoot); }

  // Args with M for the machine and H for the host folder.
  std::string Args(std::string aArgs) const {
    for (size_t at; (at = aArgs.find(" M")) != std::string::npos && (at + 2 == aArgs.size() || aArgs[at + 2] == ' ');)
      aArgs.replace(at, 2, " " + FMachine);
    for (size_t at; (at = aArgs.find("H/")) != std::string::npos;) aArgs.replace(at, 1, FHost);
    return aArgs;
  }

  // What a refused call must leave as it was: the machine's files (drive C: as `tree` shows it,
  // the registry, the tables, the event log) and the host folder, times included.
  std::string Snapshot() const {
    std::string s = Winsim("tree " + FMachine + " 'C:\\'").out;
    s += CommandRun("ls -la --time-style=full-iso " + FHost + " " + FMachine + " " + FMachine + "/state " + FMachine +
                    "/drives/C " + FMachine + "/drives/C/Users/User/Downloads 2>&1")
             .out;
    for (const char* f : {"/registry.txt", "/events.jsonl", "/state/nextpid", "/state/exits", "/state/processes"})
      s += HostFileRead(FMachine + f);
    return s;
  }

  fs::path FRoot;
  std::string FMachine, FHost;
};

}  // namespace

TEST_F(WinsimHoldTest, RefusedCallsSayWhyInOneLineAndChangeNothing) {
  ASSERT_EQ(Winsim(Args("put M H/h.txt 'C:\\Data\\kept.txt'")).status, 0);
  ::mkfifo((FHost + "/fifo").c_str(), 0644);
  fs::create_symlink(FHost + "/h.txt", FHost + "/link");
  HostFileWrite(FHost + "/ro.txt", "read-only\n");
  fs::permissions(FHost + "/ro.txt", fs::perms::owner_read | fs::perms::group_read);
  fs::create_directory(FHost + "/dir");
  const std::string longName(256, 'n');
  const std::string longPath = "C:\\" + std::string(120, 'a') + "\\" + std::string(120, 'b') + "\\c.txt";
  const char* cases[] = {
      // get never replaces what is not a regular file, nor a read-only one
      "get M 'C:\\Data\\kept.txt' H/link",
      "get M 'C:\\Data\\kept.txt' H/ro.txt",
      "get M 'C:\\Data\\kept.txt' H/dir",
      "get M 'C:\\Data\\kept.txt' /dev/full",
      // a failing put or run creates no folders
      "put M H/h.txt 'C:\\n1\\n2\\x.txt\\'",
      "run M --at 'C:\\rd\\' -- /bin/true",
      "put M H/h.txt 'C:\\Data\\kept.txt\\x.txt'",
      // names Windows keeps for devices, in every form
      "put M H/h.txt 'C:\\CON'",
      "put M H/h.txt 'C:\\aux'",
      "put M H/h.txt 'C:\\New\\COM1'",
      "put M H/h.txt 'C:\\New\\nul.txt'",
      "put M H/h.txt 'C:\\New\\nul .tar.gz'",
      "put M H/h.txt 'C:\\New\\CONIN$'",
      "put M H/h.txt 'C:\\New\\conout$.log'",
      "put M H/h.txt 'C:\\New\\LPT9.txt'",
      "put M H/h.txt 'C:\\New\\COM\xc2\xb9'",
      "put M H/h.txt 'C:\\New\\LPT\xc2\xb2.txt'",
      "put M H/h.txt 'C:\\PRN\\x.txt'",
      "run M --at 'C:\\New\\CON.exe' -- /bin/true",
      // host sources that are not regular files
      "put M /dev/zero 'C:\\New\\zero'",
      "put M H/fifo 'C:\\New\\fifo'",
      "put M H/dir 'C:\\New\\dir'",
      // registry key names of 256 characters
      "reg-set M 'HKCU\\Software\\LONG' 'A=REG_SZ:x'",
      // wrong command lines
      "frobnicate M",
      "put M",
      "get M 'C:\\Data\\kept.txt' H/out.txt extra",
  };
  std::string before = Snapshot();
  for (std::string c : cases) {
    if (size_t at = c.find("LONG"); at != std::string::npos) c.replace(at, 4, longName);
    SCOPED_TRACE(c);
    Result r = Winsim(Args(c));
    EXPECT_EQ(r.status, 2) << r.out;
    EXPECT_EQ(LineCount(r.out), 1u) << r.out;
    EXPECT_EQ(r.out.rfind("winsim: ", 0), 0u) << r.out;
    EXPECT_EQ(Snapshot(), before);
  }
  for (const std::string& name : {longName, longPath}) {
    Result r = Winsim(Args("put M H/h.txt 'C:\\Long\\Way\\" + name + "'"));
    EXPECT_EQ(r.status, 2) << r.out;
    EXPECT_EQ(Snapshot(), before) << name;
  }
  EXPECT_NE(Winsim(Args("put M /dev/zero 'C:\\z'")).out.find("not a regular host file"), std::string::npos);
  EXPECT_EQ(HostFileRead(FHost + "/ro.txt"), "read-only\n");
  EXPECT_TRUE(fs::is_symlink(FHost + "/link"));
}

TEST_F(WinsimHoldTest, GetWritesThroughDevicesAndPipesAndReplacesOnlyRegularFiles) {
  ASSERT_EQ(Winsim(Args("put M H/h.txt 'C:\\a.txt'")).status, 0);
  // A character device stays a device.
  ASSERT_EQ(::mknod((FHost + "/null").c_str(), S_IFCHR | 0644, makedev(1, 3)), 0);
  EXPECT_EQ(Winsim(Args("get M 'C:\\a.txt' H/null")).status, 0);
  EXPECT_TRUE(fs::is_character_file(FHost + "/null"));
  // "-" is standard output.
  Result out = WinsimRun(Args("get M 'C:\\a.txt' -"), false);
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.out, "hello\n");
  // A pipe is written into.
  ASSERT_EQ(::mkfifo((FHost + "/fifo").c_str(), 0644), 0);
  auto reader = std::async(std::launch::async, [&] { return HostFileRead(FHost + "/fifo"); });
  EXPECT_EQ(Winsim(Args("get M 'C:\\a.txt' H/fifo")).status, 0);
  EXPECT_EQ(reader.get(), "hello\n");
  EXPECT_EQ(fs::status(FHost + "/fifo").type(), fs::file_type::fifo);
  // A regular file is replaced whole and keeps its mode; a new one is made.
  HostFileWrite(FHost + "/old.txt", "old content that is longer\n");
  fs::permissions(FHost + "/old.txt", fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
  EXPECT_EQ(Winsim(Args("get M 'C:\\a.txt' H/old.txt")).status, 0);
  EXPECT_EQ(HostFileRead(FHost + "/old.txt"), "hello\n");
  EXPECT_EQ(fs::status(FHost + "/old.txt").permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
  EXPECT_EQ(Winsim(Args("get M 'C:\\a.txt' H/new.txt")).status, 0);
  EXPECT_EQ(HostFileRead(FHost + "/new.txt"), "hello\n");
  EXPECT_EQ(CommandRun("ls -a " + FHost).out, ".\n..\nfifo\nh.txt\nnew.txt\nnull\nold.txt\n");
}

TEST_F(WinsimHoldTest, NamesUpToTheLimitAndSpecialEntriesInADrive) {
  // Names of up to 255 characters fit, whatever temporary name the copy takes.
  for (size_t n : {245u, 255u}) {
    std::string name = "C:\\" + std::string(n - 4, 'x') + ".txt";
    EXPECT_EQ(Winsim(Args("put M H/h.txt '" + name + "'")).status, 0) << n;
  }
  // A link or a pipe put into a drive from outside is listed, never followed.
  std::string drive = FMachine + "/drives/C";
  fs::create_directory(drive + "/Odd");
  fs::create_symlink("/etc", drive + "/Odd/etc-link");
  fs::create_symlink("/nonexistent", drive + "/Odd/dangling");
  ASSERT_EQ(::mkfifo((drive + "/Odd/pipe").c_str(), 0644), 0);
  Result tree = Winsim("tree " + FMachine + " 'C:\\Odd'");
  EXPECT_EQ(tree.status, 0) << tree.out;
  EXPECT_EQ(tree.out, "dangling\t-\t-\netc-link\t-\t-\npipe\t-\t-\n");
  // A machine.ini that is there but cannot be read is a damaged machine, not a missing one.
  fs::remove(FMachine + "/machine.ini");
  fs::create_directory(FMachine + "/machine.ini");
  Result r = Winsim("events " + FMachine);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("damaged machine folder"), std::string::npos) << r.out;
}

TEST_F(WinsimHoldTest, DamagedStateIsReportedAndNeverOverwritten) {
  // Pending renames in the registry: a damaged registry must not lose them.
  ASSERT_EQ(Winsim(Args("put M H/h.txt 'C:\\a.txt'")).status, 0);
  ASSERT_EQ(Winsim(Args("reg-set M 'HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager' "
                        "'PendingFileRenameOperations=REG_MULTI_SZ:\\??\\C:\\a.txt|!\\??\\C:\\b.txt'"))
                .status,
            0);
  const std::string registry = HostFileRead(FMachine + "/registry.txt");
  const std::string typeLine = "V\tHKLM\tX\t99999999999\t00\n";
  struct Case {
    const char* File;
    std::string Content;  // "<dir>": a folder in its place; "<none>": missing
  } cases[] = {
      {"registry.txt", "<dir>"},
      {"registry.txt", ""},
      {"registry.txt", registry.substr(0, registry.size() / 2)},
      {"registry.txt", registry.substr(0, registry.find("\nV\t") + 1)},  // cut at a line end
      {"registry.txt", "junk\n"},
      {"registry.txt", registry + "junk\n"},
      {"registry.txt", "K\tHKLM\nV\tHKLM\tX\t4\tzz\nE\n"},
      {"registry.txt", "K\tHKLM\n" + typeLine + "E\n"},
      {"state/nextpid", ""},
      {"state/nextpid", "<none>"},
      {"state/nextpid", "abc\n"},
      {"state/nextpid", "4294967292\n"},
      {"state/exits", "1004 0"},
      {"state/processes", "1000\tjunk\n"},
      {"state/hostpids", "1004 x\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.File) + ": " + c.Content.substr(0, 60));
    std::string path = FMachine + "/" + c.File;
    std::string kept = HostFileRead(path);
    fs::remove(path);
    if (c.Content == "<dir>")
      fs::create_directory(path);
    else if (c.Content != "<none>")
      HostFileWrite(path, c.Content);
    std::string before = Snapshot();
    bool isRegistry = std::string(c.File) == "registry.txt";
    std::vector<std::string> calls = {"run M -- /bin/true", "reboot M"};
    if (isRegistry) {
      calls.push_back("reg M 'HKLM\\SYSTEM'");
      calls.push_back("reg-set M 'HKLM\\SOFTWARE\\New' 'A=REG_SZ:x'");
      calls.push_back("pending M");
    }
    for (const std::string& call : calls) {
      Result r = Winsim(Args(call));
      EXPECT_EQ(r.status, 2) << call << "\n" << r.out;
      EXPECT_EQ(LineCount(r.out), 1u) << call << "\n" << r.out;
      EXPECT_EQ(Snapshot(), before) << call;
    }
    fs::remove_all(path);
    HostFileWrite(path, kept);
  }
  // Whole again, nothing was lost.
  EXPECT_EQ(HostFileRead(FMachine + "/registry.txt"), registry);
  EXPECT_EQ(Winsim("pending " + FMachine).out, "\\??\\C:\\a.txt -> !\\??\\C:\\b.txt\n");
  EXPECT_EQ(Winsim("run " + FMachine + " -- /bin/true").status, 0);
}

TEST_F(WinsimHoldTest, RebootThatCannotLogChangesNothing) {
  ASSERT_EQ(Winsim(Args("put M H/h.txt 'C:\\a.txt'")).status, 0);
  ASSERT_EQ(Winsim(Args("reg-set M 'HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager' "
                        "'PendingFileRenameOperations=REG_MULTI_SZ:\\??\\C:\\a.txt|!\\??\\C:\\b.txt'"))
                .status,
            0);
  std::string events = HostFileRead(FMachine + "/events.jsonl");
  fs::remove(FMachine + "/events.jsonl");
  fs::create_directory(FMachine + "/events.jsonl");
  std::string before = Snapshot();
  EXPECT_EQ(Winsim("reboot " + FMachine).status, 2);
  EXPECT_EQ(Snapshot(), before);
  fs::remove(FMachine + "/events.jsonl");
  HostFileWrite(FMachine + "/events.jsonl", events);
  EXPECT_EQ(Winsim("reboot " + FMachine).status, 0);
  EXPECT_NE(Winsim("tree " + FMachine + " 'C:\\'").out.find("b.txt\t6\t"), std::string::npos);
}

TEST_F(WinsimHoldTest, AFullDiskLeavesNoPartialFile) {
  fs::path mount = FRoot / "small";
  fs::create_directory(mount);
  if (::mount("tmpfs", mount.c_str(), "tmpfs", 0, "size=512k") != 0) GTEST_SKIP() << "cannot mount a small tmpfs here";
  struct Unmount {
    fs::path p;
    ~Unmount() { ::umount2(p.c_str(), MNT_DETACH); }
  } unmount{mount};
  std::string m = (mount / "m").string();
  ASSERT_EQ(Winsim("new " + m).status, 0);
  HostFileWrite(FRoot / "big.bin", std::string(1 << 20, 'b'));
  // Times aside: the copies aside were made and taken back.
  std::string before = Winsim("tree " + m + " 'C:\\'").out + CommandRun("ls -la --time-style=+ " + m).out;
  Result put = Winsim("put " + m + " " + (FRoot / "big.bin").string() + " 'C:\\big.bin'");
  EXPECT_EQ(put.status, 2) << put.out;
  // The registry's own copy aside is taken back too: fill the disk, then grow the registry.
  CommandRun("head -c 1000000 /dev/zero > " + (mount / "filler").string() + " 2>/dev/null");
  Result reg = Winsim("reg-set " + m + " 'HKCU\\Software\\Big' 'A=REG_BINARY:" + std::string(100000, 'a') + "'");
  EXPECT_EQ(reg.status, 2) << reg.out;
  fs::remove(mount / "filler");
  EXPECT_EQ(Winsim("tree " + m + " 'C:\\'").out + CommandRun("ls -la --time-style=+ " + m).out, before);
  EXPECT_EQ(CommandRun("ls -a " + m + "/drives/C").out, ".\n..\nProgram Files\nProgram Files (x86)\nProgramData\nUsers\nWindows\n");
}

TEST_F(WinsimHoldTest, ATimeOutEndsEveryHostProcessOfTheRun) {
  // The script starts a host process of its own and waits for it.
  std::string script = FHost + "/fg.sh";
  std::string pidFile = FHost + "/sleep.pid";
  HostFileWrite(script, "#!/bin/sh\nsleep 78 &\necho $! > " + pidFile + "\nwait\n");
  fs::permissions(script, fs::perms::owner_all);
  Result r = Winsim("run " + FMachine + " --timeout 1 -- " + script);
  EXPECT_EQ(r.status, 124) << r.out;
  pid_t sleeper = std::stoi(HostFileRead(pidFile));
  // Gone, or a zombie nobody has reaped yet.
  auto alive = [&] {
    std::string stat = HostFileRead("/proc/" + std::to_string(sleeper) + "/stat");
    size_t close = stat.rfind(')');
    return close != std::string::npos && stat[close + 2] != 'Z';
  };
  for (int i = 0; i < 100 && alive(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_FALSE(alive());
}

TEST_F(WinsimHoldTest, TenRunsOfOneProgramAtOnceAllRun) {
  std::vector<std::future<Result>> runs;
  for (int i = 0; i < 10; ++i)
    runs.push_back(std::async(std::launch::async, [&] { return Winsim("run " + FMachine + " -- " PROBE_EXE " 9"); }));
  for (auto& run : runs) {
    Result r = run.get();
    EXPECT_EQ(r.status, 9) << r.out;
  }
  std::string events = Winsim("events " + FMachine).out;
  size_t exits = 0;
  for (size_t at = 0; (at = events.find("\"exitCode\":9}", at)) != std::string::npos; ++at) ++exits;
  EXPECT_EQ(exits, 10u) << events;
}

TEST_F(WinsimHoldTest, TenPutsToOnePathAtOnceEachLeaveOneWholeFile) {
  std::string a(3 << 20, 'a'), b(3 << 20, 'b');
  for (size_t i = 0; i < a.size(); i += 4096) {
    a[i] = static_cast<char>(i / 4096);
    b[i] = static_cast<char>(i / 4096 + 1);
  }
  HostFileWrite(FHost + "/a.bin", a);
  HostFileWrite(FHost + "/b.bin", b);
  for (int round = 0; round < 3; ++round) {
    std::vector<std::future<Result>> puts;
    for (int i = 0; i < 10; ++i)
      puts.push_back(std::async(std::launch::async, [&, i] {
        return Winsim(Args(std::string("put M H/") + (i % 2 ? "a" : "b") + ".bin 'C:\\Same\\same.bin'"));
      }));
    for (auto& put : puts) {
      Result r = put.get();
      EXPECT_EQ(r.status, 0) << r.out;
    }
    ASSERT_EQ(Winsim(Args("get M 'C:\\Same\\same.bin' H/back.bin")).status, 0);
    std::string back = HostFileRead(FHost + "/back.bin");
    EXPECT_TRUE(back == a || back == b) << "round " << round;
    EXPECT_EQ(CommandRun("ls -a " + FMachine + "/drives/C/Same").out, ".\n..\nsame.bin\n");
  }
}

TEST_F(WinsimHoldTest, ARunThatFailsAfterPlacingTakesItsCopyAndFoldersBack) {
  ASSERT_EQ(Winsim("run " + FMachine + " --at 'C:\\Kept\\p.exe' -- /bin/true").status, 0);
  std::string before = Winsim("tree " + FMachine + " 'C:\\'").out;
  // The answer queue cannot be written: found only once the program is in place.
  fs::remove(FMachine + "/state/answers");
  fs::create_directory(FMachine + "/state/answers");
  for (const char* at : {"C:\\New\\Place\\p.exe", "C:\\Kept\\p.exe"}) {
    Result r = Winsim("run " + FMachine + " --at '" + at + "' -- " PROBE_EXE);
    EXPECT_EQ(r.status, 2) << r.out;
    EXPECT_EQ(Winsim("tree " + FMachine + " 'C:\\'").out, before) << at;
  }
}
