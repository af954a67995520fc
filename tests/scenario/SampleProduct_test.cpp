// The sample product the build generates: its Vexlon.exe is the stand-in program with the
// product's version, and runs as a program of a simulated machine.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "WinsimSupport.h"
#include "winsys/GetExeVersionInfo.h"

namespace fs = std::filesystem;

namespace {

const std::string kVexlon = std::string(SAMPLE_PRODUCT_DIR) + "/files/Vexlon.exe";

}  // namespace

TEST(SampleProduct, VexlonCarriesTheProductVersion) {
  const Text path = testsupport::ScratchFolder() + u"\\Vexlon.exe";
  ASSERT_TRUE(testsupport::FileWrite(path, HostFileRead(kVexlon)));
  std::uint16_t major = 0, minor = 0, release = 0, build = 0;
  ASSERT_TRUE(ExeVersionGet(major, minor, release, path, build));
  EXPECT_EQ((std::vector<int>{major, minor, release, build}), (std::vector<int>{4, 2, 1, 77}));
}

TEST(SampleProduct, VexlonRecordsHowItWasStarted) {
  const fs::path scratch = fs::temp_directory_path() / ("orvanta-sample-" + std::to_string(::getpid()));
  fs::create_directories(scratch);
  const std::string machine = (scratch / "machine").string();
  ASSERT_EQ(WinsimRun("new '" + machine + "'", true).status, 0);
  const std::string at = "'C:\\Program Files (x86)\\Orvanta\\Vexlon.exe'";
  WinsimResult run = WinsimRun("run '" + machine + "' --at " + at + " -- '" + kVexlon + "' /startup 'two words'", true);
  EXPECT_EQ(run.status, 0) << run.out;
  const std::string record = (scratch / "record.txt").string();
  ASSERT_EQ(WinsimRun("get '" + machine + "' 'C:\\ProgramData\\Orvanta\\Vexlon-starts.txt' '" + record + "'", true).status, 0);
  EXPECT_EQ(HostFileRead(record), "\"C:\\Program Files (x86)\\Orvanta\\Vexlon.exe\" /startup \"two words\"\r\n");
  std::error_code ec;
  fs::remove_all(scratch, ec);
}

// What orvanta-pack builds, the installer's extraction unpacks on a machine, byte for byte.
TEST(SampleProduct, APackedProductIsExtractedWhole) {
  const fs::path scratch = fs::temp_directory_path() / ("orvanta-packed-" + std::to_string(::getpid()));
  fs::create_directories(scratch / "files" / "Drivers" / "Vexlon" / "x64");
  fs::create_directories(scratch / "files" / "Docs");
  struct File {
    const char* Entry;
    std::string Host;
    std::string Data;
  };
  std::string driver;
  for (unsigned i = 0, x = 12345; i < 100000; ++i) driver.push_back(static_cast<char>((x = x * 1103515245u + 12345u) >> 16));
  const std::vector<File> files = {
      {"Vexlon.exe", "Vexlon.exe", HostFileRead(kVexlon)},
      {"Drivers\\Vexlon\\x64\\Vexlon.sys", "Drivers/Vexlon/x64/Vexlon.sys", driver},
      {"Docs\\Read Me.txt", "Docs/Read Me.txt", "Read me.\r\n"},
  };
  std::string script = "// the product\r\n\r\n";
  for (const File& f : files) {
    std::ofstream(scratch / "files" / f.Host, std::ios::binary) << f.Data;
    script += std::string(f.Entry) + "\r\n";
  }
  std::ofstream(scratch / "InstallScript.txt", std::ios::binary) << script;
  const std::string setup = (scratch / "Setup.exe").string();
  std::string pack = std::string("'" ORVANTA_PACK_EXE "' --script '") + (scratch / "InstallScript.txt").string() +
                     "' --from '" + (scratch / "files").string() + "' --out '" + setup +
                     "' --version 4.2.1.77 --stub '" PROBE_EXE "'";
  ASSERT_EQ(std::system(pack.c_str()), 0);

  const std::string machine = (scratch / "machine").string();
  ASSERT_EQ(WinsimRun("new '" + machine + "'", true).status, 0);
  const std::string at = "'C:\\Users\\User\\Downloads\\Setup.exe'";
  WinsimResult run = WinsimRun("run '" + machine + "' --at " + at + " -- '" + setup + "' extract " + at +
                                   " 'C:\\Users\\User\\AppData\\Local\\Temp\\Orvanta'",
                               true);
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(run.out, "OK 3 files\n");
  for (const File& f : files) {
    SCOPED_TRACE(f.Entry);
    const std::string copy = (scratch / "copy").string();
    ASSERT_EQ(WinsimRun("get '" + machine + "' 'C:\\Users\\User\\AppData\\Local\\Temp\\Orvanta\\" + f.Entry + "' '" + copy + "'",
                        true).status,
              0);
    EXPECT_TRUE(HostFileRead(copy) == f.Data);
  }
  std::error_code ec;
  fs::remove_all(scratch, ec);
}
