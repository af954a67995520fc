// The machine's state files read strictly.
#include "platform/sim/statefiles.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <thread>

#include "platform/sim/registry.h"
#include "platform/sim/tables.h"
#include "platform/utf.h"

namespace sim {

namespace {

// Decimal digits only, no sign, no leading zero, at most aMax.
std::optional<unsigned long long> Decimal(const std::string& t, unsigned long long aMax) {
  if (t.empty() || t.size() > 19 || (t.size() > 1 && t[0] == '0')) return std::nullopt;
  unsigned long long v = 0;
  for (char c : t) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + static_cast<unsigned>(c - '0');
  }
  if (v > aMax) return std::nullopt;
  return v;
}

// The lines of a table; each must end with a line end and none may be empty.
std::vector<std::string> Lines(const std::string& aText, const std::string& aWhere) {
  std::vector<std::string> out;
  if (aText.empty()) return out;
  if (aText.back() != '\n') throw MachineError("damaged machine folder: " + aWhere + ": the last line has no line end");
  size_t pos = 0;
  while (pos < aText.size()) {
    size_t end = aText.find('\n', pos);
    out.push_back(aText.substr(pos, end - pos));
    pos = end + 1;
    if (out.back().empty())
      throw MachineError("damaged machine folder: " + aWhere + " (line " + std::to_string(out.size()) + "): an empty line");
  }
  return out;
}

MachineError Damaged(const std::string& aWhere, size_t aLine, const std::string& aWhy) {
  return MachineError("damaged machine folder: " + aWhere + " (line " + std::to_string(aLine) + "): " + aWhy);
}

std::vector<std::string> SpaceSplit(const std::string& aLine) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    size_t sp = aLine.find(' ', start);
    out.push_back(aLine.substr(start, sp == std::string::npos ? std::string::npos : sp - start));
    if (sp == std::string::npos) return out;
    start = sp + 1;
  }
}

constexpr unsigned long long kDwordMax = 0xFFFFFFFFull;
constexpr unsigned long long kHostPidMax = 0x7FFFFFFFull;

}  // namespace

win::DWORD NextPidParse(const std::string& aText, const std::string& aWhere) {
  auto lines = Lines(aText, aWhere);
  if (lines.size() != 1) throw MachineError("damaged machine folder: " + aWhere + ": not one line with the next process id");
  auto v = Decimal(lines[0], kDwordMax);
  if (!v || *v == 0 || *v % 4) throw Damaged(aWhere, 1, "not a process id (a multiple of 4 above 0)");
  if (*v > kDwordMax - 4) throw MachineError("the machine has used up its process ids (" + aWhere + ")");
  return static_cast<win::DWORD>(*v);
}

std::vector<ExitRow> ExitsParse(const std::string& aText, const std::string& aWhere) {
  std::vector<ExitRow> out;
  auto lines = Lines(aText, aWhere);
  for (size_t i = 0; i < lines.size(); ++i) {
    auto f = SpaceSplit(lines[i]);
    std::optional<unsigned long long> pid, code;
    if (f.size() == 2) {
      pid = Decimal(f[0], kDwordMax);
      code = Decimal(f[1], kDwordMax);
    }
    if (!pid || !code) throw Damaged(aWhere, i + 1, "not \"PID EXITCODE\"");
    out.push_back({static_cast<win::DWORD>(*pid), static_cast<win::DWORD>(*code)});
  }
  return out;
}

std::vector<HostPidRow> HostPidsParse(const std::string& aText, const std::string& aWhere) {
  std::vector<HostPidRow> out;
  auto lines = Lines(aText, aWhere);
  for (size_t i = 0; i < lines.size(); ++i) {
    auto f = SpaceSplit(lines[i]);
    std::optional<unsigned long long> pid, host, monitor = 0ull;
    if (f.size() == 2 || f.size() == 3) {
      pid = Decimal(f[0], kDwordMax);
      host = Decimal(f[1], kHostPidMax);
      if (f.size() == 3) monitor = Decimal(f[2], kHostPidMax);
    }
    if (!pid || !host || !monitor || *host == 0) throw Damaged(aWhere, i + 1, "not \"PID HOSTPID [MONITORPID]\"");
    out.push_back({static_cast<win::DWORD>(*pid), static_cast<pid_t>(*host), static_cast<pid_t>(*monitor)});
  }
  return out;
}

