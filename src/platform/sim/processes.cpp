// The machine's processes: the process table, and starting host programs as processes under
// a monitor that records how they end.
#include "platform/sim/processes.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>

#include "platform/sim/machine.h"
#include "platform/sim/statefiles.h"
#include "platform/sim/tables.h"

namespace sim {

namespace {

win::DWORD PidAllocate(const std::string& aMachine) {
  // Called with the machine lock held. Windows process ids are multiples of 4.
  std::string path = StatePath(aMachine, "nextpid");
  win::DWORD pid = NextPidParse(StateFileRead(path), path);
  if (pid > 0xFFFFFFFFu - 4) throw MachineError("the machine has used up its process ids (" + path + ")");
  FileReplaceAtomically(path, std::to_string(pid + 4) + "\n");
  return pid;
}

std::string RecordLine(const ProcessRecord& r) {
  return std::to_string(r.Pid) + "\t" + std::to_string(r.Parent) + "\t" + std::to_string(r.Integrity) + "\t" +
         std::to_string(r.Bits) + "\t" + TableFieldEscape(r.Image) + "\t" + TableFieldEscape(r.CommandLine) + "\t" +
         TableFieldEscape(r.CurrentDirectory);
}

std::string StartEvent(const ProcessRecord& r) {
  return "{\"type\":\"process-start\",\"pid\":" + std::to_string(r.Pid) + ",\"parent\":" + std::to_string(r.Parent) +
         ",\"image\":" + JsonEscape(r.Image) + ",\"commandLine\":" + JsonEscape(r.CommandLine) +
         ",\"integrity\":" + JsonEscape(IntegrityName(r.Integrity)) + ",\"bits\":" + std::to_string(r.Bits) + "}";
}

}  // namespace

win::DWORD ProcessRecordNew(const std::string& aMachine, ProcessRecord& r) {
  MachineLock lock(aMachine);
  r.Pid = PidAllocate(aMachine);
  TableLineAppend(StatePath(aMachine, "processes"), RecordLine(r));
  EventAppend(aMachine, StartEvent(r));
  return r.Pid;
}

namespace {

bool HostPidAlive(pid_t p) {
  if (p <= 0) return false;
  if (::kill(p, 0) == 0) {
    // A zombie still answers; it has ended all the same.
    std::ifstream st("/proc/" + std::to_string(p) + "/stat");
    std::string s;
    std::getline(st, s);
    auto close = s.rfind(')');
    if (close != std::string::npos && close + 2 < s.size() && s[close + 2] == 'Z') return false;
    return true;
  }
  return errno == EPERM;
}

// Exit codes as Windows reports them for a process that ended by a signal.
win::DWORD ExitCodeFromStatus(int status) {
  if (WIFEXITED(status)) return static_cast<win::DWORD>(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) {
    switch (WTERMSIG(status)) {
      case SIGSEGV: return 0xC0000005;  // access violation
      case SIGABRT: return 3;           // abort()
      case SIGFPE: return 0xC0000094;
      case SIGILL: return 0xC000001D;
      default: return 1;  // terminated from outside, as TerminateProcess(h, 1)
    }
  }
  return 1;
}

// Async-signal-safe pieces for the monitor, which runs between fork and exit.
size_t FormatUnsigned(char* out, unsigned long long v) {
  char tmp[24];
  size_t n = 0;
  do {
    tmp[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v);
  for (size_t i = 0; i < n; ++i) out[i] = tmp[n - 1 - i];
  return n;
}

void SafeAppend(const char* aPath, const char* aData, size_t aLen) {
  int fd = ::open(aPath, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  while (aLen > 0) {
    ssize_t n = ::write(fd, aData, aLen);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    aData += n;
    aLen -= static_cast<size_t>(n);
  }
  ::close(fd);
}

}  // namespace

std::vector<ProcessState> ProcessTableRead(const std::string& aMachine) {
  std::vector<ProcessState> out;
  std::map<win::DWORD, size_t> index;
  std::string processesPath = StatePath(aMachine, "processes");
  for (auto& r : ProcessesParse(StateFileRead(processesPath), processesPath)) {
    ProcessState s;
    s.Record = std::move(r);
    index[s.Record.Pid] = out.size();
    out.push_back(std::move(s));
  }
  std::map<win::DWORD, pid_t> monitors;
  std::string hostpidsPath = StatePath(aMachine, "hostpids");
  for (const auto& row : HostPidsParse(StateFileRead(hostpidsPath), hostpidsPath)) {
    if (!index.count(row.Pid)) continue;
    out[index[row.Pid]].HostPid = row.Host;
    if (row.Monitor) monitors[row.Pid] = row.Monitor;
  }
  std::string exitsPath = StatePath(aMachine, "exits");
  for (const auto& row : ExitsParse(StateFileRead(exitsPath), exitsPath)) {
    if (!index.count(row.Pid)) continue;
    auto& s = out[index[row.Pid]];
    if (s.Exited) continue;
    s.Exited = true;
    s.ExitCode = row.ExitCode;
  }
  // A host process that is gone without a recorded exit was killed with its monitor
  // (a reboot, a time-out): it has ended.
  // While its monitor lives, the exit code is still on its way.
  for (auto& s : out) {
    auto m = monitors.find(s.Record.Pid);
    if (m != monitors.end() && HostPidAlive(m->second)) continue;
    if (!s.Exited && s.HostPid > 0 && !HostPidAlive(s.HostPid)) {
      s.Exited = true;
      s.ExitCode = 1;
    }
  }
  return out;
}

std::optional<ProcessState> ProcessFind(const std::string& aMachine, win::DWORD aPid) {
  for (auto& s : ProcessTableRead(aMachine)) {
    if (s.Record.Pid == aPid) return s;
  }
  return std::nullopt;
}

win::DWORD ShellProcessId(const std::string& aMachine) {
  for (const auto& s : ProcessTableRead(aMachine)) {
    if (s.Record.Parent == 0) return s.Record.Pid;
  }
  return 0;
}

win::DWORD ProcessRecordOnly(const std::string& aMachine, ProcessRecord aRecord, std::optional<win::DWORD> aExitCode) {
  win::DWORD pid = ProcessRecordNew(aMachine, aRecord);
  if (aExitCode) {
    TableLineAppend(StatePath(aMachine, "exits"), std::to_string(pid) + " " + std::to_string(*aExitCode));
    EventAppend(aMachine, "{\"type\":\"process-exit\",\"pid\":" + std::to_string(pid) +
                              ",\"exitCode\":" + std::to_string(*aExitCode) + "}");
  }
  return pid;
}

std::string CommandLineQuote(const std::string& a) {
  if (!a.empty() && a.find_first_of(" \t\"") == std::string::npos) return a;
  // The rules programs use to split: backslashes are literal unless they precede a quote.
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : a) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      out.append(backslashes * 2 + 1, '\\');
    } else {
      out.append(backslashes, '\\');
    }
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');
  return out + "\"";
}

SpawnResult ProcessSpawn(const std::string& aMachine, SpawnRequest aRequest, bool bDetach) {
  SpawnResult result;
  result.Pid = ProcessRecordNew(aMachine, aRequest.Record);
  if (aRequest.HostExecutable.empty()) return result;

  // Everything the monitor needs is prepared before fork: after it, only system calls.
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    if (std::strncmp(*e, "WINSIM_", 7) != 0) env.emplace_back(*e);
  }
  env.push_back("WINSIM_MACHINE=" + aMachine);
  env.push_back("WINSIM_PID=" + std::to_string(result.Pid));
  for (auto& e : aRequest.ExtraEnvironment) env.push_back(e);
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> args;
  args.push_back(aRequest.HostExecutable);
  for (auto& a : aRequest.Arguments) args.push_back(a);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::string exitsPath = StatePath(aMachine, "exits");
  std::string hostpidsPath = StatePath(aMachine, "hostpids");
  std::string eventsPath = aMachine + "/events.jsonl";
  std::string pidText = std::to_string(result.Pid);
  std::string exitEventHead = "{\"type\":\"process-exit\",\"pid\":" + pidText + ",\"exitCode\":";
  char line[256];
  const bool newGroup = aRequest.NewProcessGroup;

