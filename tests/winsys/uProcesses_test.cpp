// The Windows version tests, integrity levels, virtualization, privileges and process
// starts. Unless marked sim-only these run on the simulated machine and under Wine.
#include "winsys/uProcesses.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>

#include "DebugRecorder.h"
#include "TestSupport.h"
#include "diag/uMisc.h"

#ifndef _WIN32
#include "platform/sim/machine.h"
#include "platform/sim/restable.h"
#endif

namespace {

class ProcessesTest : public ::testing::Test {
 protected:
  void SetUp() override { ProblemsRecordedClear(); }
  void TearDown() override { ProblemsRecordedClear(); }
};

}  // namespace

// ---- Windows version -------------------------------------------------------------------

TEST(WindowsVersion, SupportStartsWithWindows7) {
  struct Case {
    std::uint32_t Major, Minor;
    bool Supported, Vista;
  } cases[] = {
      {0, 0, false, false},   // unreadable
      {5, 1, false, false},   // XP
      {6, 0, false, true},    // Vista
      {6, 1, true, true},     // 7
      {6, 3, true, true},     // 8.1
      {10, 0, true, true},
      {11, 0, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.Major) + "." + std::to_string(c.Minor));
    EXPECT_EQ(WindowsVersionIsSupported(TWindowsVersion{c.Major, c.Minor}), c.Supported);
    EXPECT_EQ(WindowsIsVistaOrLater(TWindowsVersion{c.Major, c.Minor}), c.Vista);
  }
}

TEST(WindowsVersion, RunningWindowsIsReadFromTheSystemLibrary) {
  const TWindowsVersion v = WindowsVersionGet();
  EXPECT_GE(v.Major, 6u);
  EXPECT_TRUE(WindowsIsVistaOrLater());
}

#ifndef _WIN32
namespace {

// Replaces the native shell32.dll of the test machine for one test, and puts it back.
class NativeShell32 {
 public:
  NativeShell32() {
    FHost = sim::DriveHostFolder(sim::MachineFolderHost(), 'C') + "/Windows/System32/shell32.dll";
    std::ifstream in(FHost, std::ios::binary);
    FSaved.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  ~NativeShell32() { Write(FSaved); }
  void Write(const std::string& aData) {
    std::ofstream out(FHost, std::ios::binary | std::ios::trunc);
    out << aData;
  }
  void Version(win::WORD aMajor, win::WORD aMinor) {
    Write("MZ simulated system library\n");
    sim::ResourceTable table;
    table.Add(sim::ResourceId(16), sim::ResourceId(1), 0x0409,
              sim::VersionResourceBuild(aMajor, aMinor, 7601, 1, u"Windows Shell Common Dll", true));
    table.AppendTo(FHost);
  }

 private:
  std::string FHost;
  std::string FSaved;
};

}  // namespace
#endif

TEST(WindowsVersion, DecidedByTheNativeLibrarysVersion) {
  SIM_ONLY("a system library with a chosen version");
#ifndef _WIN32
  NativeShell32 shell32;
  struct Case {
    win::WORD Major, Minor;
    bool Supported;
  } cases[] = {{6, 0, false}, {6, 1, true}, {6, 3, true}, {10, 0, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.Major) + "." + std::to_string(c.Minor));
    shell32.Version(c.Major, c.Minor);
    const TWindowsVersion v = WindowsVersionGet();
    EXPECT_EQ(v.Major, c.Major);
    EXPECT_EQ(v.Minor, c.Minor);
    EXPECT_EQ(WindowsVersionIsSupported(), c.Supported);
    EXPECT_TRUE(WindowsIsVistaOrLater());
  }
  // Unreadable: no version at all, so neither supported nor Vista; levels then count as high.
  shell32.Write("not a library");
  const TWindowsVersion v = WindowsVersionGet();
  EXPECT_EQ(v.Major, 0u);
  EXPECT_EQ(v.Minor, 0u);
  EXPECT_FALSE(WindowsVersionIsSupported());
  EXPECT_FALSE(WindowsIsVistaOrLater());
  EXPECT_EQ(IntegrityLevelGet(), win::SECURITY_MANDATORY_HIGH_RID);
  EXPECT_FALSE(UacVirtualizationIsActive(0));
#endif
}

// ---- Integrity, virtualization, privileges ---------------------------------------------

TEST(Integrity, StandardAndElevatedProcesses) {
  SIM_ONLY("integrity levels");
  EXPECT_EQ(IntegrityLevelGet(), win::SECURITY_MANDATORY_MEDIUM_RID);
  {
    testsupport::AsAdministrator admin;
    EXPECT_EQ(IntegrityLevelGet(), win::SECURITY_MANDATORY_HIGH_RID);
  }
  EXPECT_EQ(IntegrityLevelGet(), win::SECURITY_MANDATORY_MEDIUM_RID);
}

