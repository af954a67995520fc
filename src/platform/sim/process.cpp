// Processes of the simulated machine as the caller sees them: starting programs through
// the shell (with the UAC prompt of "runas"), process handles, exit codes, COM start-up.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

#include "platform/sim/handles.h"
#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "platform/sim/tables.h"
#include "platform/utf.h"
#include "platform/win32api.h"
#include "platform/sim/threadcycles.h"

namespace sim {

bool ProcessObject::Exited(win::DWORD* aExitCode) const {
  auto s = ProcessFind(Machine, Pid);
  if (!s) {
    if (aExitCode) *aExitCode = 1;
    return true;
  }
  if (aExitCode) *aExitCode = s->ExitCode;
  return s->Exited;
}

bool ProcessObject::WaitExit(win::DWORD aMilliseconds) const {
  auto start = std::chrono::steady_clock::now();
  auto pause = std::chrono::microseconds(500);
  for (;;) {
    if (Exited(nullptr)) return true;
    if (aMilliseconds != win::INFINITE &&
        std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(aMilliseconds))
      return false;
    {
      sim::TThreadBlocked blocked;
      std::this_thread::sleep_for(pause);
    }
    if (pause < std::chrono::milliseconds(10)) pause *= 2;
  }
}

namespace {

bool IsHostProgram(const std::string& aHost) {
  std::ifstream in(aHost, std::ios::binary);
  char magic[4] = {};
  in.read(magic, 4);
  return in.gcount() == 4 && std::memcmp(magic, "\x7f" "ELF", 4) == 0;
}

Text FolderOf(const Text& aPath) {
  size_t p = aPath.find_last_of(u"\\:");
  return p == Text::npos ? Text() : aPath.substr(0, p + 1);
}

}  // namespace

StartResult ProcessStart(const StartRequest& aRequest) {
  StartResult result;
  const ProcessRecord* self = CurrentProcess();
  if (!self) {
    result.Error = 21;  // ERROR_NOT_READY: not a process of a machine
    return result;
  }
  PathContext context = CurrentPathContext();
  win::WCHAR cur[win::MAX_PATH + 1];
  win::DWORD n = win::GetCurrentDirectoryW(win::MAX_PATH + 1, cur);
  if (n > 0 && n <= win::MAX_PATH) context.CurrentDirectory = Text(cur, n);
  ResolvedPath image = ResolvePath(context, aRequest.Image);
  if (image.Error) {
    result.Error = image.Error;
    return result;
  }
  if (!image.Exists || image.IsDirectory) {
    result.Error = win::ERROR_FILE_NOT_FOUND;
    return result;
  }
  ProcessRecord record;
  record.Parent = self->Pid;
  record.Integrity = aRequest.Integrity;
  record.Bits = self->Bits;
  record.Image = TextToUtf8(image.WinPath);
  Text commandLine = aRequest.CommandLine.empty() ? u"\"" + image.WinPath + u"\"" : aRequest.CommandLine;
  record.CommandLine = TextToUtf8(commandLine);
  Text directory = aRequest.CurrentDirectory.empty() ? FolderOf(image.WinPath) : aRequest.CurrentDirectory;
  record.CurrentDirectory = TextToUtf8(directory);

  // A host program placed in the machine really runs; any other file is recorded as
  // started and ends at once.
  if (!IsHostProgram(image.Host)) {
    result.Pid = ProcessRecordOnly(context.Machine, record, 0u);
    return result;
  }
  SpawnRequest spawn;
  spawn.Record = record;
  spawn.HostExecutable = image.Host;
  spawn.Arguments = aRequest.HostArguments;
  if (aRequest.Virtualization) spawn.ExtraEnvironment.push_back("WINSIM_VIRTUALIZATION=1");
  result.Pid = ProcessSpawn(context.Machine, spawn, true).Pid;
  return result;
}

std::vector<std::string> CommandLineSplit(const Text& aArguments) {
  // The rules programs use: blanks separate, quotes group, 2n backslashes before a quote
  // are n backslashes, 2n+1 are n and a literal quote.
  std::vector<std::string> out;
  std::string s = TextToUtf8(aArguments);
  size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    if (i >= s.size()) break;
    std::string arg;
    bool quoted = false;
    while (i < s.size() && (quoted || (s[i] != ' ' && s[i] != '\t'))) {
      if (s[i] == '\\') {
        size_t k = i;
        while (k < s.size() && s[k] == '\\') ++k;
        size_t count = k - i;
        if (k < s.size() && s[k] == '"') {
          arg.append(count / 2, '\\');
          if (count % 2) {
            arg += '"';
            i = k + 1;
          } else {
            i = k;
          }
        } else {
          arg.append(count, '\\');
          i = k;
        }
      } else if (s[i] == '"') {
        quoted = !quoted;
        ++i;
      } else {
        arg += s[i++];
      }
    }
    out.push_back(arg);
  }
  return out;
}

}  // namespace sim

