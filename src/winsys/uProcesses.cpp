#include "winsys/uProcesses.h"

#include <vector>

#include "diag/uMisc.h"
#include "ui/MessageWindow.h"
#include "winsys/GetExeVersionInfo.h"

// ---- Windows version -------------------------------------------------------------------

TWindowsVersion WindowsVersionGet() {
  TWindowsVersion v;
  TPath drivers = SystemDriversFolderGet();
  if (drivers.IsEmpty()) return v;
  TPath library = drivers.PathToParent() + u"shell32.dll";
  Text name = library.ToString();
  // An empty name would make ExeVersionGet read our own executable.
  if (name.empty()) return v;
  std::uint16_t major = 0, minor = 0, release = 0, build = 0;
  if (!ExeVersionGet(major, minor, release, name, build)) return v;
  v.Major = major;
  v.Minor = minor;
  return v;
}

bool WindowsVersionIsSupported(const TWindowsVersion& aVersion) {
  return (aVersion.Major == 6 && aVersion.Minor >= 1) || aVersion.Major > 6;
}

// One read for the whole decision: three reads could each see a different file if it were
// replaced meanwhile, and would cost three times as much.
bool WindowsVersionIsSupported() { return WindowsVersionIsSupported(WindowsVersionGet()); }

bool WindowsIsVistaOrLater(const TWindowsVersion& aVersion) { return aVersion.Major > 5; }

bool WindowsIsVistaOrLater() { return WindowsIsVistaOrLater(WindowsVersionGet()); }

// ---- Integrity, virtualization, privileges ---------------------------------------------

namespace {

constexpr win::DWORD kNoProcess = 0xFFFFFFFF;

// The 18 privileges of an administrator's token that a child started at the user's level
// must not carry.
const char16_t* const kPrivilegesToRemove[] = {
    u"SeCreateGlobalPrivilege",         u"SeBackupPrivilege",
    u"SeCreatePagefilePrivilege",       u"SeCreateSymbolicLinkPrivilege",
    u"SeDebugPrivilege",                u"SeImpersonatePrivilege",
    u"SeIncreaseBasePriorityPrivilege", u"SeIncreaseQuotaPrivilege",
    u"SeLoadDriverPrivilege",           u"SeManageVolumePrivilege",
    u"SeProfileSingleProcessPrivilege", u"SeRemoteShutdownPrivilege",
    u"SeRestorePrivilege",              u"SeSecurityPrivilege",
    u"SeSystemEnvironmentPrivilege",    u"SeSystemProfilePrivilege",
    u"SeSystemtimePrivilege",           u"SeTakeOwnershipPrivilege",
};

}  // namespace

win::DWORD ShellProcessIdGet() {
  win::HWND window = win::FindWindowW(u"Progman", nullptr);
  if (!window) return kNoProcess;
  win::DWORD pid = 0;
  if (!win::GetWindowThreadProcessId(window, &pid)) return kNoProcess;
  return pid;
}

bool ProcessIntegrityLevelGet(win::DWORD aProcessId, win::DWORD& aLevel) {
  aLevel = win::SECURITY_MANDATORY_HIGH_RID;
  bool result = true;
  // Before Vista there are no levels: every process may do everything.
  if (!WindowsIsVistaOrLater()) return result;
  win::HANDLE process = win::OpenProcess(win::PROCESS_ALL_ACCESS, win::FALSE, aProcessId);
  if (!process) return result;
  win::HANDLE token = nullptr;
  if (!win::OpenProcessToken(process, win::TOKEN_ALL_ACCESS, &token)) {
    win::CloseHandle(process);
    return result;
  }
  win::DWORD size = 0;
  std::vector<win::BYTE> buffer;
  bool ok = win::GetTokenInformation(token, win::TokenIntegrityLevel, nullptr, 0, &size) != win::FALSE;
  if (!ok && win::GetLastError() == win::ERROR_INSUFFICIENT_BUFFER && size > 0) {
    buffer.resize(size);
    ok = win::GetTokenInformation(token, win::TokenIntegrityLevel, buffer.data(), size, &size) != win::FALSE;
  }
  if (ok && buffer.size() >= sizeof(win::TOKEN_MANDATORY_LABEL)) {
    auto* label = reinterpret_cast<win::TOKEN_MANDATORY_LABEL*>(buffer.data());
    win::UCHAR count = *win::GetSidSubAuthorityCount(label->Label.Sid);
    if (count == 0)
      result = false;
    else
      aLevel = *win::GetSidSubAuthority(label->Label.Sid, count - 1u);
  }
  win::CloseHandle(token);
  win::CloseHandle(process);
  return result;
}

