// Process tokens, privileges, direct process starts, the shell's window and shutdown
// requests. Unless marked sim-only these run on the simulated machine and under Wine.
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "TestSupport.h"

#ifndef _WIN32
#include "platform/sim/machine.h"
#endif

namespace {

struct TokenHandle {
  win::HANDLE H = nullptr;
  ~TokenHandle() {
    if (H) win::CloseHandle(H);
  }
};

TokenHandle OwnToken(win::DWORD aAccess) {
  TokenHandle t;
  EXPECT_TRUE(win::OpenProcessToken(win::GetCurrentProcess(), aAccess, &t.H));
  return t;
}

// The label's SID as GetTokenInformation lays it out; its sub-authority count and last
// sub-authority.
bool IntegrityOf(win::HANDLE aToken, win::DWORD& aLevel, win::UCHAR& aCount) {
  win::DWORD size = 0;
  if (win::GetTokenInformation(aToken, win::TokenIntegrityLevel, nullptr, 0, &size)) return false;
  if (win::GetLastError() != win::ERROR_INSUFFICIENT_BUFFER || size < sizeof(win::TOKEN_MANDATORY_LABEL)) return false;
  std::vector<win::BYTE> buffer(size);
  if (!win::GetTokenInformation(aToken, win::TokenIntegrityLevel, buffer.data(), size, &size)) return false;
  auto* label = reinterpret_cast<win::TOKEN_MANDATORY_LABEL*>(buffer.data());
  const auto* sid = static_cast<const win::BYTE*>(label->Label.Sid);
  // S-1-16-...: revision 1, identifier authority 16 (the mandatory label authority).
  EXPECT_EQ(sid[0], 1);
  EXPECT_EQ(sid[7], 16);
  aCount = *win::GetSidSubAuthorityCount(label->Label.Sid);
  if (aCount == 0) return false;
  aLevel = *win::GetSidSubAuthority(label->Label.Sid, aCount - 1u);
  return true;
}

// Whether the token lists the privilege, and its attributes.
bool PrivilegeOf(win::HANDLE aToken, const Text& aName, win::DWORD& aAttributes) {
  win::LUID luid{};
  if (!win::LookupPrivilegeValueW(nullptr, aName.c_str(), &luid)) return false;
  win::DWORD size = 0;
  win::GetTokenInformation(aToken, win::TokenPrivileges, nullptr, 0, &size);
  std::vector<win::BYTE> buffer(size + sizeof(win::TOKEN_PRIVILEGES));
  if (!win::GetTokenInformation(aToken, win::TokenPrivileges, buffer.data(), static_cast<win::DWORD>(buffer.size()),
                                &size))
    return false;
  win::DWORD count;
  std::memcpy(&count, buffer.data(), 4);
  for (win::DWORD i = 0; i < count; ++i) {
    win::LUID_AND_ATTRIBUTES e;
    std::memcpy(&e, buffer.data() + 4 + i * sizeof e, sizeof e);
    if (e.Luid.LowPart == luid.LowPart && e.Luid.HighPart == luid.HighPart) {
      aAttributes = e.Attributes;
      return true;
    }
  }
  return false;
}

bool Adjust(win::HANDLE aToken, const Text& aName, win::DWORD aAttributes, win::DWORD& aError) {
  win::TOKEN_PRIVILEGES set{};
  set.PrivilegeCount = 1;
  if (!win::LookupPrivilegeValueW(nullptr, aName.c_str(), &set.Privileges[0].Luid)) return false;
  set.Privileges[0].Attributes = aAttributes;
  win::SetLastError(12345);
  bool r = win::AdjustTokenPrivileges(aToken, win::FALSE, &set, sizeof set, nullptr, nullptr) != win::FALSE;
  aError = win::GetLastError();
  return r;
}

#ifndef _WIN32
std::string EventsRead() {
  std::ifstream in(sim::MachineFolderHost() + "/events.jsonl");
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}
#endif

}  // namespace

// ---- Tokens ----------------------------------------------------------------------------

TEST(Token, IntegrityLabelIsAMandatoryLabelSid) {
  TokenHandle t = OwnToken(win::TOKEN_QUERY);
  win::DWORD level = 0;
  win::UCHAR count = 0;
  ASSERT_TRUE(IntegrityOf(t.H, level, count));
  EXPECT_EQ(count, 1);
  EXPECT_GE(level, win::SECURITY_MANDATORY_LOW_RID);
}

