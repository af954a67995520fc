// winsim reg and reg-set, driven as a user drives them.
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "TestSupport.h"
#include "WinsimSupport.h"

namespace fs = std::filesystem;

namespace {

using Result = WinsimResult;

Result Winsim(const std::string& aArgs) { return WinsimRun(aArgs, false); }

class WinsimRegTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FRoot = fs::temp_directory_path() / ("winsimreg-test-" + std::to_string(::getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(FRoot);
    fs::create_directories(FRoot);
    FMachine = (FRoot / "m").string();
    ASSERT_EQ(Winsim("new " + FMachine).status, 0);
  }
  void TearDown() override { fs::remove_all(FRoot); }
  fs::path FRoot;
  std::string FMachine;
};

}  // namespace

TEST_F(WinsimRegTest, SetsAndPrintsEveryType) {
  ASSERT_EQ(Winsim("reg-set " + FMachine +
                   " 'HKEY_CURRENT_USER\\Software\\Vendor' 'Path=REG_SZ:C:\\a b' 'Count=REG_DWORD:0x10'"
                   " 'Big=REG_QWORD:18446744073709551615' 'List=REG_MULTI_SZ:one|two words'"
                   " 'Raw=REG_BINARY:00fF10' '=REG_EXPAND_SZ:%SystemRoot%'")
                .status,
            0);
  ASSERT_EQ(Winsim("reg-set " + FMachine + " 'HKCU\\Software\\Vendor\\Sub'").status, 0);
  // Setting again replaces the value in place.
  ASSERT_EQ(Winsim("reg-set " + FMachine + " 'hkcu\\Software\\Vendor' 'count=REG_DWORD:7'").status, 0);
  Result r = Winsim("reg " + FMachine + " 'HKCU\\software\\vendor'");
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "Path\tREG_SZ\tC:\\\\a b\n"
            "count\tREG_DWORD\t7\n"
            "Big\tREG_QWORD\t18446744073709551615\n"
            "List\tREG_MULTI_SZ\tone\ttwo words\n"
            "Raw\tREG_BINARY\t00ff10\n"
            "\tREG_EXPAND_SZ\t%SystemRoot%\n"
            "Sub\\\n");
}

TEST_F(WinsimRegTest, ViewsRedirectSoftwareButTheSharedClasses) {
  struct Case {
    const char* Set;      // set in the 32-bit view
    const char* Stored;   // where it is in the 64-bit view
    bool SeenIn64;        // the same key name shows it in the 64-bit view
  } cases[] = {
      {"HKLM\\SOFTWARE\\Vendor", "HKLM\\SOFTWARE\\Wow6432Node\\Vendor", false},
      {"HKCR\\CLSID\\{x}", "HKLM\\SOFTWARE\\Classes\\Wow6432Node\\CLSID\\{x}", false},
      {"HKCR\\txtfile", "HKLM\\SOFTWARE\\Classes\\txtfile", true},
      {"HKLM\\SYSTEM\\Vendor", "HKLM\\SYSTEM\\Vendor", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Set);
    ASSERT_EQ(Winsim("reg-set " + FMachine + " '" + c.Set + "' 'V=REG_SZ:x' --view 32").status, 0);
    EXPECT_EQ(Winsim("reg " + FMachine + " '" + c.Set + "' --view 32").out, "V\tREG_SZ\tx\n");
    EXPECT_EQ(Winsim("reg " + FMachine + " '" + c.Stored + "'").out, "V\tREG_SZ\tx\n");
    EXPECT_EQ(Winsim("reg " + FMachine + " '" + c.Set + "'").status, c.SeenIn64 ? 0 : 2);
  }
}