win::DWORD IntegrityLevelGet() {
  win::DWORD level = 0;
  return ProcessIntegrityLevelGet(win::GetCurrentProcessId(), level) ? level : 0;
}

win::DWORD ShellIntegrityLevelGet() {
  win::DWORD level = 0;
  ProcessIntegrityLevelGet(ShellProcessIdGet(), level);
  return level;
}

bool UacVirtualizationIsActive(win::DWORD aProcessId) {
  if (!WindowsIsVistaOrLater()) return false;
  bool opened = aProcessId != 0;
  win::HANDLE process = opened ? win::OpenProcess(win::PROCESS_QUERY_INFORMATION, win::FALSE, aProcessId)
                               : win::GetCurrentProcess();
  if (!process) return false;
  bool result = false;
  win::HANDLE token = nullptr;
  if (win::OpenProcessToken(process, win::TOKEN_QUERY, &token)) {
    win::DWORD value = 0, size = 0;
    result = win::GetTokenInformation(token, win::TokenVirtualizationEnabled, &value, sizeof value, &size) &&
             value != 0;
    win::CloseHandle(token);
  }
  if (opened) win::CloseHandle(process);
  return result;
}

namespace {

win::TOKEN_PRIVILEGES OnePrivilege(const win::LUID& aLuid, win::DWORD aAttributes) {
  win::TOKEN_PRIVILEGES set{};
  set.PrivilegeCount = 1;
  set.Privileges[0].Luid = aLuid;
  set.Privileges[0].Attributes = aAttributes;
  return set;
}

}  // namespace

bool PrivilegeSet(bool aEnable, const Text& aPrivilegeName) {
  win::HANDLE token = nullptr;
  if (!win::OpenProcessToken(win::GetCurrentProcess(), win::TOKEN_ADJUST_PRIVILEGES, &token)) return false;
  win::LUID luid{};
  bool result = false;
  win::DWORD error = 0;
  if (win::LookupPrivilegeValueW(nullptr, aPrivilegeName.c_str(), &luid)) {
    win::TOKEN_PRIVILEGES set = OnePrivilege(luid, aEnable ? win::SE_PRIVILEGE_ENABLED : 0);
    win::AdjustTokenPrivileges(token, win::FALSE, &set, sizeof set, nullptr, nullptr);
    // TRUE also when the token lacks the privilege: only the last error tells.
    error = win::GetLastError();
    result = error == win::ERROR_SUCCESS;
  } else {
    error = win::GetLastError();
  }
  win::CloseHandle(token);
  win::SetLastError(error);
  return result;
}

bool TokenPrivilegeAttributesSet(win::HANDLE aToken, const Text& aPrivilegeName, win::DWORD aAttributes) {
  win::LUID luid{};
  if (!win::LookupPrivilegeValueW(nullptr, aPrivilegeName.c_str(), &luid)) return false;
  win::TOKEN_PRIVILEGES set = OnePrivilege(luid, aAttributes);
  return win::AdjustTokenPrivileges(aToken, win::FALSE, &set, sizeof set, nullptr, nullptr) != win::FALSE;
}

bool TokenPrivilegesRemove(win::HANDLE aToken) {
  bool result = false;
  bool first = true;
  for (const char16_t* name : kPrivilegesToRemove) {
    bool r = TokenPrivilegeAttributesSet(aToken, name, win::SE_PRIVILEGE_REMOVED);
    if (first) result = r;
    first = false;
  }
  return result;
}

// ---- Starting processes ----------------------------------------------------------------

Text ProcessCommandLineBuild(const TPath& aExecutable, const Text& aParameters) {
  Text path = aExecutable.ToString();
  if (path.empty()) return aParameters;
  Text line = u"\"" + path + u"\"";
  if (!aParameters.empty()) line += u" " + aParameters;
  return line;
}