TEST(Token, IntegrityFollowsTheProcessLevel) {
  SIM_ONLY("integrity levels");
  win::DWORD level = 0;
  win::UCHAR count = 0;
  {
    TokenHandle t = OwnToken(win::TOKEN_QUERY);
    ASSERT_TRUE(IntegrityOf(t.H, level, count));
    EXPECT_EQ(level, win::SECURITY_MANDATORY_MEDIUM_RID);
  }
  testsupport::AsAdministrator admin;
  TokenHandle t = OwnToken(win::TOKEN_QUERY);
  ASSERT_TRUE(IntegrityOf(t.H, level, count));
  EXPECT_EQ(level, win::SECURITY_MANDATORY_HIGH_RID);
}

TEST(Token, QueriesNeedTheQueryRight) {
  SIM_ONLY("token access checks (Wine does not check them)");
  TokenHandle t = OwnToken(win::TOKEN_ADJUST_PRIVILEGES);
  win::DWORD size = 0;
  win::BYTE room[256];
  EXPECT_FALSE(win::GetTokenInformation(t.H, win::TokenIntegrityLevel, room, sizeof room, &size));
  EXPECT_EQ(win::GetLastError(), win::ERROR_ACCESS_DENIED);
}

TEST(Token, QueriesNeedRoom) {
  win::DWORD size = 0;
  TokenHandle q = OwnToken(win::TOKEN_QUERY);
  win::BYTE small[4];
  EXPECT_FALSE(win::GetTokenInformation(q.H, win::TokenIntegrityLevel, small, sizeof small, &size));
  EXPECT_EQ(win::GetLastError(), win::ERROR_INSUFFICIENT_BUFFER);
  EXPECT_GT(size, sizeof(win::TOKEN_MANDATORY_LABEL));

  win::HANDLE none = nullptr;
  EXPECT_FALSE(win::OpenProcessToken(reinterpret_cast<win::HANDLE>(static_cast<win::ULONG_PTR>(0x7FF0)),
                                     win::TOKEN_QUERY, &none));
}

TEST(Token, VirtualizationFollowsTheProcessEnvironment) {
  SIM_ONLY("the virtualization switch of winsim run");
#ifndef _WIN32
  auto enabled = [] {
    TokenHandle t = OwnToken(win::TOKEN_QUERY);
    win::DWORD value = 7, size = 0;
    EXPECT_TRUE(win::GetTokenInformation(t.H, win::TokenVirtualizationEnabled, &value, sizeof value, &size));
    EXPECT_EQ(size, 4u);
    return value;
  };
  EXPECT_EQ(enabled(), 0u);
  ::setenv("WINSIM_VIRTUALIZATION", "1", 1);
  EXPECT_EQ(enabled(), 1u);
  ::unsetenv("WINSIM_VIRTUALIZATION");
  EXPECT_EQ(enabled(), 0u);
#endif
}

// ---- Privileges ------------------------------------------------------------------------

TEST(Privileges, NamesAreLookedUpWithoutRegardToCase) {
  win::LUID a{}, b{};
  ASSERT_TRUE(win::LookupPrivilegeValueW(nullptr, u"SeShutdownPrivilege", &a));
  ASSERT_TRUE(win::LookupPrivilegeValueW(nullptr, u"seshutdownprivilege", &b));
  EXPECT_EQ(a.LowPart, b.LowPart);
  win::LUID c{};
  ASSERT_TRUE(win::LookupPrivilegeValueW(nullptr, u"SeDebugPrivilege", &c));
  EXPECT_NE(a.LowPart, c.LowPart);
  EXPECT_FALSE(win::LookupPrivilegeValueW(nullptr, u"SeNoSuchPrivilege", &a));
  EXPECT_EQ(win::GetLastError(), win::ERROR_NO_SUCH_PRIVILEGE);
}