namespace win {

namespace {

thread_local int tComCount = 0;
thread_local DWORD tComMode = 0;

}  // namespace

HRESULT CoInitializeEx(LPVOID, DWORD dwCoInit) {
  DWORD mode = dwCoInit & COINIT_APARTMENTTHREADED;
  if (tComCount > 0 && mode != tComMode) return RPC_E_CHANGED_MODE;
  tComMode = mode;
  return tComCount++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize() {
  if (tComCount > 0) --tComCount;
}

BOOL ShellExecuteExW(SHELLEXECUTEINFOW* p) {
  if (!p || p->cbSize != sizeof(SHELLEXECUTEINFOW) || !p->lpFile) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  p->hProcess = nullptr;
  const sim::ProcessRecord* self = sim::CurrentProcess();
  if (!self) {
    SetLastError(21);
    return FALSE;
  }
  Text verb = p->lpVerb ? Text(p->lpVerb) : Text();
  for (auto& c : verb) c = sim::UpcaseChar(c);
  bool runas = verb == u"RUNAS";
  if (!verb.empty() && verb != u"OPEN" && !runas) {
    SetLastError(ERROR_NO_ASSOCIATION);
    return FALSE;
  }
  Text file = p->lpFile;
  Text parameters = p->lpParameters ? Text(p->lpParameters) : Text();
  const std::string machine = sim::MachineFolderHost();

  // Missing files fail before any prompt, as the shell checks the file first.
  sim::PathContext context = sim::CurrentPathContext();
  WCHAR cur[MAX_PATH + 1];
  DWORD n = GetCurrentDirectoryW(MAX_PATH + 1, cur);
  if (n > 0 && n <= MAX_PATH) context.CurrentDirectory = Text(cur, n);
  sim::ResolvedPath image = sim::ResolvePath(context, file);
  if (image.Error || !image.Exists || image.IsDirectory) {
    SetLastError(image.Error == ERROR_PATH_NOT_FOUND ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND);
    return FALSE;
  }

  DWORD integrity = self->Integrity;
  if (runas) {
    if (self->Integrity < sim::kIntegrityHigh) {
      // The consent prompt, answered from the machine's user script; no answer left: refused.
      auto answer = sim::AnswerTake(machine, "uac");
      bool accepted = answer && *answer == "accept";
      sim::EventAppend(machine, "{\"type\":\"uac\",\"image\":" + sim::JsonEscape(TextToUtf8(image.WinPath)) +
                                    ",\"parameters\":" + sim::JsonEscape(TextToUtf8(parameters)) +
                                    ",\"answer\":\"" + (accepted ? "accept" : "refuse") + "\"}");
      if (!accepted) {
        SetLastError(ERROR_CANCELLED);
        return FALSE;
      }
    }
    integrity = std::max<DWORD>(self->Integrity, sim::kIntegrityHigh);
  }

  sim::StartRequest req;
  req.Image = image.WinPath;
  req.CommandLine = u"\"" + image.WinPath + u"\"" + (parameters.empty() ? Text() : u" " + parameters);
  req.HostArguments = sim::CommandLineSplit(parameters);
  req.CurrentDirectory = p->lpDirectory && *p->lpDirectory ? Text(p->lpDirectory) : Text();
  req.Integrity = integrity;
  sim::StartResult started = sim::ProcessStart(req);
  if (started.Error) {
    SetLastError(started.Error);
    return FALSE;
  }
  p->hInstApp = reinterpret_cast<HINSTANCE>(static_cast<ULONG_PTR>(33));  // above 32: success
  if (p->fMask & SEE_MASK_NOCLOSEPROCESS) {
    auto obj = std::make_shared<sim::ProcessObject>();
    obj->Machine = machine;
    obj->Pid = started.Pid;
    p->hProcess = sim::HandleInsert(obj);
  }
  return TRUE;
}

BOOL GetExitCodeProcess(HANDLE hProcess, DWORD* lpExitCode) {
  if (hProcess == GetCurrentProcess()) {
    if (lpExitCode) *lpExitCode = STILL_ACTIVE;
    return TRUE;
  }
  auto obj = sim::HandleGetAs<sim::ProcessObject>(hProcess);
  if (!obj || !lpExitCode) {
    SetLastError(obj ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    return FALSE;
  }
  DWORD code = STILL_ACTIVE;
  *lpExitCode = obj->Exited(&code) ? code : STILL_ACTIVE;
  return TRUE;
}

DWORD GetProcessId(HANDLE Process) {
  if (Process == GetCurrentProcess()) return GetCurrentProcessId();
  auto obj = sim::HandleGetAs<sim::ProcessObject>(Process);
  if (!obj) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  return obj->Pid;
}

BOOL TerminateProcess(HANDLE hProcess, UINT uExitCode) {
  auto obj = sim::HandleGetAs<sim::ProcessObject>(hProcess);
  if (!obj) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  auto s = sim::ProcessFind(obj->Machine, obj->Pid);
  // A process that has ended cannot be terminated (Windows answers ERROR_ACCESS_DENIED).
  if (!s || s->Exited) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  // The first exit recorded is the one reported, so the code is recorded before the kill;
  // the monitor's later record of the signal is then ignored.
  const std::string pid = std::to_string(obj->Pid), code = std::to_string(uExitCode);
  sim::TableLineAppend(sim::StatePath(obj->Machine, "exits"), pid + " " + code);
  sim::EventAppend(obj->Machine, "{\"type\":\"process-exit\",\"pid\":" + pid + ",\"exitCode\":" + code + "}");
  if (s->HostPid > 0) ::kill(s->HostPid, SIGKILL);
  return TRUE;
}

}  // namespace win
