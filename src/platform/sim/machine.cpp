// The simulated machine: its folder, shared tables, event log, processes and names.
#include "platform/sim/machine.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

#include "platform/sim/registry.h"
#include "platform/sim/restable.h"
#include "platform/utf.h"

namespace fs = std::filesystem;

namespace sim {

namespace {

const char* const kConfigFile = "machine.ini";
const char* const kFormatLine = "format=orvanta-winsim-1";

std::string StatePath(const std::string& aMachine, const char* aName) {
  return aMachine + "/state/" + aName;
}

// Tables are text files of tab-separated fields; fields escape \, tab and line ends.
std::string FieldEscape(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  return out;
}

std::string FieldUnescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      char n = s[++i];
      out += n == 't' ? '\t' : n == 'n' ? '\n' : n == 'r' ? '\r' : n;
    } else {
      out += s[i];
    }
  }
  return out;
}

std::vector<std::string> SplitFields(const std::string& aLine) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    size_t tab = aLine.find('\t', start);
    out.push_back(FieldUnescape(aLine.substr(start, tab == std::string::npos ? std::string::npos : tab - start)));
    if (tab == std::string::npos) break;
    start = tab + 1;
  }
  return out;
}

void AppendLine(const std::string& aPath, const std::string& aLine) {
  int fd = ::open(aPath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) throw MachineError("cannot write " + aPath + ": " + std::strerror(errno));
  std::string line = aLine + "\n";
  const char* p = line.data();
  size_t left = line.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      throw MachineError("cannot write " + aPath + ": " + std::strerror(errno));
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  ::close(fd);
}

std::vector<std::string> ReadLines(const std::string& aPath) {
  std::vector<std::string> lines;
  std::ifstream in(aPath);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

void WriteFileAll(const std::string& aPath, const std::string& aData) {
  std::ofstream out(aPath, std::ios::binary | std::ios::trunc);
  out << aData;
  if (!out) throw MachineError("cannot write " + aPath);
}

}  // namespace

std::string TableFieldEscape(const std::string& aField) { return FieldEscape(aField); }
std::vector<std::string> TableFieldsSplit(const std::string& aLine) { return SplitFields(aLine); }
void FileReplaceAtomically(const std::string& aPath, const std::string& aData) {
  std::string tmp = aPath + ".new";
  WriteFileAll(tmp, aData);
  if (::rename(tmp.c_str(), aPath.c_str()) != 0) throw MachineError("cannot replace " + aPath);
}

// ---- integrity names ----------------------------------------------------------------------

std::optional<win::DWORD> IntegrityFromName(const std::string& aName) {
  if (aName == "low") return kIntegrityLow;
  if (aName == "medium") return kIntegrityMedium;
  if (aName == "high") return kIntegrityHigh;
  if (aName == "system") return kIntegritySystem;
  return std::nullopt;
}

std::string IntegrityName(win::DWORD aLevel) {
  if (aLevel >= kIntegritySystem) return "system";
  if (aLevel >= kIntegrityHigh) return "high";
  if (aLevel >= kIntegrityMedium) return "medium";
  return "low";
}

// ---- machine folder -----------------------------------------------------------------------

std::string DriveHostFolder(const std::string& aMachine, char aDrive) {
  return aMachine + "/drives/" + static_cast<char>(std::toupper(static_cast<unsigned char>(aDrive)));
}

MachineConfig MachineConfigRead(const std::string& aFolder) {
  std::ifstream in(aFolder + "/" + kConfigFile);
  if (!in) throw MachineError("not a machine folder: " + aFolder + " (no " + kConfigFile + ")");
  std::string line;
  MachineConfig c;
  bool format = false;
  std::map<std::string, std::string> values;
  while (std::getline(in, line)) {
    if (line == kFormatLine) {
      format = true;
      continue;
    }
    auto eq = line.find('=');
    if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
  }
  if (!format) throw MachineError("damaged machine folder: " + aFolder + " (" + kConfigFile + " has no format line)");
  try {
    std::string w = values.at("windows");
    auto dot = w.find('.');
    c.WindowsMajor = std::stoi(w.substr(0, dot));
    c.WindowsMinor = dot == std::string::npos ? 0 : std::stoi(w.substr(dot + 1));
    c.Bits = std::stoi(values.at("bits"));
    c.ComputerName = values.at("computer");
  } catch (const std::exception&) {
    throw MachineError("damaged machine folder: " + aFolder + " (" + kConfigFile + " is incomplete)");
  }
  if (c.Bits != 32 && c.Bits != 64) throw MachineError("damaged machine folder: " + aFolder + " (bits)");
  for (const char* d : {"drives/C", "state"}) {
    if (!fs::is_directory(aFolder + "/" + d))
      throw MachineError("damaged machine folder: " + aFolder + " (" + d + " missing)");
  }
  return c;
}