TEST(Privileges, StandardTokenHoldsTheUsersSet) {
  SIM_ONLY("a standard user's token (Wine's processes hold the administrators' set)");
  TokenHandle t = OwnToken(win::TOKEN_QUERY | win::TOKEN_ADJUST_PRIVILEGES);
  win::DWORD attributes = 0, error = 0;
  ASSERT_TRUE(PrivilegeOf(t.H, u"SeShutdownPrivilege", attributes));
  EXPECT_EQ(attributes & win::SE_PRIVILEGE_ENABLED, 0u);
  ASSERT_TRUE(PrivilegeOf(t.H, u"SeChangeNotifyPrivilege", attributes));
  EXPECT_NE(attributes & win::SE_PRIVILEGE_ENABLED, 0u);
  EXPECT_FALSE(PrivilegeOf(t.H, u"SeDebugPrivilege", attributes));

  // A privilege the token lacks: the call succeeds, the last error tells.
  EXPECT_TRUE(Adjust(t.H, u"SeDebugPrivilege", win::SE_PRIVILEGE_ENABLED, error));
  EXPECT_EQ(error, win::ERROR_NOT_ALL_ASSIGNED);

  ASSERT_TRUE(Adjust(t.H, u"SeShutdownPrivilege", win::SE_PRIVILEGE_ENABLED, error));
  EXPECT_EQ(error, win::ERROR_SUCCESS);
  // The process has one token: another handle sees the change.
  TokenHandle other = OwnToken(win::TOKEN_QUERY | win::TOKEN_ADJUST_PRIVILEGES);
  ASSERT_TRUE(PrivilegeOf(other.H, u"SeShutdownPrivilege", attributes));
  EXPECT_NE(attributes & win::SE_PRIVILEGE_ENABLED, 0u);
  ASSERT_TRUE(Adjust(other.H, u"SeShutdownPrivilege", 0, error));
  ASSERT_TRUE(PrivilegeOf(t.H, u"SeShutdownPrivilege", attributes));
  EXPECT_EQ(attributes & win::SE_PRIVILEGE_ENABLED, 0u);
}

TEST(Privileges, AdjustingNeedsTheAdjustRight) {
  TokenHandle t = OwnToken(win::TOKEN_QUERY);
  win::DWORD error = 0;
  EXPECT_FALSE(Adjust(t.H, u"SeShutdownPrivilege", win::SE_PRIVILEGE_ENABLED, error));
  EXPECT_EQ(error, win::ERROR_ACCESS_DENIED);
}

TEST(Privileges, RemovedPrivilegesLeaveADuplicateOnly) {
  SIM_ONLY("the administrators' set of an elevated token");
  testsupport::AsAdministrator admin;
  TokenHandle own = OwnToken(win::TOKEN_ALL_ACCESS);
  TokenHandle copy;
  ASSERT_TRUE(win::DuplicateTokenEx(own.H, win::TOKEN_ALL_ACCESS, nullptr, win::SecurityImpersonation,
                                    win::TokenPrimary, &copy.H));
  win::DWORD attributes = 0, error = 0;
  ASSERT_TRUE(PrivilegeOf(copy.H, u"SeDebugPrivilege", attributes));
  ASSERT_TRUE(Adjust(copy.H, u"SeDebugPrivilege", win::SE_PRIVILEGE_REMOVED, error));
  EXPECT_EQ(error, win::ERROR_SUCCESS);
  EXPECT_FALSE(PrivilegeOf(copy.H, u"SeDebugPrivilege", attributes));
  EXPECT_TRUE(PrivilegeOf(own.H, u"SeDebugPrivilege", attributes));
  // Removed for good: enabling it again assigns nothing.
  ASSERT_TRUE(Adjust(copy.H, u"SeDebugPrivilege", win::SE_PRIVILEGE_ENABLED, error));
  EXPECT_EQ(error, win::ERROR_NOT_ALL_ASSIGNED);
}

// ---- Processes -------------------------------------------------------------------------