namespace {

// A copy of the shell's token without the administrators' privileges; null when the program
// is not elevated, the shell not at the user's level, or a step fails.
win::HANDLE UnelevatedTokenMake() {
  if (IntegrityLevelGet() != win::SECURITY_MANDATORY_HIGH_RID ||
      ShellIntegrityLevelGet() != win::SECURITY_MANDATORY_MEDIUM_RID) {
    win::SetLastError(win::ERROR_ACCESS_DENIED);
    return nullptr;
  }
  win::HANDLE result = nullptr;
  win::HANDLE shell = win::OpenProcess(win::PROCESS_ALL_ACCESS, win::FALSE, ShellProcessIdGet());
  if (!shell) return nullptr;
  win::HANDLE shellToken = nullptr;
  if (win::OpenProcessToken(shell, win::TOKEN_ALL_ACCESS, &shellToken)) {
    win::HANDLE copy = nullptr;
    if (win::DuplicateTokenEx(shellToken, win::TOKEN_ALL_ACCESS, nullptr, win::SecurityImpersonation,
                              win::TokenPrimary, &copy)) {
      TokenPrivilegesRemove(copy);
      result = copy;
    }
    win::CloseHandle(shellToken);
  }
  win::CloseHandle(shell);
  return result;
}

}  // namespace

bool ProcessCreate(const TPath& aExecutable, const Text& aParameters, int aCreationFlags, void* aEnvironment,
                   const Text& aCurrentFolder, win::STARTUPINFOW* aStartupInfo,
                   win::PROCESS_INFORMATION* aProcessInformation, bool aWait, win::DWORD* aExitCode,
                   bool aUnelevated, win::HANDLE aToken) {
  AlertIf(aExitCode != nullptr && !aWait, u"ProcessCreate: an exit code is asked for without waiting");
  win::STARTUPINFOW localStartup{};
  localStartup.cb = sizeof(win::STARTUPINFOW);
  win::PROCESS_INFORMATION localInformation{};
  win::STARTUPINFOW* startup = aStartupInfo ? aStartupInfo : &localStartup;
  win::PROCESS_INFORMATION* information = aProcessInformation ? aProcessInformation : &localInformation;
  const win::LPCWSTR folder = aCurrentFolder.empty() ? nullptr : aCurrentFolder.c_str();
  const win::DWORD flags = aCreationFlags == -1 ? kProcessCreateDefaultFlags : static_cast<win::DWORD>(aCreationFlags);

  // The system may write into the command line: it gets a buffer of its own.
  Text line = ProcessCommandLineBuild(aExecutable, aParameters);
  std::vector<char16_t> buffer(line.begin(), line.end());
  buffer.push_back(0);

  bool result = false;
  if ((aUnelevated && WindowsIsVistaOrLater()) || aToken) {
    win::HANDLE token = aToken;
    win::HANDLE made = nullptr;
    if (aUnelevated) {
      Verify(aToken == nullptr);
      AlertIfUsed();
      made = UnelevatedTokenMake();
      token = made;
    }
    if (token) {
      result = win::CreateProcessAsUserW(token, nullptr, buffer.data(), nullptr, nullptr, win::FALSE, flags,
                                         aEnvironment, folder, startup, information) != win::FALSE;
    }
    if (made) {
      win::DWORD error = win::GetLastError();
      win::CloseHandle(made);
      win::SetLastError(error);
    }
  } else {
    result = win::CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, win::FALSE, flags, aEnvironment, folder,
                                 startup, information) != win::FALSE;
  }
  win::DWORD error = win::GetLastError();

  // Only a started process is waited for: a failed start has no handle to wait on.
  // The process handle is signalled once the child has ended; only then is its exit code
  // read. A child that ends with 259 (the value of STILL_ACTIVE) has ended all the same, so
  // the code is not taken as a sign that it still runs: that would wait for ever.
  if (aWait && result) {
    win::DWORD code = win::STILL_ACTIVE;
    if (win::WaitForSingleObject(information->hProcess, win::INFINITE) == win::WAIT_OBJECT_0)
      win::GetExitCodeProcess(information->hProcess, &code);
    if (aExitCode) *aExitCode = code;
  }
  if (!aProcessInformation && result) {
    win::CloseHandle(localInformation.hProcess);
    win::CloseHandle(localInformation.hThread);
  }
  win::SetLastError(error);
  return result;
}

// ---- Small system operations -----------------------------------------------------------

win::HWND MessageWindowAllocate(const TWindowMethod& aMethod) {
  if (!aMethod) return nullptr;
  return MessageWindowCreate([aMethod](win::HWND, win::UINT aMessage, win::WPARAM aWParam, win::LPARAM aLParam) {
    return static_cast<win::LRESULT>(aMethod(aMessage, aWParam, aLParam));
  });
}

void MessageWindowFree(win::HWND aWindow) { MessageWindowDestroy(aWindow); }