TEST(Integrity, ShellRunsAtTheUsersLevel) {
  SIM_ONLY("the simulated desktop shell");
#ifndef _WIN32
  EXPECT_EQ(ShellProcessIdGet(), sim::ShellProcessId(sim::MachineFolderHost()));
#endif
  EXPECT_EQ(ShellIntegrityLevelGet(), win::SECURITY_MANDATORY_MEDIUM_RID);
  win::DWORD level = 0;
  // A process that does not exist counts as high.
  EXPECT_TRUE(ProcessIntegrityLevelGet(0x7FFFFF0, level));
  EXPECT_EQ(level, win::SECURITY_MANDATORY_HIGH_RID);
}

TEST(Integrity, OwnLevelIsKnown) {
  const win::DWORD level = IntegrityLevelGet();
  EXPECT_TRUE(level == win::SECURITY_MANDATORY_MEDIUM_RID || level == win::SECURITY_MANDATORY_HIGH_RID) << level;
}

TEST(Virtualization, FollowsTheToken) {
  SIM_ONLY("the virtualization switch of winsim run");
  EXPECT_FALSE(UacVirtualizationIsActive(0));
  EXPECT_FALSE(UacVirtualizationIsActive(win::GetCurrentProcessId()));
#ifndef _WIN32
  ::setenv("WINSIM_VIRTUALIZATION", "1", 1);
  EXPECT_TRUE(UacVirtualizationIsActive(0));
  ::unsetenv("WINSIM_VIRTUALIZATION");
#endif
  EXPECT_FALSE(UacVirtualizationIsActive(0x7FFFFF0));
}

TEST(Privileges, OnlyHeldPrivilegesCanBeSet) {
  SIM_ONLY("a standard user's token (Wine's processes hold the administrators' set)");
  EXPECT_FALSE(PrivilegeSet(true, u"SeDebugPrivilege"));
  EXPECT_EQ(win::GetLastError(), win::ERROR_NOT_ALL_ASSIGNED);
  EXPECT_TRUE(PrivilegeSet(true, u"SeShutdownPrivilege"));
  EXPECT_TRUE(PrivilegeSet(false, u"SeShutdownPrivilege"));
  EXPECT_FALSE(PrivilegeSet(true, u"SeNoSuchPrivilege"));
  {
    testsupport::AsAdministrator admin;
    EXPECT_TRUE(PrivilegeSet(true, u"SeDebugPrivilege"));
    EXPECT_TRUE(PrivilegeSet(false, u"SeDebugPrivilege"));
  }
}

TEST(Privileges, UnknownNamesAreNotSet) {
  win::HANDLE token = nullptr;
  ASSERT_TRUE(win::OpenProcessToken(win::GetCurrentProcess(), win::TOKEN_ALL_ACCESS, &token));
  EXPECT_FALSE(TokenPrivilegeAttributesSet(token, u"SeNoSuchPrivilege", win::SE_PRIVILEGE_ENABLED));
  EXPECT_TRUE(TokenPrivilegeAttributesSet(token, u"SeChangeNotifyPrivilege", win::SE_PRIVILEGE_ENABLED));
  win::CloseHandle(token);
}

TEST(Privileges, RemovedFromACopyOfAnElevatedToken) {
  SIM_ONLY("the administrators' set of an elevated token");
  testsupport::AsAdministrator admin;
  win::HANDLE own = nullptr, copy = nullptr;
  ASSERT_TRUE(win::OpenProcessToken(win::GetCurrentProcess(), win::TOKEN_ALL_ACCESS, &own));
  ASSERT_TRUE(win::DuplicateTokenEx(own, win::TOKEN_ALL_ACCESS, nullptr, win::SecurityImpersonation, win::TokenPrimary,
                                    &copy));
  EXPECT_TRUE(TokenPrivilegesRemove(copy));
  // Nothing of the 18 is left to enable; what is not among them stays.
  for (const char16_t* name : {u"SeCreateGlobalPrivilege", u"SeDebugPrivilege", u"SeTakeOwnershipPrivilege"}) {
    EXPECT_TRUE(TokenPrivilegeAttributesSet(copy, name, win::SE_PRIVILEGE_ENABLED));
    EXPECT_EQ(win::GetLastError(), win::ERROR_NOT_ALL_ASSIGNED) << TextToUtf8(name);
  }
  EXPECT_TRUE(TokenPrivilegeAttributesSet(copy, u"SeShutdownPrivilege", win::SE_PRIVILEGE_ENABLED));
  EXPECT_EQ(win::GetLastError(), win::ERROR_SUCCESS);
  // The own token keeps them.
  EXPECT_TRUE(TokenPrivilegeAttributesSet(own, u"SeDebugPrivilege", 0));
  EXPECT_EQ(win::GetLastError(), win::ERROR_SUCCESS);
  win::CloseHandle(copy);
  win::CloseHandle(own);
}