void MachineCreate(const std::string& aFolder, const MachineConfig& aConfig) {
  if (aConfig.Bits != 32 && aConfig.Bits != 64) throw MachineError("bits must be 32 or 64");
  if (aConfig.WindowsMajor < 5 || aConfig.WindowsMajor > 99 || aConfig.WindowsMinor < 0 || aConfig.WindowsMinor > 99)
    throw MachineError("unknown Windows version");
  if (aConfig.ComputerName.empty() || aConfig.ComputerName.size() > 15 ||
      aConfig.ComputerName.find_first_of(" \t\\/:*?\"<>|") != std::string::npos)
    throw MachineError("a computer name has 1 to 15 characters and no spaces or \\/:*?\"<>|");
  std::error_code ec;
  fs::path target = fs::absolute(aFolder);
  if (fs::exists(target, ec) && !(fs::is_directory(target, ec) && fs::is_empty(target, ec)))
    throw MachineError("will not create a machine in " + aFolder + ": it exists and is not an empty folder");
  fs::path parent = target.parent_path();
  if (!fs::is_directory(parent, ec)) throw MachineError("folder " + parent.string() + " does not exist");

  // Built aside, then renamed into place: a machine folder is complete or absent.
  std::string tmpl = (parent / (".winsim-new-XXXXXX")).string();
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back(0);
  if (!::mkdtemp(buf.data())) throw MachineError("cannot create a folder in " + parent.string());
  std::string tmp(buf.data());
  try {
    std::string c = tmp + "/drives/C";
    auto dir = [&](const std::string& winRel) {
      std::string p = c;
      if (!winRel.empty()) p += "/" + winRel;
      fs::create_directories(p);
      HostAttributesSet(p, win::FILE_ATTRIBUTE_DIRECTORY);
    };
    dir("");
    for (const char* d : {"Windows", "Windows/System32", "Windows/System32/drivers", "Program Files", "ProgramData",
                          "Users", "Users/User", "Users/User/Downloads", "Users/User/Desktop", "Users/User/AppData",
                          "Users/User/AppData/Local", "Users/User/AppData/Local/Temp", "Users/User/AppData/Roaming"}) {
      dir(d);
    }
    if (aConfig.Bits == 64) {
      dir("Windows/SysWOW64");
      dir("Windows/SysWOW64/drivers");
      dir("Program Files (x86)");
    }
    fs::create_directories(tmp + "/state");
    // The system's own files: shell32.dll carries the Windows version in its version resource.
    std::vector<std::string> systemFolders = {"Windows/System32"};
    if (aConfig.Bits == 64) systemFolders.push_back("Windows/SysWOW64");
    for (const auto& sf : systemFolders) {
      std::string stub = "MZ simulated system library\n";
      ResourceTable table;
      table.Add(ResourceId(16), ResourceId(1), 0x0409,
                VersionResourceBuild(static_cast<win::WORD>(aConfig.WindowsMajor), static_cast<win::WORD>(aConfig.WindowsMinor),
                                     19041, 1, u"Windows Shell Common Dll", true));
      std::string path = c + "/" + sf + "/shell32.dll";
      WriteFileAll(path, stub);
      table.AppendTo(path);
      HostAttributesSet(path, win::FILE_ATTRIBUTE_ARCHIVE);
      std::string explorer = c + "/Windows/explorer.exe";
      if (!fs::exists(explorer)) {
        WriteFileAll(explorer, "MZ simulated desktop shell\n");
        HostAttributesSet(explorer, win::FILE_ATTRIBUTE_ARCHIVE);
      }
    }
    std::ostringstream ini;
    ini << kFormatLine << "\n"
        << "windows=" << aConfig.WindowsMajor << "." << aConfig.WindowsMinor << "\n"
        << "bits=" << aConfig.Bits << "\n"
        << "computer=" << aConfig.ComputerName << "\n";
    WriteFileAll(tmp + "/state/nextpid", "1000\n");
    WriteFileAll(tmp + "/events.jsonl", "");
    WriteFileAll(tmp + "/state/processes", "");
    WriteFileAll(tmp + "/state/exits", "");
    WriteFileAll(tmp + "/state/hostpids", "");
    WriteFileAll(tmp + "/state/handles", "");
    WriteFileAll(tmp + "/state/answers", "");
    WriteFileAll(tmp + "/" + kConfigFile, ini.str());
    // The keys every Windows has.
    RegistryTransact(tmp, [&](RegStore& r) {
      for (const char16_t* k : {u"HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                                u"HKLM\\SYSTEM\\CurrentControlSet\\Services",
                                u"HKLM\\SYSTEM\\CurrentControlSet\\Hardware Profiles\\Current",
                                u"HKLM\\SOFTWARE\\Classes\\CLSID", u"HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion"}) {
        r.Create(k);
      }
      if (aConfig.Bits == 64) r.Create(u"HKLM\\SOFTWARE\\Wow6432Node\\Microsoft");
      r.Create(Text(u"HKU\\") + kUserSid + u"\\Software\\Classes");
      return true;
    });
    // The desktop shell: a process at medium integrity that runs no host program.
    ProcessRecord shell;
    shell.Parent = 0;
    shell.Integrity = kIntegrityMedium;
    shell.Bits = aConfig.Bits;
    shell.Image = "C:\\Windows\\explorer.exe";
    shell.CommandLine = "C:\\Windows\\explorer.exe";
    shell.CurrentDirectory = "C:\\Windows\\";
    ProcessRecordOnly(tmp, shell, std::nullopt);
    if (fs::exists(target, ec)) fs::remove(target, ec);  // the empty folder it replaces
    fs::rename(tmp, target);
  } catch (...) {
    fs::remove_all(tmp, ec);
    throw;
  }
}

