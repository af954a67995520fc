// Processes and tokens of the simulated machine: opening processes, their tokens (integrity
// from the process record, virtualization from the process's environment, privileges by
// elevation), starting programs directly and shutdown requests.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/sim/fail.h"
#include "platform/sim/handles.h"
#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "platform/utf.h"
#include "platform/win32api.h"

namespace win {

namespace {

struct PrivilegeName {
  const char16_t* Name;
  DWORD Luid;
};

// The LUIDs Windows gives the privileges on every system.
constexpr PrivilegeName kPrivileges[] = {
    {u"SeCreateTokenPrivilege", 2},
    {u"SeAssignPrimaryTokenPrivilege", 3},
    {u"SeLockMemoryPrivilege", 4},
    {u"SeIncreaseQuotaPrivilege", 5},
    {u"SeMachineAccountPrivilege", 6},
    {u"SeTcbPrivilege", 7},
    {u"SeSecurityPrivilege", 8},
    {u"SeTakeOwnershipPrivilege", 9},
    {u"SeLoadDriverPrivilege", 10},
    {u"SeSystemProfilePrivilege", 11},
    {u"SeSystemtimePrivilege", 12},
    {u"SeProfileSingleProcessPrivilege", 13},
    {u"SeIncreaseBasePriorityPrivilege", 14},
    {u"SeCreatePagefilePrivilege", 15},
    {u"SeCreatePermanentPrivilege", 16},
    {u"SeBackupPrivilege", 17},
    {u"SeRestorePrivilege", 18},
    {u"SeShutdownPrivilege", 19},
    {u"SeDebugPrivilege", 20},
    {u"SeAuditPrivilege", 21},
    {u"SeSystemEnvironmentPrivilege", 22},
    {u"SeChangeNotifyPrivilege", 23},
    {u"SeRemoteShutdownPrivilege", 24},
    {u"SeUndockPrivilege", 25},
    {u"SeSyncAgentPrivilege", 26},
    {u"SeEnableDelegationPrivilege", 27},
    {u"SeManageVolumePrivilege", 28},
    {u"SeImpersonatePrivilege", 29},
    {u"SeCreateGlobalPrivilege", 30},
    {u"SeTrustedCredManAccessPrivilege", 31},
    {u"SeRelabelPrivilege", 32},
    {u"SeIncreaseWorkingSetPrivilege", 33},
    {u"SeTimeZonePrivilege", 34},
    {u"SeCreateSymbolicLinkPrivilege", 35},
    {u"SeDelegateSessionUserImpersonatePrivilege", 36},
};

constexpr DWORD kAssignPrimaryToken = 3;
constexpr DWORD kShutdown = 19;
constexpr DWORD kChangeNotify = 23;
constexpr DWORD kImpersonate = 29;
constexpr DWORD kCreateGlobal = 30;

struct Privilege {
  DWORD Luid = 0;
  DWORD Attributes = 0;
};

struct TokenState {
  DWORD Integrity = sim::kIntegrityMedium;
  bool Virtualization = false;
  std::vector<Privilege> Privileges;
};

// What a user's token holds: the filtered set of a standard user, or the administrators' set
// of an elevated one.
std::vector<Privilege> PrivilegesFor(DWORD aIntegrity) {
  const DWORD on = SE_PRIVILEGE_ENABLED | SE_PRIVILEGE_ENABLED_BY_DEFAULT;
  if (aIntegrity < sim::kIntegrityHigh)
    return {{kShutdown, 0}, {kChangeNotify, on}, {25, 0}, {33, 0}, {34, 0}};
  std::vector<Privilege> p;
  for (DWORD luid : {5u, 8u, 9u, 10u, 11u, 12u, 13u, 14u, 15u, 17u, 18u, 19u, 20u, 22u, 23u, 24u, 25u, 28u, 29u, 30u,
                     33u, 34u, 35u, 36u})
    p.push_back({luid, (luid == kChangeNotify || luid == kImpersonate || luid == kCreateGlobal) ? on : 0});
  return p;
}

TokenState TokenFresh(DWORD aIntegrity, bool bVirtualization) {
  TokenState t;
  t.Integrity = aIntegrity;
  t.Virtualization = bVirtualization;
  t.Privileges = PrivilegesFor(aIntegrity);
  return t;
}

// The token of this process: one for the whole process, so that a privilege switched through
// one handle is seen through every other. Made anew when the process's level or its
// virtualization switch is changed (tests do both for a while).
struct OwnToken {
  std::mutex Lock;
  std::shared_ptr<TokenState> State;
};

OwnToken& Own() {
  static OwnToken* own = new OwnToken;
  return *own;
}

bool OwnVirtualization() {
  const char* v = std::getenv("WINSIM_VIRTUALIZATION");
  return v && std::strcmp(v, "1") == 0;
}

std::shared_ptr<TokenState> OwnTokenState() {
  const sim::ProcessRecord* self = sim::CurrentProcess();
  DWORD integrity = self ? self->Integrity : sim::kIntegrityMedium;
  OwnToken& o = Own();
  std::lock_guard<std::mutex> g(o.Lock);
  bool virtualization = OwnVirtualization();
  if (!o.State || o.State->Integrity != integrity || o.State->Virtualization != virtualization)
    o.State = std::make_shared<TokenState>(TokenFresh(integrity, virtualization));
  return o.State;
}

// Another process's environment tells whether its token virtualizes.
bool HostVirtualization(pid_t aHostPid) {
  if (aHostPid <= 0) return false;
  std::ifstream in("/proc/" + std::to_string(aHostPid) + "/environ", std::ios::binary);
  std::string env((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t start = 0;
  while (start < env.size()) {
    size_t end = env.find('\0', start);
    if (end == std::string::npos) end = env.size();
    if (env.compare(start, end - start, "WINSIM_VIRTUALIZATION=1") == 0) return true;
    start = end + 1;
  }
  return false;
}

class TokenObject : public sim::KernelObject {
 public:
  DWORD Access = 0;
  std::shared_ptr<TokenState> State;
  std::mutex* Lock = nullptr;  // guards State when it is this process's own token
  // This process's own token or a copy of it: a process may start others with it. Any other
  // token needs SeAssignPrimaryTokenPrivilege, which not even an elevated administrator holds.
  bool OwnDerived = false;
};

std::mutex gTokenLock;

// A process opened by OpenProcess: the access it was opened with decides what its token
// may be opened for.
class OpenedProcess : public sim::ProcessObject {
 public:
  DWORD Access = 0;
};

using sim::Fail;

DWORD OwnIntegrity() {
  const sim::ProcessRecord* self = sim::CurrentProcess();
  return self ? self->Integrity : sim::kIntegrityMedium;
}

// Rights that a process at a lower level gets on one at a higher level.
constexpr DWORD kUpwardRights = PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE;

bool NameEquals(const char16_t* a, const char16_t* b) {
  for (; *a && *b; ++a, ++b)
    if (sim::UpcaseChar(*a) != sim::UpcaseChar(*b)) return false;
  return *a == *b;
}

// The program a command line starts: its first argument, quoted or up to the first blank.
Text ImageOfCommandLine(const Text& aCommandLine, Text& aRest) {
  size_t i = 0;
  while (i < aCommandLine.size() && (aCommandLine[i] == u' ' || aCommandLine[i] == u'\t')) ++i;
  Text image;
  if (i < aCommandLine.size() && aCommandLine[i] == u'"') {
    size_t end = aCommandLine.find(u'"', i + 1);
    if (end == Text::npos) end = aCommandLine.size();
    image = aCommandLine.substr(i + 1, end - i - 1);
    i = end < aCommandLine.size() ? end + 1 : end;
  } else {
    size_t end = aCommandLine.find_first_of(u" \t", i);
    if (end == Text::npos) end = aCommandLine.size();
    image = aCommandLine.substr(i, end - i);
    i = end;
  }
  aRest = aCommandLine.substr(i);
  return image;
}

BOOL ProcessCreateWith(DWORD aIntegrity, bool bVirtualization, LPCWSTR lpApplicationName, LPWSTR lpCommandLine,
                       LPCWSTR lpCurrentDirectory, STARTUPINFOW* lpStartupInfo, PROCESS_INFORMATION* pi) {
  if (!lpStartupInfo || !pi || (!lpApplicationName && !lpCommandLine))
    return Fail(ERROR_INVALID_PARAMETER, FALSE);
  const std::string machine = sim::MachineFolderHost();
  if (!sim::CurrentProcess()) return Fail(21u, FALSE);
  Text commandLine = lpCommandLine ? Text(lpCommandLine) : Text();
  Text rest;
  Text image = ImageOfCommandLine(commandLine, rest);
  if (lpApplicationName) {
    image = lpApplicationName;
    rest = commandLine;
    ImageOfCommandLine(commandLine, rest);  // the first argument names the program, not a parameter
  }
  if (image.empty()) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
  // A name without an extension is looked for with ".exe", as Windows does.
  size_t slash = image.find_last_of(u"\\/");
  Text last = slash == Text::npos ? image : image.substr(slash + 1);
  if (last.find(u'.') == Text::npos) {
    Text withExe = image + u".exe";
    if (GetFileAttributesW(withExe.c_str()) != INVALID_FILE_ATTRIBUTES) image = withExe;
  }
  sim::StartRequest req;
  req.Image = image;
  req.CommandLine = commandLine.empty() ? Text() : commandLine;
  req.HostArguments = sim::CommandLineSplit(rest);
  req.CurrentDirectory = lpCurrentDirectory && *lpCurrentDirectory ? Text(lpCurrentDirectory) : Text();
  req.Integrity = aIntegrity;
  req.Virtualization = bVirtualization;
  sim::StartResult started = sim::ProcessStart(req);
  if (started.Error) return Fail(started.Error, FALSE);
  auto process = std::make_shared<sim::ProcessObject>();
  process->Machine = machine;
  process->Pid = started.Pid;
  // The main thread's handle: it ends with the process, which is all a waiter can tell.
  auto thread = std::make_shared<sim::ProcessObject>();
  thread->Machine = machine;
  thread->Pid = started.Pid;
  pi->hProcess = sim::HandleInsert(process);
  pi->hThread = sim::HandleInsert(thread);
  pi->dwProcessId = started.Pid;
  pi->dwThreadId = started.Pid + 1;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

}  // namespace

HANDLE OpenProcess(DWORD dwDesiredAccess, BOOL, DWORD dwProcessId) {
  if (!sim::CurrentProcess()) return Fail(21u, HANDLE(nullptr));
  const std::string machine = sim::MachineFolderHost();
  if (dwProcessId == 0) return Fail(ERROR_INVALID_PARAMETER, HANDLE(nullptr));
  auto s = sim::ProcessFind(machine, dwProcessId);
  if (!s) return Fail(ERROR_INVALID_PARAMETER, HANDLE(nullptr));
  DWORD target = dwProcessId == GetCurrentProcessId() ? OwnIntegrity() : s->Record.Integrity;
  if (target > OwnIntegrity() && (dwDesiredAccess & ~kUpwardRights) != 0)
    return Fail(ERROR_ACCESS_DENIED, HANDLE(nullptr));
  auto obj = std::make_shared<OpenedProcess>();
  obj->Machine = machine;
  obj->Pid = dwProcessId;
  obj->Access = dwDesiredAccess;
  return sim::HandleInsert(obj);
}

BOOL OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, HANDLE* TokenHandle) {
  if (!TokenHandle) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  *TokenHandle = nullptr;
  auto token = std::make_shared<TokenObject>();
  token->Access = DesiredAccess;
  DWORD pid = 0;
  if (ProcessHandle == GetCurrentProcess()) {
    pid = GetCurrentProcessId();
  } else {
    auto p = sim::HandleGetAs<sim::ProcessObject>(ProcessHandle);
    if (!p) return Fail(ERROR_INVALID_HANDLE, FALSE);
    auto opened = std::dynamic_pointer_cast<OpenedProcess>(p);
    if (opened && !(opened->Access & (PROCESS_QUERY_INFORMATION | PROCESS_QUERY_LIMITED_INFORMATION)))
      return Fail(ERROR_ACCESS_DENIED, FALSE);
    pid = p->Pid;
  }
  if (!sim::CurrentProcess()) return Fail(21u, FALSE);
  if (pid == GetCurrentProcessId()) {
    token->State = OwnTokenState();
    token->Lock = &Own().Lock;
    token->OwnDerived = true;
  } else {
    auto s = sim::ProcessFind(sim::MachineFolderHost(), pid);
    if (!s) return Fail(ERROR_INVALID_HANDLE, FALSE);
    // Another user's high token cannot be written from below.
    if (s->Record.Integrity > OwnIntegrity() && (DesiredAccess & ~(TOKEN_QUERY | TOKEN_QUERY_SOURCE)) != 0)
      return Fail(ERROR_ACCESS_DENIED, FALSE);
    token->State = std::make_shared<TokenState>(TokenFresh(s->Record.Integrity, HostVirtualization(s->HostPid)));
    token->Lock = &gTokenLock;
  }
  *TokenHandle = sim::HandleInsert(token);
  return TRUE;
}

BOOL GetTokenInformation(HANDLE TokenHandle, TOKEN_INFORMATION_CLASS TokenInformationClass, LPVOID TokenInformation,
                         DWORD TokenInformationLength, DWORD* ReturnLength) {
  auto token = sim::HandleGetAs<TokenObject>(TokenHandle);
  if (!token) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (!(token->Access & TOKEN_QUERY)) return Fail(ERROR_ACCESS_DENIED, FALSE);
  if (!ReturnLength) return Fail(ERROR_INVALID_PARAMETER, FALSE);  // Windows faults here
  std::lock_guard<std::mutex> g(*token->Lock);
  const TokenState& t = *token->State;
  auto* out = static_cast<BYTE*>(TokenInformation);
  switch (TokenInformationClass) {
    case TokenIntegrityLevel: {
      // The label and, after it, its SID: S-1-16-<level>.
      const DWORD sidSize = 8 + 4;
      const DWORD size = sizeof(TOKEN_MANDATORY_LABEL) + sidSize;
      *ReturnLength = size;
      if (!out || TokenInformationLength < size) return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
      BYTE* sid = out + sizeof(TOKEN_MANDATORY_LABEL);
      const BYTE head[8] = {1, 1, 0, 0, 0, 0, 0, 16};
      std::memcpy(sid, head, 8);
      std::memcpy(sid + 8, &t.Integrity, 4);
      TOKEN_MANDATORY_LABEL label;
      label.Label.Sid = sid;
      label.Label.Attributes = SE_GROUP_INTEGRITY | SE_GROUP_INTEGRITY_ENABLED;
      std::memcpy(out, &label, sizeof label);
      return TRUE;
    }
    case TokenVirtualizationEnabled:
    case TokenElevation: {
      *ReturnLength = sizeof(DWORD);
      if (!out || TokenInformationLength < sizeof(DWORD)) return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
      DWORD v = TokenInformationClass == TokenElevation ? (t.Integrity >= sim::kIntegrityHigh ? 1u : 0u)
                                                        : (t.Virtualization ? 1u : 0u);
      std::memcpy(out, &v, sizeof v);
      return TRUE;
    }
    case TokenPrivileges: {
      const DWORD n = static_cast<DWORD>(t.Privileges.size());
      const DWORD size = static_cast<DWORD>(sizeof(DWORD) + n * sizeof(LUID_AND_ATTRIBUTES));
      *ReturnLength = size;
      if (!out || TokenInformationLength < size) return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
      std::memcpy(out, &n, sizeof n);
      for (DWORD i = 0; i < n; ++i) {
        LUID_AND_ATTRIBUTES e{{t.Privileges[i].Luid, 0}, t.Privileges[i].Attributes};
        std::memcpy(out + sizeof(DWORD) + i * sizeof e, &e, sizeof e);
      }
      return TRUE;
    }
    default:
      return Fail(ERROR_INVALID_PARAMETER, FALSE);
  }
}

UCHAR* GetSidSubAuthorityCount(PSID pSid) {
  SetLastError(ERROR_SUCCESS);
  return static_cast<UCHAR*>(pSid) + 1;
}

DWORD* GetSidSubAuthority(PSID pSid, DWORD nSubAuthority) {
  SetLastError(ERROR_SUCCESS);
  return reinterpret_cast<DWORD*>(static_cast<BYTE*>(pSid) + 8 + 4 * nSubAuthority);
}

BOOL DuplicateTokenEx(HANDLE hExistingToken, DWORD dwDesiredAccess, LPSECURITY_ATTRIBUTES,
                      SECURITY_IMPERSONATION_LEVEL ImpersonationLevel, TOKEN_TYPE TokenType, HANDLE* phNewToken) {
  if (!phNewToken) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  *phNewToken = nullptr;
  auto token = sim::HandleGetAs<TokenObject>(hExistingToken);
  if (!token) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (!(token->Access & TOKEN_DUPLICATE)) return Fail(ERROR_ACCESS_DENIED, FALSE);
  if (ImpersonationLevel < SecurityAnonymous || ImpersonationLevel > SecurityDelegation ||
      (TokenType != TokenPrimary && TokenType != TokenImpersonation))
    return Fail(ERROR_INVALID_PARAMETER, FALSE);
  auto copy = std::make_shared<TokenObject>();
  copy->Access = dwDesiredAccess;
  {
    std::lock_guard<std::mutex> g(*token->Lock);
    copy->State = std::make_shared<TokenState>(*token->State);
  }
  copy->Lock = &gTokenLock;
  copy->OwnDerived = token->OwnDerived;
  *phNewToken = sim::HandleInsert(copy);
  return TRUE;
}

BOOL AdjustTokenPrivileges(HANDLE TokenHandle, BOOL DisableAllPrivileges, TOKEN_PRIVILEGES* NewState,
                           DWORD BufferLength, TOKEN_PRIVILEGES* PreviousState, DWORD* ReturnLength) {
  auto token = sim::HandleGetAs<TokenObject>(TokenHandle);
  if (!token) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (!(token->Access & TOKEN_ADJUST_PRIVILEGES) || (PreviousState && !(token->Access & TOKEN_QUERY)))
    return Fail(ERROR_ACCESS_DENIED, FALSE);
  if (!DisableAllPrivileges && !NewState) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  std::lock_guard<std::mutex> g(*token->Lock);
  std::vector<Privilege>& held = token->State->Privileges;
  std::vector<Privilege> previous;
  bool allAssigned = true;
  if (DisableAllPrivileges) {
    for (auto& p : held) {
      if (p.Attributes & SE_PRIVILEGE_ENABLED) previous.push_back(p);
      p.Attributes &= ~SE_PRIVILEGE_ENABLED;
    }
  } else {
    for (DWORD i = 0; i < NewState->PrivilegeCount; ++i) {
      // The entries follow one another past the declared one-entry array.
      LUID_AND_ATTRIBUTES e;
      std::memcpy(&e, reinterpret_cast<BYTE*>(NewState) + sizeof(DWORD) + i * sizeof e, sizeof e);
      auto it = held.begin();
      while (it != held.end() && !(it->Luid == e.Luid.LowPart && e.Luid.HighPart == 0)) ++it;
      if (it == held.end()) {
        allAssigned = false;
        continue;
      }
      previous.push_back(*it);
      if (e.Attributes & SE_PRIVILEGE_REMOVED)
        held.erase(it);
      else
        it->Attributes = (it->Attributes & ~SE_PRIVILEGE_ENABLED) | (e.Attributes & SE_PRIVILEGE_ENABLED);
    }
  }
  if (PreviousState) {
    const DWORD size = static_cast<DWORD>(sizeof(DWORD) + std::max<size_t>(previous.size(), 1) * sizeof(LUID_AND_ATTRIBUTES));
    if (ReturnLength) *ReturnLength = size;
    if (BufferLength < size) return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
    PreviousState->PrivilegeCount = static_cast<DWORD>(previous.size());
    for (size_t i = 0; i < previous.size(); ++i) {
      LUID_AND_ATTRIBUTES e{{previous[i].Luid, 0}, previous[i].Attributes};
      std::memcpy(reinterpret_cast<BYTE*>(PreviousState) + sizeof(DWORD) + i * sizeof e, &e, sizeof e);
    }
  }
  SetLastError(allAssigned ? ERROR_SUCCESS : ERROR_NOT_ALL_ASSIGNED);
  return TRUE;
}

BOOL LookupPrivilegeValueW(LPCWSTR lpSystemName, LPCWSTR lpName, LUID* lpLuid) {
  if (!lpName || !lpLuid) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  if (lpSystemName && *lpSystemName) return Fail(ERROR_NOT_SUPPORTED, FALSE);  // no other machines here
  for (const auto& p : kPrivileges) {
    if (NameEquals(p.Name, lpName)) {
      lpLuid->LowPart = p.Luid;
      lpLuid->HighPart = 0;
      return TRUE;
    }
  }
  return Fail(ERROR_NO_SUCH_PRIVILEGE, FALSE);
}

// The simulated start hands on the virtualization switch only: an environment block, the
// creation flags and the startup information do not change what a simulated process sees.
BOOL CreateProcessW(LPCWSTR lpApplicationName, LPWSTR lpCommandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                    BOOL, DWORD, LPVOID, LPCWSTR lpCurrentDirectory, STARTUPINFOW* lpStartupInfo,
                    PROCESS_INFORMATION* lpProcessInformation) {
  auto own = OwnTokenState();
  return ProcessCreateWith(own->Integrity, own->Virtualization, lpApplicationName, lpCommandLine, lpCurrentDirectory,
                           lpStartupInfo, lpProcessInformation);
}

BOOL CreateProcessAsUserW(HANDLE hToken, LPCWSTR lpApplicationName, LPWSTR lpCommandLine, LPSECURITY_ATTRIBUTES,
                          LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID, LPCWSTR lpCurrentDirectory,
                          STARTUPINFOW* lpStartupInfo, PROCESS_INFORMATION* lpProcessInformation) {
  auto token = sim::HandleGetAs<TokenObject>(hToken);
  if (!token) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if ((token->Access & (TOKEN_ASSIGN_PRIMARY | TOKEN_QUERY | TOKEN_DUPLICATE)) !=
      (TOKEN_ASSIGN_PRIMARY | TOKEN_QUERY | TOKEN_DUPLICATE))
    return Fail(ERROR_ACCESS_DENIED, FALSE);
  if (!token->OwnDerived) {
    auto own = OwnTokenState();
    bool held = false;
    {
      std::lock_guard<std::mutex> g(Own().Lock);
      for (const auto& p : own->Privileges)
        if (p.Luid == kAssignPrimaryToken) held = true;
    }
    if (!held) return Fail(ERROR_PRIVILEGE_NOT_HELD, FALSE);
  }
  DWORD integrity;
  bool virtualization;
  {
    std::lock_guard<std::mutex> g(*token->Lock);
    integrity = token->State->Integrity;
    virtualization = token->State->Virtualization;
  }
  return ProcessCreateWith(integrity, virtualization, lpApplicationName, lpCommandLine, lpCurrentDirectory,
                           lpStartupInfo, lpProcessInformation);
}

BOOL ExitWindowsEx(UINT uFlags, DWORD) {
  if (!sim::CurrentProcess()) return Fail(21u, FALSE);
  auto own = OwnTokenState();
  bool enabled = false;
  {
    std::lock_guard<std::mutex> g(Own().Lock);
    for (const auto& p : own->Privileges)
      if (p.Luid == kShutdown && (p.Attributes & SE_PRIVILEGE_ENABLED)) enabled = true;
  }
  if (!enabled) return Fail(ERROR_PRIVILEGE_NOT_HELD, FALSE);
  sim::EventAppend(sim::MachineFolderHost(), "{\"type\":\"reboot-request\"}");
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

}  // namespace win
