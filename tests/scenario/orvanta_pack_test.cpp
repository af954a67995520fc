// orvanta-pack as a user runs it: what it refuses, and that a refused run leaves nothing
// behind and an earlier installer as it was.
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "TestSupport.h"
#include "WinsimSupport.h"

namespace fs = std::filesystem;

namespace {

class OrvantaPackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FRoot = fs::temp_directory_path() / ("orvanta-pack-test-" + std::to_string(::getpid()));
    fs::remove_all(FRoot);
    fs::create_directories(FRoot / "files" / "sub");
    Write("files/a.txt", "a");
    Write("files/sub/b.txt", "b");
  }
  void TearDown() override { fs::remove_all(FRoot); }

  void Write(const std::string& aRel, const std::string& aData) {
    std::ofstream(FRoot / aRel, std::ios::binary) << aData;
  }
  std::string Read(const std::string& aRel) { return HostFileRead(FRoot / aRel); }
  // Runs the packer on script.txt with aExtra; .out holds its standard error.
  WinsimResult Pack(const std::string& aExtra = "--version 1.2.3.4", const std::string& aStub = PROBE_EXE) {
    std::string cmd = "'" ORVANTA_PACK_EXE "' --script '" + (FRoot / "script.txt").string() + "' --from '" +
                      (FRoot / "files").string() + "' --out '" + (FRoot / "out" / "Setup.exe").string() +
                      "' --stub '" + aStub + "' " + aExtra + " 2>&1 >/dev/null";
    return CommandRun(cmd);
  }
  // What the output folder holds, names only (a hidden folder left aside would show).
  std::string OutFolder() {
    std::string names;
    for (const auto& e : fs::directory_iterator(FRoot / "out")) names += e.path().filename().string() + ";";
    return names;
  }
  fs::path FRoot;
};

}  // namespace

TEST_F(OrvantaPackTest, ABadEntryIsNamedWithItsLineAndNothingIsWritten) {
  fs::create_directories(FRoot / "out");
  Write("out/Setup.exe", "an earlier installer");
  struct Case {
    const char* Entry;
    const char* Says;
  };
  const Case cases[] = {
      {"missing.txt", "no such file"},
      {"sub", "names a folder of the entry on line 4"},
      {"..\\a.txt", "'..' part"},
      {"sub\\..\\..\\a.txt", "'..' part"},
      {"\\a.txt", "rooted"},
      {"\\\\server\\share\\a.txt", "rooted"},
      {"C:a.txt", "drive path"},
      {"a.txt:stream", "':'"},
      {"sub\\\\b.txt", "empty part"},
      {"A.TXT", "same file as line 3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Entry);
    Write("script.txt", std::string("// the product\r\n\r\na.txt\r\nsub\\b.txt\r\n") + c.Entry + "\r\n");
    WinsimResult r = Pack();
    EXPECT_EQ(r.status, 1);
    const std::string where = "script.txt:5: entry '" + std::string(c.Entry) + "'";
    EXPECT_NE(r.out.find(where), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(c.Says), std::string::npos) << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
    EXPECT_EQ(OutFolder(), "Setup.exe;");
    EXPECT_EQ(Read("out/Setup.exe"), "an earlier installer");
  }
}

TEST_F(OrvantaPackTest, AScriptWithoutEntriesAndAWrongCommandLineAreRefused) {
  fs::create_directories(FRoot / "out");
  Write("script.txt", "// nothing but comments\r\n\r\n");
  WinsimResult r = Pack();
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("the script lists no files"), std::string::npos) << r.out;
  Write("script.txt", "a.txt");
  for (const char* extra : {"--version 1.2.3", "--version 1.2.3.65536", "--version 1.2.3.4 --target mac",
                            "--version 1.2.3.4 -j 0", ""}) {
    SCOPED_TRACE(extra);
    EXPECT_EQ(Pack(extra).status, 2);
  }
  EXPECT_EQ(OutFolder(), "");
  // The same script and folder with a right command line make an installer, quietly.
  EXPECT_EQ(Pack().status, 0);
  EXPECT_EQ(OutFolder(), "Setup.exe;");
}

TEST_F(OrvantaPackTest, AStubThatIsNoWindowsExecutableIsRefused) {
  fs::create_directories(FRoot / "out");
  Write("script.txt", "a.txt");
  std::string farHeader = "MZ" + std::string(0x3A, '\0') + std::string("\xF0\xFF\0\0", 4);
  std::string cutShort = "MZ" + std::string(0x3A, '\0') + std::string("\x40\0\0\0", 4) + std::string("PE\0\0", 4) +
                         std::string(20, '\0');
  cutShort[0x40 + 4 + 16] = '\xF0';  // an optional header larger than the file
  cutShort += std::string("\x0B\x01", 2);
  // A well-formed PE32 header whose one section (0x1000 bytes at 0x400) goes past the end of
  // the file: a stub copied half.
  std::string half(0x400 + 0x800, '\0');
  auto put = [&half](std::size_t at, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) half[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  half[0] = 'M', half[1] = 'Z';
  put(0x3C, 0x40, 4);
  half.replace(0x40, 4, std::string("PE\0\0", 4));
  const std::size_t coff = 0x44, opt = coff + 20, section = opt + 224;
  put(coff, 0x14C, 2), put(coff + 2, 1, 2), put(coff + 16, 224, 2), put(coff + 18, 0x102, 2);
  put(opt, 0x10B, 2), put(opt + 32, 0x1000, 4), put(opt + 36, 0x200, 4), put(opt + 60, 0x400, 4);
  put(opt + 92, 16, 4);
  put(section + 8, 0x1000, 4), put(section + 12, 0x1000, 4), put(section + 16, 0x1000, 4), put(section + 20, 0x400, 4);
  const std::string stubs[] = {"", "not an executable", farHeader, cutShort, half};
  for (const std::string& stub : stubs) {
    SCOPED_TRACE(stub.size());
    Write("stub.exe", stub);
    WinsimResult r = Pack("--version 1.2.3.4 --target windows", (FRoot / "stub.exe").string());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("not a Windows executable"), std::string::npos) << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
    EXPECT_EQ(OutFolder(), "");
  }
}

TEST_F(OrvantaPackTest, OnATerminalItShowsProgressAndOtherwiseNothing) {
  fs::create_directories(FRoot / "out");
  Write("script.txt", "a.txt\r\nsub\\b.txt\r\n");
  WinsimResult quiet = Pack();
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.out, "");
  // script(1) gives the packer a terminal.
  std::string cmd = "script -qec \"'" ORVANTA_PACK_EXE "' --script '" + (FRoot / "script.txt").string() + "' --from '" +
                    (FRoot / "files").string() + "' --out '" + (FRoot / "out" / "Setup2.exe").string() +
                    "' --stub '" PROBE_EXE "' --version 1.2.3.4\" /dev/null";
  WinsimResult shown = CommandRun(cmd);
  EXPECT_EQ(shown.status, 0);
  EXPECT_NE(shown.out.find("[##############################] 100%  0.0 MB of 0.0 MB"), std::string::npos) << shown.out;
  EXPECT_TRUE(fs::exists(FRoot / "out" / "Setup2.exe"));
}