std::string MachineFolderHost() {
  const char* m = std::getenv("WINSIM_MACHINE");
  return m ? std::string(m) : std::string();
}

MachineLock::MachineLock(const std::string& aMachine) {
  std::string path = StatePath(aMachine, "lock");
  FFd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (FFd < 0) throw MachineError("cannot open " + path + ": " + std::strerror(errno));
  while (::flock(FFd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      ::close(FFd);
      throw MachineError("cannot lock " + path);
    }
  }
}

MachineLock::~MachineLock() {
  ::flock(FFd, LOCK_UN);
  ::close(FFd);
}

// ---- events -------------------------------------------------------------------------------

std::string JsonEscape(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char b[8];
          std::snprintf(b, sizeof b, "\\u%04x", c);
          out += b;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

void EventAppend(const std::string& aMachine, const std::string& aJsonObject) {
  // One write with O_APPEND: lines of several processes never interleave.
  AppendLine(aMachine + "/events.jsonl", aJsonObject);
}

// ---- processes ----------------------------------------------------------------------------

namespace {

win::DWORD PidAllocate(const std::string& aMachine) {
  // Called with the machine lock held. Windows process ids are multiples of 4.
  std::string path = StatePath(aMachine, "nextpid");
  win::DWORD pid = 1000;
  {
    std::ifstream in(path);
    in >> pid;
  }
  WriteFileAll(path, std::to_string(pid + 4) + "\n");
  return pid;
}

std::string RecordLine(const ProcessRecord& r) {
  return std::to_string(r.Pid) + "\t" + std::to_string(r.Parent) + "\t" + std::to_string(r.Integrity) + "\t" +
         std::to_string(r.Bits) + "\t" + FieldEscape(r.Image) + "\t" + FieldEscape(r.CommandLine) + "\t" +
         FieldEscape(r.CurrentDirectory);
}

std::string StartEvent(const ProcessRecord& r) {
  return "{\"type\":\"process-start\",\"pid\":" + std::to_string(r.Pid) + ",\"parent\":" + std::to_string(r.Parent) +
         ",\"image\":" + JsonEscape(r.Image) + ",\"commandLine\":" + JsonEscape(r.CommandLine) +
         ",\"integrity\":" + JsonEscape(IntegrityName(r.Integrity)) + ",\"bits\":" + std::to_string(r.Bits) + "}";
}

win::DWORD RecordNew(const std::string& aMachine, ProcessRecord& r) {
  MachineLock lock(aMachine);
  r.Pid = PidAllocate(aMachine);
  AppendLine(StatePath(aMachine, "processes"), RecordLine(r));
  EventAppend(aMachine, StartEvent(r));
  return r.Pid;
}

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
  for (const auto& line : ReadLines(StatePath(aMachine, "processes"))) {
    auto f = SplitFields(line);
    if (f.size() < 7) continue;
    ProcessState s;
    try {
      s.Record.Pid = static_cast<win::DWORD>(std::stoul(f[0]));
      s.Record.Parent = static_cast<win::DWORD>(std::stoul(f[1]));
      s.Record.Integrity = static_cast<win::DWORD>(std::stoul(f[2]));
      s.Record.Bits = std::stoi(f[3]);
    } catch (const std::exception&) {
      continue;
    }
    s.Record.Image = f[4];
    s.Record.CommandLine = f[5];
    s.Record.CurrentDirectory = f[6];
    index[s.Record.Pid] = out.size();
    out.push_back(std::move(s));
  }
  std::map<win::DWORD, pid_t> monitors;
  for (const auto& line : ReadLines(StatePath(aMachine, "hostpids"))) {
    unsigned long pid = 0;
    long host = 0, monitor = 0;
    int fields = std::sscanf(line.c_str(), "%lu %ld %ld", &pid, &host, &monitor);
    if (fields >= 2 && index.count(static_cast<win::DWORD>(pid))) {
      out[index[static_cast<win::DWORD>(pid)]].HostPid = static_cast<pid_t>(host);
      if (fields == 3) monitors[static_cast<win::DWORD>(pid)] = static_cast<pid_t>(monitor);
    }
  }
  for (const auto& line : ReadLines(StatePath(aMachine, "exits"))) {
    unsigned long pid = 0, code = 0;
    if (std::sscanf(line.c_str(), "%lu %lu", &pid, &code) == 2 && index.count(static_cast<win::DWORD>(pid))) {
      auto& s = out[index[static_cast<win::DWORD>(pid)]];
      if (s.Exited) continue;
      s.Exited = true;
      s.ExitCode = static_cast<win::DWORD>(code);
    }
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
  win::DWORD pid = RecordNew(aMachine, aRecord);
  if (aExitCode) {
    AppendLine(StatePath(aMachine, "exits"), std::to_string(pid) + " " + std::to_string(*aExitCode));
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
  result.Pid = RecordNew(aMachine, aRequest.Record);
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
      ::execve(argv[0], argv.data(), envp.data());
      ::_exit(127);
    }
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

void AnswersSet(const std::string& aMachine, const std::vector<std::pair<std::string, std::string>>& aAnswers) {
  MachineLock lock(aMachine);
  std::string data;
  for (const auto& [kind, answer] : aAnswers) data += FieldEscape(kind) + "\t" + FieldEscape(answer) + "\n";
  FileReplaceAtomically(StatePath(aMachine, "answers"), data);
}

std::optional<std::string> AnswerTake(const std::string& aMachine, const std::string& aKind) {
  MachineLock lock(aMachine);
  std::string path = StatePath(aMachine, "answers");
  std::vector<std::string> lines = ReadLines(path);
  std::optional<std::string> answer;
  std::string kept;
  for (const auto& l : lines) {
    auto f = SplitFields(l);
    if (!answer && f.size() == 2 && f[0] == aKind) {
      answer = f[1];
      continue;
    }
    kept += l + "\n";
  }
  if (answer) WriteFileAll(path, kept);
  return answer;
}

// ---- this process -------------------------------------------------------------------------

namespace {

struct Current {
  std::mutex lock;
  std::atomic<bool> attached{false};
  std::string machine;
  ProcessRecord record;
};

Current& CurrentState() {
  static Current* c = new Current;
  return *c;
}

}  // namespace

const ProcessRecord* CurrentProcess() {
  Current& c = CurrentState();
  if (c.attached.load(std::memory_order_acquire)) return &c.record;
  // Not attached yet: a test program attaches itself in main, after start-up code may
  // already have asked; so a "no" is not remembered.
  std::lock_guard<std::mutex> g(c.lock);
  if (c.attached.load(std::memory_order_relaxed)) return &c.record;
  const char* m = std::getenv("WINSIM_MACHINE");
  const char* p = std::getenv("WINSIM_PID");
  if (!m || !p) return nullptr;
  try {
    auto found = ProcessFind(m, static_cast<win::DWORD>(std::stoul(p)));
    if (!found) return nullptr;
    c.machine = m;
    c.record = found->Record;
    c.attached.store(true, std::memory_order_release);
    return &c.record;
  } catch (const std::exception&) {
    return nullptr;
  }
}

void CurrentProcessIntegritySet(win::DWORD aLevel) {
  CurrentProcess();
  CurrentState().record.Integrity = aLevel;
}

void ProcessAttachNew(const std::string& aMachine, ProcessRecord aRecord) {
  MachineConfigRead(aMachine);
  if (aRecord.Parent == 0) aRecord.Parent = ShellProcessId(aMachine);
  win::DWORD pid = RecordNew(aMachine, aRecord);
  AppendLine(StatePath(aMachine, "hostpids"), std::to_string(pid) + " " + std::to_string(::getpid()));
  ::setenv("WINSIM_MACHINE", aMachine.c_str(), 1);
  ::setenv("WINSIM_PID", std::to_string(pid).c_str(), 1);
  CurrentProcess();
}

// ---- names --------------------------------------------------------------------------------

char16_t UpcaseChar(char16_t c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
  if (c == 0xFF) return 0x178;
  if (c >= 0x100 && c <= 0x17F) {
    // Latin Extended-A: mostly pairs, upper case first.
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c % 2 == 0) ? static_cast<char16_t>(c - 1) : c;
    if (c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
    return (c % 2 == 1) ? static_cast<char16_t>(c - 1) : c;
  }
  if (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) return static_cast<char16_t>(c - 0x20);  // Greek
  if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 0x20);                // Cyrillic
  if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 0x50);
  if (c >= 0xFF41 && c <= 0xFF5A) return static_cast<char16_t>(c - 0x20);  // full-width Latin
  return c;
}

Text UpcaseText(TextView t) {
  Text out(t);
  for (auto& c : out) c = UpcaseChar(c);
  return out;
}

namespace {

bool IsSep(char16_t c) { return c == u'\\'; }

bool NameCharValid(char16_t c, bool bAllowWildcards) {
  if (c < 32) return false;
  switch (c) {
    case u'<': case u'>': case u':': case u'"': case u'|': case u'/':
      return false;
    case u'*': case u'?':
      return bAllowWildcards;
    default:
      return true;
  }
}

// Finds a child of a host folder whatever its case; empty when there is none.
std::string LookupChild(const std::string& aDirHost, const Text& aName) {
  std::string exact = TextToUtf8(aName);
  struct stat st;
  if (::lstat((aDirHost + "/" + exact).c_str(), &st) == 0) return exact;
  DIR* d = ::opendir(aDirHost.c_str());
  if (!d) return std::string();
  Text want = UpcaseText(aName);
  std::string found;
  while (dirent* e = ::readdir(d)) {
    if (e->d_name[0] == '.' && (e->d_name[1] == 0 || (e->d_name[1] == '.' && e->d_name[2] == 0))) continue;
    if (UpcaseText(Utf8ToText(e->d_name)) == want) {
      found = e->d_name;
      break;
    }
  }
  ::closedir(d);
  return found;
}

bool HasUnpairedSurrogate(const Text& t) {
  for (size_t i = 0; i < t.size(); ++i) {
    char16_t c = t[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= t.size() || t[i + 1] < 0xDC00 || t[i + 1] > 0xDFFF) return true;
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return true;
    }
  }
  return false;
}

}  // namespace