TEST_F(WinsimRegTest, BadCallsFailWithStatus2AndChangeNothing) {
  const char* bad[] = {
      "reg-set M 'XX\\Software\\Vendor' 'A=REG_SZ:x'",
      "reg-set M 'HKCU\\Software\\Vendor' 'A=REG_DWORD:4294967296'",
      "reg-set M 'HKCU\\Software\\Vendor' 'A=REG_DWORD:-1'",
      "reg-set M 'HKCU\\Software\\Vendor' 'A=REG_BINARY:0g'",
      "reg-set M 'HKCU\\Software\\Vendor' 'A=REG_BINARY:123'",
      "reg-set M 'HKCU\\Software\\Vendor' 'A=REG_MULTI_SZ:a||b'",
      "reg-set M 'HKCU\\Software\\Vendor' 'A=REG_WHAT:1'",
      "reg-set M 'HKCU\\Software\\Vendor' 'A:REG_SZ'",
      "reg-set M 'HKCU\\Software\\Vendor' 'A=REG_SZ:x' 'B=REG_DWORD:x'",
      "reg-set M 'HKCU\\Software\\\\Vendor' 'A=REG_SZ:x'",
      "reg-set M 'HKCU\\Software\\Vendor' 'A=REG_SZ:x' --view 16",
      "reg M 'HKCU\\Software\\Vendor'",
  };
  for (std::string args : bad) {
    args.replace(args.find(" M "), 3, " " + FMachine + " ");
    SCOPED_TRACE(args);
    EXPECT_EQ(Winsim(args).status, 2);
  }
  EXPECT_EQ(Winsim("reg " + FMachine + " 'HKCU\\Software\\Vendor'").status, 2);
  EXPECT_EQ(Winsim("reg " + fs::path(FRoot / "none").string() + " 'HKCU\\Software'").status, 2);
}

TEST_F(WinsimRegTest, The32BitViewOfSoftwareIsWow6432NodeAndNumbersAreDecimalOrHex) {
  ASSERT_EQ(Winsim("reg-set " + FMachine + " 'HKLM\\SOFTWARE\\Only64'").status, 0);
  ASSERT_EQ(Winsim("reg-set " + FMachine + " 'HKLM\\SOFTWARE\\Only32' --view 32").status, 0);
  // The key itself is redirected: its subkeys are the 32-bit ones and the shared Classes.
  EXPECT_EQ(Winsim("reg " + FMachine + " 'HKLM\\SOFTWARE' --view 32").out, "Classes\\\nMicrosoft\\\nOnly32\\\n");
  EXPECT_EQ(Winsim("reg " + FMachine + " 'HKLM\\SOFTWARE'").out,
            "Classes\\\nMicrosoft\\\nOnly64\\\nWow6432Node\\\n");
  ASSERT_EQ(Winsim("reg-set " + FMachine + " 'HKLM\\SOFTWARE' 'V=REG_SZ:32' --view 32").status, 0);
  EXPECT_EQ(Winsim("reg " + FMachine + " 'HKLM\\SOFTWARE\\Wow6432Node'").out.rfind("V\tREG_SZ\t32\n", 0), 0u);
  EXPECT_EQ(Winsim("reg " + FMachine + " 'HKLM\\SOFTWARE'").out.find("V\t"), std::string::npos);
  // A leading zero is not octal.
  ASSERT_EQ(Winsim("reg-set " + FMachine +
                   " 'HKCU\\Software\\N' 'A=REG_DWORD:010' 'B=REG_DWORD:0777' 'C=REG_QWORD:0x10' 'D=REG_DWORD:0X1f'")
                .status,
            0);
  EXPECT_EQ(Winsim("reg " + FMachine + " 'HKCU\\Software\\N'").out,
            "A\tREG_DWORD\t10\nB\tREG_DWORD\t777\nC\tREG_QWORD\t16\nD\tREG_DWORD\t31\n");
  for (const char* bad : {"0x", "0x-1", "1e3", "08.5", " 7", "0b1"}) {
    EXPECT_EQ(Winsim("reg-set " + FMachine + " 'HKCU\\Software\\N' 'A=REG_DWORD:" + bad + "'").status, 2) << bad;
  }
}