// ---- Starting processes ----------------------------------------------------------------

TEST(ProcessCommandLine, QuotesThePathAndAppendsParameters) {
  struct Case {
    const char16_t* Path;
    const char16_t* Parameters;
    const char16_t* Expected;
  } cases[] = {
      {u"C:\\Program Files\\Orvanta\\Vexlon.exe", u"-Hidden 1", u"\"C:\\Program Files\\Orvanta\\Vexlon.exe\" -Hidden 1"},
      {u"C:\\Program Files\\Orvanta\\Vexlon.exe", u"", u"\"C:\\Program Files\\Orvanta\\Vexlon.exe\""},
      {u"", u"\"C:\\a b\\x.exe\" 1", u"\"C:\\a b\\x.exe\" 1"},
      {u"", u"", u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(TextToUtf8(c.Path) + " | " + TextToUtf8(c.Parameters));
    EXPECT_EQ(ProcessCommandLineBuild(TPath(c.Path), c.Parameters), Text(c.Expected));
  }
}

TEST_F(ProcessesTest, WaitsAndReturnsTheExitCode) {
  const Text helper = testsupport::HelperProgram("exitcode");
  // The helper under a folder name with a space: only the quotes keep the path together.
  const Text folder = testsupport::ScratchFolder() + u"\\with space";
  ASSERT_TRUE(win::CreateDirectoryW(folder.c_str(), nullptr));
  const Text spaced = folder + u"\\exit code.exe";
  ASSERT_TRUE(win::CopyFileW(helper.c_str(), spaced.c_str(), win::TRUE));

  struct Case {
    Text Path, Parameters;
    win::DWORD Expected;
  } cases[] = {
      {helper, u"7", 7},
      {spaced, u"9", 9},
      {Text(), u"\"" + spaced + u"\" 11", 11},  // parameters alone: the command line as given
      {helper, Text(), 0},
#ifdef _WIN32
      // A child that ends with the value of STILL_ACTIVE has ended: no endless wait. (A host
      // process of the simulated machine has exit codes up to 255 only.)
      {helper, u"259", 259},
#endif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(TextToUtf8(c.Path) + " | " + TextToUtf8(c.Parameters));
    win::DWORD code = 12345;
    ASSERT_TRUE(ProcessCreate(TPath(c.Path), c.Parameters, -1, nullptr, Text(), nullptr, nullptr, true, &code))
        << win::GetLastError();
    EXPECT_EQ(code, c.Expected);
  }
  EXPECT_TRUE(ProblemsRecordedGet().empty());
}

TEST_F(ProcessesTest, CallerKeepsTheHandlesItAskedFor) {
  const Text helper = testsupport::HelperProgram("exitcode");
  win::PROCESS_INFORMATION pi{};
  ASSERT_TRUE(ProcessCreate(TPath(helper), u"3", -1, nullptr, Text(), nullptr, &pi, true, nullptr));
  win::DWORD code = 0;
  EXPECT_TRUE(win::GetExitCodeProcess(pi.hProcess, &code));
  EXPECT_EQ(code, 3u);
  EXPECT_TRUE(win::CloseHandle(pi.hThread));
  EXPECT_TRUE(win::CloseHandle(pi.hProcess));
}

TEST_F(ProcessesTest, FailedStartsReportTheSystemsError) {
  win::DWORD code = 12345;
  EXPECT_FALSE(ProcessCreate(TPath(testsupport::ScratchFolder() + u"\\missing.exe"), u"1", -1, nullptr, Text(),
                             nullptr, nullptr, true, &code));
  EXPECT_EQ(win::GetLastError(), win::ERROR_FILE_NOT_FOUND);
  // Nothing was started, so nothing was waited for and the exit code is left alone.
  EXPECT_EQ(code, 12345u);
}

TEST_F(ProcessesTest, AnExitCodeWithoutWaitingIsReported) {
  const Text helper = testsupport::HelperProgram("exitcode");
  win::DWORD code = 12345;
  EXPECT_TRUE(ProcessCreate(TPath(helper), u"1", -1, nullptr, Text(), nullptr, nullptr, false, &code));
  ASSERT_EQ(ProblemsRecordedGet().size(), 1u);
  EXPECT_EQ(ProblemsRecordedGet()[0].Type, u"Alert");
}

TEST_F(ProcessesTest, UnelevatedStartNeedsAnElevatedCaller) {
  SIM_ONLY("integrity levels");
  const Text helper = testsupport::HelperProgram("exitcode");
  win::DWORD code = 12345;
  // From a standard process there is no token to make: nothing starts.
  EXPECT_FALSE(ProcessCreate(TPath(helper), u"6", -1, nullptr, Text(), nullptr, nullptr, true, &code, true));
  EXPECT_EQ(code, 12345u);
  ASSERT_EQ(ProblemsRecordedGet().size(), 1u);  // the path is reported as used
  EXPECT_NE(ProblemsRecordedGet()[0].Message.find(u"Should not be used"), Text::npos);
}

// The shell's token is not derived from the caller's: Windows refuses to start a process
// with it unless the caller holds SeAssignPrimaryTokenPrivilege, which an elevated
// administrator does not.
TEST_F(ProcessesTest, UnelevatedStartIsRefusedToAnElevatedAdministrator) {
  SIM_ONLY("integrity levels");
#ifndef _WIN32
  const Text helper = testsupport::HelperProgram("exitcode");
  testsupport::AsAdministrator admin;
  win::DWORD code = 12345;
  win::PROCESS_INFORMATION pi{};
  EXPECT_FALSE(ProcessCreate(TPath(helper), u"6", -1, nullptr, Text(), nullptr, &pi, true, &code, true));
  EXPECT_EQ(win::GetLastError(), win::ERROR_PRIVILEGE_NOT_HELD);
  EXPECT_EQ(code, 12345u);

  // A plain start keeps the caller's level.
  ASSERT_TRUE(ProcessCreate(TPath(helper), u"2", -1, nullptr, Text(), nullptr, &pi, true, &code));
  auto child = sim::ProcessFind(sim::MachineFolderHost(), pi.dwProcessId);
  ASSERT_TRUE(child.has_value());
  EXPECT_EQ(child->Record.Integrity, sim::kIntegrityHigh);
  win::CloseHandle(pi.hThread);
  win::CloseHandle(pi.hProcess);
#endif
}

TEST_F(ProcessesTest, GivenTokenStartsAtItsLevel) {
  SIM_ONLY("integrity levels");
#ifndef _WIN32
  const Text helper = testsupport::HelperProgram("exitcode");
  // A copy of the caller's own token: one a process may start others with.
  win::HANDLE own = nullptr, token = nullptr;
  ASSERT_TRUE(win::OpenProcessToken(win::GetCurrentProcess(), win::TOKEN_ALL_ACCESS, &own));
  ASSERT_TRUE(win::DuplicateTokenEx(own, win::TOKEN_ALL_ACCESS, nullptr, win::SecurityImpersonation, win::TokenPrimary,
                                    &token));
  win::CloseHandle(own);
  win::DWORD code = 0;
  win::PROCESS_INFORMATION pi{};
  ASSERT_TRUE(ProcessCreate(TPath(helper), u"8", -1, nullptr, Text(), nullptr, &pi, true, &code, false, token));
  EXPECT_EQ(code, 8u);
  EXPECT_TRUE(ProblemsRecordedGet().empty());
  win::CloseHandle(pi.hThread);
  win::CloseHandle(pi.hProcess);
  win::CloseHandle(token);
#endif
}

TEST(MessageWindow, AnswersPostedMessagesAndGoesAway) {
  std::vector<win::UINT> seen;
  win::HWND h = MessageWindowAllocate([&](win::UINT aMessage, win::ULONG_PTR aWParam, win::LONG_PTR) {
    if (aMessage == win::WM_USER + 1) seen.push_back(static_cast<win::UINT>(aWParam));
    return win::LONG_PTR(0);
  });
  ASSERT_NE(h, nullptr);
  ASSERT_TRUE(win::PostMessageW(h, win::WM_USER + 1, 7, 0));
  win::MSG m{};
  while (win::PeekMessageW(&m, nullptr, 0, 0, win::PM_REMOVE)) win::DispatchMessageW(&m);
  EXPECT_EQ(seen, std::vector<win::UINT>{7});
#ifndef _WIN32
  // Message-only: never found among the top-level windows, as on Windows (Wine's FindWindowW
  // also searches the message-only windows).
  EXPECT_NE(win::FindWindowW(u"TOrvantaMessageWindow", nullptr), h);
#endif
  MessageWindowFree(h);
  EXPECT_FALSE(win::IsWindow(h));
}