ResolvedPath ResolvePath(const PathContext& aContext, TextView aPath, bool bAllowWildcards) {
  ResolvedPath r;
  auto fail = [&](win::DWORD e) {
    r.Error = e;
    return r;
  };
  Text path(aPath);
  bool raw = false;
  if (path.rfind(u"\\\\?\\", 0) == 0 || path.rfind(u"\\??\\", 0) == 0) {
    raw = true;
    path = path.substr(4);
  } else if (path.rfind(u"\\\\.\\", 0) == 0) {
    path = path.substr(4);
  }
  if (!raw) std::replace(path.begin(), path.end(), u'/', u'\\');
  if (path.empty()) return fail(win::ERROR_PATH_NOT_FOUND);
  if (!raw && path.rfind(u"\\\\", 0) == 0) return fail(53);  // ERROR_BAD_NETPATH: no network here

  // Drive and the parts after it.
  Text rest;
  char16_t drive = 0;
  if (path.size() >= 2 && path[1] == u':' && ((path[0] >= u'A' && path[0] <= u'Z') || (path[0] >= u'a' && path[0] <= u'z'))) {
    drive = UpcaseChar(path[0]);
    rest = path.substr(2);
    if (!rest.empty() && !IsSep(rest[0])) {
      if (raw) return fail(win::ERROR_INVALID_NAME);
      // Drive-relative: relative to the current folder when it is on that drive.
      Text cur = aContext.CurrentDirectory;
      if (cur.size() >= 2 && UpcaseChar(cur[0]) == drive) rest = cur.substr(2) + u"\\" + rest;
      else rest = u"\\" + rest;
    }
  } else if (raw) {
    return fail(win::ERROR_INVALID_NAME);
  } else if (IsSep(path[0])) {
    drive = aContext.CurrentDirectory.empty() ? u'C' : UpcaseChar(aContext.CurrentDirectory[0]);
    rest = path;
  } else {
    Text cur = aContext.CurrentDirectory;
    if (cur.size() < 2) return fail(win::ERROR_PATH_NOT_FOUND);
    drive = UpcaseChar(cur[0]);
    rest = cur.substr(2) + u"\\" + path;
  }
  if (drive != u'C') return fail(win::ERROR_PATH_NOT_FOUND);

  // Split into parts; without the raw prefix, '.' and '..' are resolved and trailing dots
  // and spaces dropped, as Win32 does.
  std::vector<Text> parts;
  bool trailingSeparator = !rest.empty() && IsSep(rest.back());
  size_t i = 0;
  while (i <= rest.size()) {
    size_t j = rest.find(u'\\', i);
    if (j == Text::npos) j = rest.size();
    Text part = rest.substr(i, j - i);
    i = j + 1;
    if (raw) {
      if (part.empty()) {
        if (j == rest.size() || i == 1) continue;  // the separator after the drive, or a final one
        return fail(win::ERROR_INVALID_NAME);
      }
      if (part == u"." || part == u"..") return fail(win::ERROR_INVALID_NAME);
    } else {
      if (part.empty() || part == u".") continue;
      if (part == u"..") {
        if (!parts.empty()) parts.pop_back();
        continue;
      }
      while (!part.empty() && (part.back() == u'.' || part.back() == u' ')) part.pop_back();
      if (part.empty()) continue;
    }
    parts.push_back(std::move(part));
  }
  for (size_t k = 0; k < parts.size(); ++k) {
    bool last = k + 1 == parts.size();
    for (char16_t c : parts[k]) {
      if (!NameCharValid(c, bAllowWildcards && last)) return fail(win::ERROR_INVALID_NAME);
    }
    if (HasUnpairedSurrogate(parts[k])) return fail(win::ERROR_INVALID_NAME);
    if (parts[k].size() > 255) return fail(win::ERROR_INVALID_NAME);
  }

  // WOW64: a 32-bit process on 64-bit Windows sees SysWOW64 as System32 (but for a few
  // shared folders) and reaches the real System32 through Sysnative.
  if (aContext.ProcessBits == 32 && aContext.MachineBits == 64 && parts.size() >= 2 &&
      UpcaseText(parts[0]) == u"WINDOWS") {
    Text second = UpcaseText(parts[1]);
    if (aContext.Redirect && second == u"SYSTEM32") {
      Text third = parts.size() >= 3 ? UpcaseText(parts[2]) : Text();
      bool exempt = third == u"CATROOT" || third == u"CATROOT2" || third == u"DRIVERSTORE" || third == u"LOGFILES" ||
                    third == u"SPOOL" || (third == u"DRIVERS" && parts.size() >= 4 && UpcaseText(parts[3]) == u"ETC");
      if (!exempt) parts[1] = u"SysWOW64";
    } else if (aContext.Redirect && second == u"SYSNATIVE") {
      parts[1] = u"System32";
    }
  }

  Text win = Text(1, drive) + u":\\";
  for (size_t k = 0; k < parts.size(); ++k) {
    if (k) win += u'\\';
    win += parts[k];
  }
  if (!raw && win.size() >= win::MAX_PATH) return fail(win::ERROR_PATH_NOT_FOUND);
  (void)trailingSeparator;

  // Walk the host folders, finding each part whatever its case.
  std::string host = DriveHostFolder(aContext.Machine, 'C');
  Text winOnHost = Text(1, drive) + u":\\";
  r.IsRoot = parts.empty();
  if (r.IsRoot) {
    r.WinPath = winOnHost;
    r.Host = host;
    r.ParentHost = host;
    r.Exists = true;
    r.IsDirectory = true;
    return r;
  }
  for (size_t k = 0; k + 1 < parts.size(); ++k) {
    std::string child = LookupChild(host, parts[k]);
    if (child.empty()) return fail(win::ERROR_PATH_NOT_FOUND);
    host += "/" + child;
    struct stat st;
    if (::stat(host.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return fail(win::ERROR_PATH_NOT_FOUND);
    if (k) winOnHost += u'\\';
    winOnHost += Utf8ToText(child);
  }
  r.ParentHost = host;
  r.Name = parts.back();
  bool wild = r.Name.find_first_of(u"*?") != Text::npos;
  std::string child = wild ? std::string() : LookupChild(host, parts.back());
  if (parts.size() > 1) winOnHost += u'\\';
  if (child.empty()) {
    r.Host = host + "/" + TextToUtf8(parts.back());
    winOnHost += parts.back();
  } else {
    r.Host = host + "/" + child;
    winOnHost += Utf8ToText(child);
    struct stat st;
    r.Exists = ::lstat(r.Host.c_str(), &st) == 0;
    r.IsDirectory = r.Exists && S_ISDIR(st.st_mode);
  }
  r.WinPath = winOnHost;
  return r;
}

PathContext CurrentPathContext() {
  const ProcessRecord* p = CurrentProcess();
  if (!p) throw MachineError("this program runs on no simulated machine (start it with winsim run)");
  static const MachineConfig config = MachineConfigRead(MachineFolderHost());
  PathContext c;
  c.Machine = MachineFolderHost();
  c.ProcessBits = p->Bits;
  c.MachineBits = config.Bits;
  c.CurrentDirectory = Utf8ToText(p->CurrentDirectory);
  c.Redirect = c.ProcessBits == 32 && c.MachineBits == 64 && ThreadRedirectionEnabled();
  return c;
}

namespace {
thread_local bool tRedirectionOff = false;
}

bool ThreadRedirectionEnabled() { return !tRedirectionOff; }
void ThreadRedirectionSet(bool bEnabled) { tRedirectionOff = !bEnabled; }

// ---- attributes ---------------------------------------------------------------------------
//
// The owner's bits stay usable (rwx) so the host can always reach the entry; the Windows
// attributes live in the bits nobody else uses: no owner write bit = READONLY, and the group
// and other bits carry HIDDEN, SYSTEM, ARCHIVE, TEMPORARY and NOT_CONTENT_INDEXED.

namespace {
struct AttributeBit {
  win::DWORD attribute;
  mode_t mode;
};
const AttributeBit kAttributeBits[] = {
    {win::FILE_ATTRIBUTE_HIDDEN, S_IXOTH},
    {win::FILE_ATTRIBUTE_SYSTEM, S_IWOTH},
    {win::FILE_ATTRIBUTE_ARCHIVE, S_IROTH},
    {win::FILE_ATTRIBUTE_TEMPORARY, S_IWGRP},
    {win::FILE_ATTRIBUTE_NOT_CONTENT_INDEXED, S_IXGRP},
};
}  // namespace

win::DWORD HostAttributesGet(const std::string& aHost) {
  struct stat st;
  if (::lstat(aHost.c_str(), &st) != 0) return win::INVALID_FILE_ATTRIBUTES;
  win::DWORD a = 0;
  if (!(st.st_mode & S_IWUSR)) a |= win::FILE_ATTRIBUTE_READONLY;
  for (const auto& b : kAttributeBits) {
    if (st.st_mode & b.mode) a |= b.attribute;
  }
  if (S_ISDIR(st.st_mode)) a |= win::FILE_ATTRIBUTE_DIRECTORY;
  else if (a == 0) a = win::FILE_ATTRIBUTE_NORMAL;
  return a;
}

bool HostAttributesSet(const std::string& aHost, win::DWORD aAttributes) {
  struct stat st;
  if (::lstat(aHost.c_str(), &st) != 0) return false;
  mode_t m = S_IRUSR | S_IXUSR | S_IRGRP;
  if (!(aAttributes & win::FILE_ATTRIBUTE_READONLY)) m |= S_IWUSR;
  for (const auto& b : kAttributeBits) {
    if (aAttributes & b.attribute) m |= b.mode;
  }
  return ::chmod(aHost.c_str(), m) == 0;
}

}  // namespace sim