std::vector<ProcessRecord> ProcessesParse(const std::string& aText, const std::string& aWhere) {
  std::vector<ProcessRecord> out;
  auto lines = Lines(aText, aWhere);
  for (size_t i = 0; i < lines.size(); ++i) {
    auto f = TableFieldsSplit(lines[i]);
    std::optional<unsigned long long> pid, parent, integrity, bits;
    if (f.size() == 7) {
      pid = Decimal(f[0], kDwordMax);
      parent = Decimal(f[1], kDwordMax);
      integrity = Decimal(f[2], kDwordMax);
      bits = Decimal(f[3], 64);
    }
    if (!pid || !parent || !integrity || !bits || (*bits != 32 && *bits != 64))
      throw Damaged(aWhere, i + 1, "not PID, PARENT, INTEGRITY, BITS, IMAGE, COMMANDLINE, FOLDER");
    ProcessRecord r;
    r.Pid = static_cast<win::DWORD>(*pid);
    r.Parent = static_cast<win::DWORD>(*parent);
    r.Integrity = static_cast<win::DWORD>(*integrity);
    r.Bits = static_cast<int>(*bits);
    r.Image = f[4];
    r.CommandLine = f[5];
    r.CurrentDirectory = f[6];
    out.push_back(std::move(r));
  }
  return out;
}

std::string MachineFileBytesRead(const std::string& aPath) {
  int fd = ::open(aPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw MachineError("damaged machine folder: cannot read " + aPath + ": " + std::strerror(errno));
  std::string text;
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int e = errno;
      ::close(fd);
      throw MachineError("damaged machine folder: cannot read " + aPath + ": " + std::strerror(e));
    }
    if (n == 0) break;
    text.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return text;
}

std::vector<Substitution> SubstitutionsParse(const std::string& aText, const std::string& aWhere) {
  std::vector<Substitution> out;
  auto lines = Lines(aText, aWhere);
  for (size_t i = 0; i < lines.size(); ++i) {
    auto fields = TableFieldsSplit(lines[i]);
    if (fields.size() != 2) throw Damaged(aWhere, i + 1, "not \"X:<TAB>C:\\FOLDER\"");
    Text drive = Utf8ToText(fields[0]), target = Utf8ToText(fields[1]);
    if (drive.size() != 2 || drive[0] < u'A' || drive[0] > u'Z' || drive[1] != u':' || drive[0] == u'C')
      throw Damaged(aWhere, i + 1, "not a drive letter: " + fields[0]);
    if (target.size() < 3 || target.rfind(u"C:\\", 0) != 0 || (target.size() > 3 && target.back() == u'\\'))
      throw Damaged(aWhere, i + 1, "not a folder of drive C: " + fields[1]);
    for (const auto& s : out)
      if (s.Drive == drive[0]) throw Damaged(aWhere, i + 1, "drive " + fields[0] + " twice");
    out.push_back({drive[0], target});
  }
  return out;
}

std::string StateFileRead(const std::string& aPath) {
  for (int attempt = 0;; ++attempt) {
    std::string text = MachineFileBytesRead(aPath);
    if (text.empty() || text.back() == '\n' || attempt >= 50) return text;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

void MachineStateCheck(const std::string& aMachine) {
  MachineConfigRead(aMachine);
  std::string nextpid = StatePath(aMachine, "nextpid");
  NextPidParse(StateFileRead(nextpid), nextpid);
  std::string processes = StatePath(aMachine, "processes");
  ProcessesParse(StateFileRead(processes), processes);
  std::string hostpids = StatePath(aMachine, "hostpids");
  HostPidsParse(StateFileRead(hostpids), hostpids);
  std::string exits = StatePath(aMachine, "exits");
  ExitsParse(StateFileRead(exits), exits);
  SubstitutionsRead(aMachine);
  RegistryTransact(aMachine, [](RegStore&) { return false; });
}

}  // namespace sim