namespace {

// Starts aCommandLine; the exit code once it has ended, or nullopt with the start's error.
std::optional<win::DWORD> RunToEnd(const Text& aCommandLine, win::DWORD& aError, win::HANDLE aToken = nullptr,
                                   win::DWORD* aPid = nullptr) {
  std::vector<char16_t> line(aCommandLine.begin(), aCommandLine.end());
  line.push_back(0);
  win::STARTUPINFOW si{};
  si.cb = sizeof si;
  win::PROCESS_INFORMATION pi{};
  bool started = aToken ? win::CreateProcessAsUserW(aToken, nullptr, line.data(), nullptr, nullptr, win::FALSE, 0x620,
                                                    nullptr, nullptr, &si, &pi)
                        : win::CreateProcessW(nullptr, line.data(), nullptr, nullptr, win::FALSE, 0x620, nullptr,
                                              nullptr, &si, &pi);
  aError = win::GetLastError();
  if (!started) return std::nullopt;
  if (aPid) *aPid = pi.dwProcessId;
  EXPECT_EQ(win::WaitForSingleObject(pi.hProcess, win::INFINITE), win::WAIT_OBJECT_0);
  win::DWORD code = win::STILL_ACTIVE;
  EXPECT_TRUE(win::GetExitCodeProcess(pi.hProcess, &code));
  EXPECT_EQ(win::GetProcessId(pi.hProcess), pi.dwProcessId);
  win::CloseHandle(pi.hThread);
  win::CloseHandle(pi.hProcess);
  return code;
}

}  // namespace

TEST(CreateProcess, StartsWaitsAndDeliversTheExitCode) {
  const Text helper = testsupport::HelperProgram("exitcode");
  win::DWORD error = 0;
  EXPECT_EQ(RunToEnd(u"\"" + helper + u"\" 7", error), std::optional<win::DWORD>(7));
  EXPECT_EQ(RunToEnd(u"\"" + helper + u"\"", error), std::optional<win::DWORD>(0));

  EXPECT_EQ(RunToEnd(u"\"" + testsupport::ScratchFolder() + u"\\missing.exe\" 1", error), std::nullopt);
  EXPECT_EQ(error, win::ERROR_FILE_NOT_FOUND);
}

TEST(CreateProcess, AsUserRunsAtTheTokensLevel) {
  SIM_ONLY("integrity levels of started processes");
#ifndef _WIN32
  const Text helper = testsupport::HelperProgram("exitcode");
  testsupport::AsAdministrator admin;
  TokenHandle own = OwnToken(win::TOKEN_ALL_ACCESS);
  win::DWORD error = 0, pid = 0;
  EXPECT_EQ(RunToEnd(u"\"" + helper + u"\" 4", error, own.H, &pid), std::optional<win::DWORD>(4));
  auto child = sim::ProcessFind(sim::MachineFolderHost(), pid);
  ASSERT_TRUE(child.has_value());
  EXPECT_EQ(child->Record.Integrity, sim::kIntegrityHigh);
  EXPECT_EQ(child->Record.Parent, win::GetCurrentProcessId());

  // The shell's token is not derived from ours: starting a process with it needs
  // SeAssignPrimaryTokenPrivilege, which an elevated administrator does not hold. A copy of
  // it is refused alike.
  win::HANDLE shell = win::OpenProcess(win::PROCESS_ALL_ACCESS, win::FALSE, sim::ShellProcessId(sim::MachineFolderHost()));
  ASSERT_NE(shell, nullptr);
  TokenHandle shellToken, shellCopy;
  ASSERT_TRUE(win::OpenProcessToken(shell, win::TOKEN_ALL_ACCESS, &shellToken.H));
  win::CloseHandle(shell);
  EXPECT_EQ(RunToEnd(u"\"" + helper + u"\" 5", error, shellToken.H), std::nullopt);
  EXPECT_EQ(error, win::ERROR_PRIVILEGE_NOT_HELD);
  ASSERT_TRUE(win::DuplicateTokenEx(shellToken.H, win::TOKEN_ALL_ACCESS, nullptr, win::SecurityImpersonation,
                                    win::TokenPrimary, &shellCopy.H));
  EXPECT_EQ(RunToEnd(u"\"" + helper + u"\" 5", error, shellCopy.H), std::nullopt);
  EXPECT_EQ(error, win::ERROR_PRIVILEGE_NOT_HELD);

  win::HANDLE bogus = reinterpret_cast<win::HANDLE>(static_cast<win::ULONG_PTR>(0x7FF0));
  EXPECT_EQ(RunToEnd(u"\"" + helper + u"\" 5", error, bogus), std::nullopt);
  EXPECT_EQ(error, win::ERROR_INVALID_HANDLE);
#endif
}

