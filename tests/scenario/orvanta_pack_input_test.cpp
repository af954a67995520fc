// orvanta-pack given inputs a careless or hostile user gives: it refuses with one clear line,
// status 1, and leaves nothing next to the output and every input as it was.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "WinsimSupport.h"

namespace fs = std::filesystem;

extern char** environ;

namespace {

std::uint32_t Crc32(const std::string& s) {
  std::uint32_t c = 0xFFFFFFFFu;
  for (unsigned char b : s) {
    c ^= b;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
  }
  return c ^ 0xFFFFFFFFu;
}

void PutBE(std::string& s, std::uint32_t v) {
  for (int i = 3; i >= 0; --i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// A 1 x 1 grey PNG image.
std::string PngSmall() {
  std::string png("\x89PNG\r\n\x1A\n", 8);
  auto chunk = [&png](const std::string& aType, const std::string& aData) {
    PutBE(png, static_cast<std::uint32_t>(aData.size()));
    std::string body = aType + aData;
    png += body;
    PutBE(png, Crc32(body));
  };
  std::string header;
  PutBE(header, 1);
  PutBE(header, 1);
  header += std::string("\x08\x00\x00\x00\x00", 5);  // 8-bit greyscale
  chunk("IHDR", header);
  chunk("IDAT", std::string("\x78\x01\x01\x02\x00\xFD\xFF\x00\x80\x00\x81\x00\x81", 13));
  chunk("IEND", "");
  return png;
}

// A PE32 program the packer can extend: headers of 0x400 bytes, one section (.text at RVA
// 0x1000, 0x200 bytes at 0x400), 16 data directories, all empty.
std::string PeSmall() {
  std::string pe(0x600, '\0');
  auto put = [&pe](std::size_t at, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) pe[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  pe[0] = 'M', pe[1] = 'Z';
  put(0x3C, 0x40, 4);
  pe.replace(0x40, 4, std::string("PE\0\0", 4));
  const std::size_t coff = 0x44, opt = coff + 20, section = opt + 224;
  put(coff, 0x14C, 2), put(coff + 2, 1, 2), put(coff + 16, 224, 2), put(coff + 18, 0x102, 2);
  put(opt, 0x10B, 2), put(opt + 32, 0x1000, 4), put(opt + 36, 0x200, 4), put(opt + 56, 0x2000, 4);
  put(opt + 60, 0x400, 4), put(opt + 92, 16, 4);
  pe.replace(section, 5, ".text");
  put(section + 8, 0x1000, 4), put(section + 12, 0x1000, 4), put(section + 16, 0x200, 4), put(section + 20, 0x400, 4);
  return pe;
}

class PackInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FRoot = fs::temp_directory_path() / ("orvanta-pack-input-" + std::to_string(::getpid()));
    fs::remove_all(FRoot);
    fs::create_directories(FRoot / "files" / "sub");
    fs::create_directories(FRoot / "out");
    Write("files/a.txt", "a");
    Write("files/sub/b.txt", "b");
    Write("script.txt", "a.txt\r\nsub\\b.txt\r\n");
    fs::copy_file(PROBE_EXE, FRoot / "stub");
    Reset();
  }
  void TearDown() override { fs::remove_all(FRoot); }

  void Reset() {
    FScript = (FRoot / "script.txt").string();
    FFrom = (FRoot / "files").string();
    FOut = (FRoot / "out" / "Setup").string();
    FStub = (FRoot / "stub").string();
  }
  void Write(const std::string& aRel, const std::string& aData) {
    fs::create_directories((FRoot / aRel).parent_path());
    std::ofstream(FRoot / aRel, std::ios::binary) << aData;
  }
  std::string Command(const std::string& aExtra) {
    return "'" ORVANTA_PACK_EXE "' --script '" + FScript + "' --from '" + FFrom + "' --out '" + FOut + "' --stub '" +
           FStub + "' --version 1.2.3.4 " + aExtra;
  }
  // Runs the packer (at most a minute: a pipe it waited on would show as a failure); .out
  // holds its standard error.
  WinsimResult Pack(const std::string& aExtra = "", const std::string& aPrefix = "") {
    return CommandRun("timeout 60 " + aPrefix + Command(aExtra) + " 2>&1 >/dev/null");
  }
  // Names in a folder, hidden ones included.
  static std::string Names(const fs::path& aFolder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(aFolder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    std::string r;
    for (const auto& n : names) r += n + ";";
    return r;
  }
  // Status 1, one line saying aSays, and the output folder still empty.
  void ExpectRefused(const WinsimResult& r, const std::string& aSays) {
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find(aSays), std::string::npos) << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
    EXPECT_EQ(Names(FRoot / "out"), "");
  }
  fs::path FRoot;
  std::string FScript, FFrom, FOut, FStub;
};

}  // namespace

// Two entries the installer's file system takes for one file (or for a file and a folder) and
// names Windows reserves: the installer could not create them all.
TEST_F(PackInputTest, NamesTheInstallersFileSystemCannotHoldApartAreRefused) {
  struct Case {
    std::string First, Second;
    const char* Says;  // nullptr: both are packed
  };
  const Case cases[] = {
      {"d/x.txt", "d\\x.txt", "names the same file as line 2"},
      {"ü.txt", "Ü.txt", "names the same file as line 2"},
      {"ա.txt", "Ա.txt", "names the same file as line 2"},  // Armenian
      {"ǆ.txt", "Ǆ.txt", "names the same file as line 2"},
      {"e", "E\\x.txt", "lies in a folder that line 2 names as a file"},
      {"F/x.txt", "f", "names a folder of the entry on line 2"},
      {"a.txt", "COM¹", "reserved device name"},
      {"a.txt", "x\\lpt².txt", "reserved device name"},
      {"a.txt", "Nul .txt", "reserved device name"},
      {"a.txt", "x\\" + std::string(256, 'n'), "longer than the 255 characters"},
      // What NTFS tells apart: no single-character upper case of ß, nothing beyond the BMP.
      {"Straße.txt", "STRASSE.txt", nullptr},
      {"\U00010428.txt", "\U00010400.txt", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Second);
    for (const std::string& name : {c.First, c.Second}) {
      std::string host = name;
      std::replace(host.begin(), host.end(), '\\', '/');
      if (host.size() < 200 && !fs::exists(FRoot / "files" / host)) Write("files/" + host, name);
    }
    Write("script.txt", "\xEF\xBB\xBF// pairs\r\n" + c.First + "\r\n" + c.Second + "\r\n");
    WinsimResult r = Pack();
    if (c.Says) {
      ExpectRefused(r, c.Says);
      EXPECT_NE(r.out.find("script.txt:3: entry '"), std::string::npos) << r.out;
    } else {
      EXPECT_EQ(r.status, 0) << r.out;
      fs::remove(FOut);
    }
  }
}

TEST_F(PackInputTest, AMessageIsOneShortLineThatSaysWhy) {
  struct Case {
    const char* Name;
    std::string Entry;
    const char* Says;
  };
  const Case cases[] = {
      {"zero character", std::string("a\0b.txt", 7), "entry 'a\\x00b.txt': the name holds a character"},
      {"10 MB name", std::string(10000000, 'n'), "longer than the 32767 characters"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Write("script.txt", "a.txt\r\n" + c.Entry + "\r\n");
    WinsimResult r = Pack();
    ExpectRefused(r, c.Says);
    EXPECT_LT(r.out.size(), 1000u);
  }
}

TEST_F(PackInputTest, AFileOfTheWrongKindIsNamedForWhatItIs) {
  ASSERT_EQ(::mkfifo((FRoot / "fifo").c_str(), 0644), 0);
  ASSERT_EQ(::mkfifo((FRoot / "files" / "fifo").c_str(), 0644), 0);
  fs::create_directories(FRoot / "folder");
  const std::string root = FRoot.string();
  struct Case {
    std::string* Option;
    std::string Value;
    std::string Says;
  };
  std::string splash, entry;
  const Case cases[] = {
      {&FScript, root + "/folder", "--script " + root + "/folder: is a folder, not a file"},
      {&FScript, root + "/fifo", "is a device, pipe or socket, not a file"},
      {&FScript, root + "/missing", "--script " + root + "/missing: no such file"},
      {&FStub, root + "/folder", "--stub " + root + "/folder: is a folder, not a file"},
      {&FStub, "/dev/null", "--stub /dev/null: is a device, pipe or socket, not a file"},
      {&FStub, root + "/fifo", "is a device, pipe or socket, not a file"},
      {&splash, root + "/folder", "--splash " + root + "/folder: is a folder, not a file"},
      {&splash, "/dev/zero", "--splash /dev/zero: is a device, pipe or socket, not a file"},
      {&FFrom, root + "/script.txt", "not a folder"},
      {&FFrom, root + "/missing", "no such folder"},
      {&entry, "fifo", "files/fifo is not a file (a device, pipe or socket)"},
      {&entry, "sub", "files/sub is not a file (a folder)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Value);
    Reset();
    splash.clear();
    entry.clear();
    *c.Option = c.Value;
    if (!entry.empty()) Write("script.txt", "a.txt\r\n" + entry + "\r\n");
    ExpectRefused(Pack(splash.empty() ? "" : "--splash '" + splash + "'"), c.Says);
    Write("script.txt", "a.txt\r\n");
  }
}

TEST_F(PackInputTest, AFolderThatCannotBeReadSaysSo) {
  // Root reads everything: the packer then runs as nobody.
  const std::string as = ::geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
  fs::permissions(FRoot, fs::perms::all);
  fs::permissions(FRoot / "out", fs::perms::all);
  struct Case {
    fs::path Locked;
    std::string Says;
  };
  const Case cases[] = {
      {FRoot / "files", "--from " + FFrom + ": cannot read the folder: Permission denied"},
      {FRoot / "files" / "sub", "entry 'sub\\b.txt': cannot read " + FFrom + "/sub/b.txt: Permission denied"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Locked.string());
    fs::permissions(c.Locked, fs::perms::none);
    WinsimResult r = Pack("", as);
    fs::permissions(c.Locked, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec);
    ExpectRefused(r, c.Says);
  }
}

// Links inside --from are followed; one that leads out of it is refused.
TEST_F(PackInputTest, ALinkLeavingTheFolderIsRefused) {
  fs::create_symlink("/etc/passwd", FRoot / "files" / "passwd");
  fs::create_directory_symlink(FRoot, FRoot / "files" / "up");
  fs::create_symlink("../a.txt", FRoot / "files" / "sub" / "a-again.txt");
  fs::create_directory_symlink(FRoot / "files", FRoot / "files-link");
  struct Case {
    std::string Entry;
    const char* Says;  // nullptr: packed
  };
  const Case cases[] = {
      {"passwd", "is a symbolic link, or lies in a linked folder, that leads out of --from (to /etc/passwd)"},
      {"up\\script.txt", "leads out of --from"},
      {"up\\files\\a.txt", nullptr},
      {"sub\\a-again.txt", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Entry);
    Write("script.txt", "a.txt\r\n" + c.Entry + "\r\n");
    if (c.Says) {
      ExpectRefused(Pack(), c.Says);
    } else {
      EXPECT_EQ(Pack().status, 0);
      fs::remove(FOut);
    }
  }
  // --from may be a link itself.
  Write("script.txt", "a.txt\r\n");
  FFrom = (FRoot / "files-link").string();
  EXPECT_EQ(Pack().status, 0);
}

TEST_F(PackInputTest, TheOutputIsNeverOneOfTheInputs) {
  Write("splash.png", PngSmall());
  fs::create_hard_link(FRoot / "files" / "a.txt", FRoot / "a-linked.txt");
  fs::create_symlink(FRoot / "script.txt", FRoot / "script-link");
  struct Case {
    fs::path Out;
    const char* Says;
  };
  const Case cases[] = {
      {FRoot / "script.txt", "is the script given with --script"},
      {FRoot / "script-link", "is the script given with --script"},
      {FRoot / "stub", "is the stub given with --stub"},
      {FRoot / "splash.png", "is the picture given with --splash"},
      {FRoot / "files" / "sub" / "b.txt", "is the file of entry 'sub\\b.txt'"},
      {FRoot / "a-linked.txt", "is the file of entry 'a.txt'"},
      {"/dev/null", "--out /dev/null: is a device, pipe or socket, not a file"},
      {FRoot / "files", "is a folder"},
  };
  const std::string before = Names(FRoot) + Names(FRoot / "files") + HostFileRead(FRoot / "script.txt") +
                             HostFileRead(FRoot / "a-linked.txt") + HostFileRead(FRoot / "splash.png");
  const auto stubSize = fs::file_size(FRoot / "stub");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Out.string());
    FOut = c.Out.string();
    ExpectRefused(Pack("--splash '" + (FRoot / "splash.png").string() + "'"), c.Says);
  }
  EXPECT_EQ(Names(FRoot) + Names(FRoot / "files") + HostFileRead(FRoot / "script.txt") +
                HostFileRead(FRoot / "a-linked.txt") + HostFileRead(FRoot / "splash.png"),
            before);
  EXPECT_EQ(fs::file_size(FRoot / "stub"), stubSize);
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
}

TEST_F(PackInputTest, AStubThatCannotWorkIsRefused) {
  const std::string elf = HostFileRead(PROBE_EXE);
  std::string pe = PeSmall();
  auto pePut = [](std::string s, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    return s;
  };
  const std::size_t opt = 0x58, dirs = opt + 96, section = opt + 224;
  std::string overlapping = pePut(pe, 0x46, 2);                   // two sections ...
  overlapping.replace(section + 40, 40, pe.substr(section, 40));  // ... with the same data
  struct Case {
    const char* Name;
    const char* Target;
    std::string Stub;
    bool Executable;
    const char* Says;  // nullptr: packed
  };
  const Case cases[] = {
      {"empty", "linux", "", true, "not a Linux executable (no ELF header)"},
      {"a script", "linux", "#!/bin/sh\nexit 0\n", true, "not a Linux executable"},
      {"ELF magic only", "linux", "\x7F" "ELF", true, "not a Linux executable"},
      {"cut in half", "linux", elf.substr(0, elf.size() / 2), true, "cut short"},
      {"no execute bit", "linux", elf, false, "has no execute bit"},
      {"a program", "linux", elf, true, nullptr},
      {"a PE program", "windows", pe, false, nullptr},
      {"PE cut in half", "windows", pe.substr(0, 0x500), false, "not a Windows executable"},
      {"section at 0xFFFFFF00", "windows", pePut(pe, section + 12, 0xFFFFFF00), false,
       "not a Windows executable (a section lies outside the image)"},
      {"directory 0xFFFFFFFF", "windows", pePut(pePut(pe, dirs + 8, 0xFFFFFFFF), dirs + 12, 0xFFFFFFFF), false,
       "not a Windows executable (data directory 1 lies outside the sections)"},
      {"sections on each other", "windows", overlapping, false, "sections lie on top of one another"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    fs::remove(FRoot / "stub");
    Write("stub", c.Stub);
    fs::permissions(FRoot / "stub", c.Executable ? fs::perms::owner_all : fs::perms::owner_read | fs::perms::owner_write);
    WinsimResult r = Pack(std::string("--target ") + c.Target);
    if (c.Says) {
      ExpectRefused(r, c.Says);
    } else {
      EXPECT_EQ(r.status, 0) << r.out;
      fs::remove(FOut);
    }
  }
}

TEST_F(PackInputTest, ASplashThatIsNoPictureIsRefused) {
  const std::string png = PngSmall();
  // A file of 3 GiB that takes no room: refused for its size before any of it is read.
  { std::ofstream(FRoot / "huge.png"); }
  fs::resize_file(FRoot / "huge.png", 3ull << 30);
  struct Case {
    const char* Name;
    std::string Data;
    const char* Says;  // nullptr: packed
  };
  const Case cases[] = {
      {"empty", "", "is empty"},
      {"text", "a picture", "not a PNG image"},
      {"cut short", png.substr(0, png.size() - 6), "not a PNG image"},
      {"a bitmap", "BM" + std::string(100, '\0'), "not a PNG image"},
      {"a PNG image", png, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Write("splash.png", c.Data);
    WinsimResult r = Pack("--splash '" + (FRoot / "splash.png").string() + "'");
    if (c.Says) {
      ExpectRefused(r, c.Says);
    } else {
      EXPECT_EQ(r.status, 0) << r.out;
      fs::remove(FOut);
    }
  }
  ExpectRefused(Pack("--splash '" + (FRoot / "huge.png").string() + "'"), "is larger than 16 MiB");
}

namespace {

// The packer started aside on one large file that takes it some seconds to compress.
class PackRunningTest : public PackInputTest {
 protected:
  void SetUp() override {
    PackInputTest::SetUp();
    // Words in a random order: compressible, and slow enough at the packer's level.
    std::string data;
    std::uint64_t x = 88172645463325252ull;
    const char* words[] = {"alpha ", "beta ", "gamma ", "delta ", "epsilon ", "zeta ", "eta ", "theta "};
    while (data.size() < (4u << 20)) {
      x ^= x << 13, x ^= x >> 7, x ^= x << 17;
      data += words[x % 8];
      if (x % 13 == 0) data += std::to_string(x % 100000);
    }
    Write("files/big.bin", data);
    Write("script.txt", "big.bin\r\n");
  }
  // Starts the packer; returns when it has begun to read the file.
  void Start() {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, (FRoot / "stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    std::string cmd = "exec " + Command("-j 1 --always-compress");
    const char* argv[] = {"/bin/sh", "-c", cmd.c_str(), nullptr};
    ASSERT_EQ(::posix_spawn(&FPid, "/bin/sh", &actions, nullptr, const_cast<char**>(argv), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    // The first container appears once the file is open.
    for (int i = 0; i < 2000; ++i) {
      for (const auto& e : fs::directory_iterator(FRoot / "out"))
        if (fs::exists(e.path() / "F0")) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    FAIL() << "the packer did not start reading";
  }
  WinsimResult Wait() {
    int status = 0;
    ::waitpid(FPid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), HostFileRead(FRoot / "stderr.txt")};
  }
  pid_t FPid = 0;
};

}  // namespace

TEST_F(PackRunningTest, AFileWrittenInPlaceWhileItIsPackedIsRefused) {
  Start();
  {
    // Same size, new bytes near the end: only the file's times tell.
    std::fstream f(FRoot / "files" / "big.bin", std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>((4u << 20) - 1000));
    f.write("CHANGED!", 8);
  }
  WinsimResult r = Wait();
  ExpectRefused(r, "script.txt:1: entry 'big.bin': the file changed while it was packed");
}

TEST_F(PackRunningTest, ASignalToEndLeavesNothingBehind) {
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    Start();
    ::kill(FPid, signal);
    ExpectRefused(Wait(), "orvanta-pack: interrupted");
  }
}

TEST_F(PackInputTest, AFullDiskSaysNoSpace) {
  if (::geteuid() != 0) GTEST_SKIP() << "a small file system of its own needs root";
  const fs::path small = FRoot / "out";
  if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=256k") != 0) GTEST_SKIP() << "no tmpfs here";
  // The containers fit; the stub (megabytes) does not.
  WinsimResult r = Pack();
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("no space left on the disk"), std::string::npos) << r.out;
  EXPECT_EQ(Names(small), "");
  ::umount2(small.c_str(), MNT_DETACH);
}