  pid_t outer = ::fork();
  if (outer < 0) throw MachineError(std::string("fork: ") + std::strerror(errno));
  if (outer == 0) {
    if (bDetach) {
      // The monitor is handed to init, so that the starting process need not reap it.
      pid_t again = ::fork();
      if (again != 0) ::_exit(again < 0 ? 1 : 0);
    }
    pid_t child = ::fork();
    if (child < 0) ::_exit(1);
    if (child == 0) {
      if (newGroup) ::setpgid(0, 0);
      ::execve(argv[0], argv.data(), envp.data());
      ::_exit(127);
    }
    // Both sides set the group, so that it is in place before the host pid is recorded.
    if (newGroup) ::setpgid(child, child);
    size_t n = 0;
    std::memcpy(line, pidText.data(), pidText.size());
    n = pidText.size();
    line[n++] = ' ';
    n += FormatUnsigned(line + n, static_cast<unsigned long long>(child));
    line[n++] = ' ';
    n += FormatUnsigned(line + n, static_cast<unsigned long long>(::getpid()));
    line[n++] = '\n';
    SafeAppend(hostpidsPath.c_str(), line, n);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    unsigned long long code = ExitCodeFromStatus(status);
    n = 0;
    std::memcpy(line, pidText.data(), pidText.size());
    n = pidText.size();
    line[n++] = ' ';
    n += FormatUnsigned(line + n, code);
    line[n++] = '\n';
    SafeAppend(exitsPath.c_str(), line, n);
    std::string& head = exitEventHead;  // prepared before fork
    n = head.size();
    std::memcpy(line, head.data(), n);
    n += FormatUnsigned(line + n, code);
    line[n++] = '}';
    line[n++] = '\n';
    SafeAppend(eventsPath.c_str(), line, n);
    ::_exit(0);
  }
  if (bDetach) {
    int status = 0;
    while (::waitpid(outer, &status, 0) < 0 && errno == EINTR) {
    }
  } else {
    result.MonitorPid = outer;
  }
  return result;
}

}  // namespace sim