TEST(OpenProcess, LowerLevelsCannotWriteUp) {
  SIM_ONLY("integrity levels");
#ifndef _WIN32
  const Text helper = testsupport::HelperProgram("exitcode");
  win::DWORD error = 0, elevated = 0;
  {
    testsupport::AsAdministrator admin;
    TokenHandle own = OwnToken(win::TOKEN_ALL_ACCESS);
    ASSERT_EQ(RunToEnd(u"\"" + helper + u"\" 0", error, own.H, &elevated), std::optional<win::DWORD>(0));
  }
  EXPECT_EQ(win::OpenProcess(win::PROCESS_ALL_ACCESS, win::FALSE, elevated), nullptr);
  EXPECT_EQ(win::GetLastError(), win::ERROR_ACCESS_DENIED);
  win::HANDLE limited = win::OpenProcess(win::PROCESS_QUERY_LIMITED_INFORMATION, win::FALSE, elevated);
  ASSERT_NE(limited, nullptr);
  // Its token can be read, not changed.
  TokenHandle t;
  EXPECT_FALSE(win::OpenProcessToken(limited, win::TOKEN_ALL_ACCESS, &t.H));
  ASSERT_TRUE(win::OpenProcessToken(limited, win::TOKEN_QUERY, &t.H));
  win::DWORD level = 0;
  win::UCHAR count = 0;
  ASSERT_TRUE(IntegrityOf(t.H, level, count));
  EXPECT_EQ(level, win::SECURITY_MANDATORY_HIGH_RID);
  win::CloseHandle(limited);

  EXPECT_EQ(win::OpenProcess(win::PROCESS_ALL_ACCESS, win::FALSE, 0x7FFFFF0), nullptr);
  EXPECT_EQ(win::GetLastError(), win::ERROR_INVALID_PARAMETER);
#endif
}

TEST(OpenProcess, OwnProcessOpensWithItsToken) {
  win::HANDLE self = win::OpenProcess(win::PROCESS_ALL_ACCESS, win::FALSE, win::GetCurrentProcessId());
  ASSERT_NE(self, nullptr);
  TokenHandle t;
  ASSERT_TRUE(win::OpenProcessToken(self, win::TOKEN_QUERY, &t.H));
  win::DWORD level = 0;
  win::UCHAR count = 0;
  EXPECT_TRUE(IntegrityOf(t.H, level, count));
  win::CloseHandle(self);
}

// ---- The shell's window and shutdown ---------------------------------------------------

TEST(Shell, ProgmanBelongsToTheShellProcess) {
  SIM_ONLY("the simulated desktop shell");
#ifndef _WIN32
  win::HWND window = win::FindWindowW(u"Progman", nullptr);
  ASSERT_NE(window, nullptr);
  win::DWORD pid = 0;
  EXPECT_NE(win::GetWindowThreadProcessId(window, &pid), 0u);
  EXPECT_EQ(pid, sim::ShellProcessId(sim::MachineFolderHost()));
  EXPECT_EQ(win::FindWindowW(u"NoSuchClass", nullptr), nullptr);
  EXPECT_EQ(win::GetWindowThreadProcessId(reinterpret_cast<win::HWND>(static_cast<win::ULONG_PTR>(0x4444)), &pid), 0u);
#endif
}

TEST(Shutdown, NeedsTheShutdownPrivilegeEnabled) {
  SIM_ONLY("restart requests of the simulated machine");
#ifndef _WIN32
  EXPECT_FALSE(win::ExitWindowsEx(win::EWX_REBOOT, 0));
  EXPECT_EQ(win::GetLastError(), win::ERROR_PRIVILEGE_NOT_HELD);
  EXPECT_EQ(EventsRead().find("\"reboot-request\""), std::string::npos);

  TokenHandle t = OwnToken(win::TOKEN_ADJUST_PRIVILEGES);
  win::DWORD error = 0;
  ASSERT_TRUE(Adjust(t.H, u"SeShutdownPrivilege", win::SE_PRIVILEGE_ENABLED, error));
  EXPECT_TRUE(win::ExitWindowsEx(win::EWX_REBOOT, 0));
  EXPECT_NE(EventsRead().find("{\"type\":\"reboot-request\"}"), std::string::npos);
  ASSERT_TRUE(Adjust(t.H, u"SeShutdownPrivilege", 0, error));
#endif
}
