// winsim: the simulated Windows machine's command-line tool. Reference: docs/winsim.md.
#include <fcntl.h>
#include <gcrypt.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/sim/machine.h"
#include "platform/sim/statefiles.h"
#include "platform/sim/volumes.h"
#include "platform/win32api.h"
#include "platform/utf.h"
#include "faults.h"
#include "reg.h"

namespace fs = std::filesystem;

namespace {

constexpr int kUsageError = 2;
constexpr int kTimedOut = 124;

struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

std::string Absolute(const std::string& aFolder) { return fs::absolute(aFolder).lexically_normal().string(); }

std::string MachineOpen(const std::string& aFolder) {
  std::string m = Absolute(aFolder);
  if (m.size() > 1 && m.back() == '/') m.pop_back();
  sim::MachineConfigRead(m);  // throws MachineError for a missing or damaged folder
  return m;
}

sim::PathContext ContextFor(const std::string& aMachine) {
  sim::PathContext c;
  c.Machine = aMachine;
  c.MachineBits = sim::MachineConfigRead(aMachine).Bits;
  c.ProcessBits = c.MachineBits;
  c.CurrentDirectory = u"C:\\";
  return c;
}

sim::ResolvedPath ResolveOrFail(const std::string& aMachine, const std::string& aWinPath) {
  sim::ResolvedPath r = sim::ResolvePath(ContextFor(aMachine), Utf8ToText(aWinPath));
  if (r.Error == win::ERROR_PATH_NOT_FOUND) throw Failure("a folder of " + aWinPath + " does not exist in the machine");
  if (r.Error) throw Failure("not a usable Windows path: " + aWinPath + " (error " + std::to_string(r.Error) + ")");
  return r;
}

// Where a file goes in the machine, worked out whole before anything changes.
struct Placement {
  std::string Host;                 // host path of the file
  std::vector<std::string> Create;  // host folders to create, outermost first
};

Placement PlacementPlan(const std::string& aMachine, const std::string& aWinPath) {
  Text path = Utf8ToText(aWinPath);
  std::replace(path.begin(), path.end(), u'/', u'\\');
  if (path.size() < 4 || path[1] != u':' || path[2] != u'\\')
    throw Failure("expected a full path such as C:\\Folder\\file.exe: " + aWinPath);
  if (path.back() == u'\\') throw Failure(aWinPath + " is a folder (it ends with \\)");
  if (path.size() >= win::MAX_PATH) throw Failure("longer than a Windows path may be (259 characters): " + aWinPath);
  sim::PathContext context = ContextFor(aMachine);
  sim::ResolvedPath whole = sim::ResolvePath(context, path);
  if (whole.Error && whole.Error != win::ERROR_PATH_NOT_FOUND)
    throw Failure("not a usable Windows path: " + aWinPath + " (error " + std::to_string(whole.Error) + ")");
  // The names as Windows keeps them: without trailing dots and spaces.
  std::vector<Text> names;
  for (size_t pos = 3;;) {
    size_t next = path.find(u'\\', pos);
    Text name = path.substr(pos, next == Text::npos ? Text::npos : next - pos);
    while (!name.empty() && (name.back() == u'.' || name.back() == u' ')) name.pop_back();
    if (name.empty()) throw Failure("an empty name, . or .. in " + aWinPath);
    if (sim::NameIsReserved(name))
      throw Failure("a name Windows keeps for a device (error 123): " + TextToUtf8(name) + " in " + aWinPath);
    if (TextToUtf8(name).size() > 255) throw Failure("a name too long for the machine's drive: " + aWinPath);
    names.push_back(name);
    if (next == Text::npos) break;
    pos = next + 1;
  }
  Placement p;
  std::string host;
  Text win = path.substr(0, 2);
  bool missing = false;
  for (size_t k = 0; k + 1 < names.size(); ++k) {
    win += u"\\" + names[k];
    if (missing) {
      host += "/" + TextToUtf8(names[k]);
      p.Create.push_back(host);
      continue;
    }
    sim::ResolvedPath r = sim::ResolvePath(context, win);
    if (r.Error) throw Failure("not a usable Windows path: " + aWinPath + " (error " + std::to_string(r.Error) + ")");
    host = r.Host;
    if (!r.Exists) {
      missing = true;
      p.Create.push_back(host);
    } else if (!r.IsDirectory) {
      throw Failure(TextToUtf8(win) + " is a file, not a folder");
    }
  }
  if (missing) {
    p.Host = host + "/" + TextToUtf8(names.back());
    return p;
  }
  if (whole.Error) throw Failure("not a usable Windows path: " + aWinPath + " (error " + std::to_string(whole.Error) + ")");
  if (whole.Exists) {
    struct stat st;
    if (whole.IsDirectory) throw Failure(aWinPath + " is a folder");
    if (::lstat(whole.Host.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) throw Failure(aWinPath + " is not a file");
  }
  p.Host = whole.Host;
  return p;
}

// Copies an open file into a new one; false with errno set when a read or write fails.
bool CopyFd(int aFrom, int aTo) {
  std::vector<char> buf(1 << 16);
  for (;;) {
    ssize_t n = ::read(aFrom, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    for (ssize_t done = 0; done < n;) {
      ssize_t w = ::write(aTo, buf.data() + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w < 0) return false;
      done += w;
    }
  }
}

std::string Folder(const std::string& aHost) {
  size_t slash = aHost.rfind('/');
  return slash == std::string::npos ? std::string(".") : slash == 0 ? std::string("/") : aHost.substr(0, slash);
}

// Writes aFrom whole into a new file of aHost's folder under a name no other call uses, with
// aMode; its host path. Nothing is left behind when it fails.
std::string WriteAside(int aFrom, const std::string& aHost, const char* aTag, mode_t aMode) {
  std::string tmpl = Folder(aHost) + "/.winsim-" + aTag + "-XXXXXX";
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back(0);
  int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) throw Failure("cannot write into " + Folder(aHost) + ": " + std::strerror(errno));
  std::string tmp(name.data());
  bool ok = CopyFd(aFrom, fd) && ::fchmod(fd, aMode) == 0;
  int e = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    e = errno;
  }
  if (!ok) {
    ::unlink(tmp.c_str());
    throw Failure("cannot write " + aHost + ": " + std::strerror(e));
  }
  return tmp;
}

// A file placed in the machine, until Keep: a failure after it takes it back out.
class Placed {
 public:
  Placed(const Placement& aPlan, int aFrom, win::DWORD aAttributes) {
    try {
      for (const std::string& d : aPlan.Create) {
        if (::mkdir(d.c_str(), 0755) == 0) {
          FMade.push_back(d);
          sim::HostAttributesSet(d, win::FILE_ATTRIBUTE_DIRECTORY);
        } else if (errno != EEXIST || !fs::is_directory(d)) {  // another call may have made it
          throw Failure("cannot create the folder " + d + ": " + std::strerror(errno));
        }
      }
      std::string tmp = WriteAside(aFrom, aPlan.Host, "put", 0644);
      sim::HostAttributesSet(tmp, aAttributes);
      // The file it replaces is kept aside until the call succeeds.
      FOld = Folder(aPlan.Host) + "/.winsim-old-" + std::to_string(::getpid());
      if (::link(aPlan.Host.c_str(), FOld.c_str()) != 0) FOld.clear();
      if (::rename(tmp.c_str(), aPlan.Host.c_str()) != 0) {
        int e = errno;
        ::unlink(tmp.c_str());
        throw Failure("cannot place " + aPlan.Host + ": " + std::strerror(e));
      }
      FHost = aPlan.Host;
    } catch (...) {
      Undo();
      throw;
    }
  }
  ~Placed() {
    if (!FKept) Undo();
  }
  void Keep() {
    FKept = true;
    if (!FOld.empty()) ::unlink(FOld.c_str());
  }

 private:
  void Undo() {
    if (!FHost.empty()) {
      if (!FOld.empty()) ::rename(FOld.c_str(), FHost.c_str());
      else ::unlink(FHost.c_str());
    } else if (!FOld.empty()) {
      ::unlink(FOld.c_str());
    }
    for (auto it = FMade.rbegin(); it != FMade.rend(); ++it) ::rmdir(it->c_str());
    FHost.clear();
    FOld.clear();
    FMade.clear();
  }
  std::string FHost, FOld;
  std::vector<std::string> FMade;
  bool FKept = false;
};

// A host file to copy from, open; refuses what is not a regular file.
int HostSourceOpen(const std::string& aPath) {
  struct stat st;
  if (::stat(aPath.c_str(), &st) != 0) {
    if (errno == ENOENT) throw Failure("no such host file: " + aPath);
    throw Failure("cannot reach the host file " + aPath + ": " + std::strerror(errno));
  }
  if (!S_ISREG(st.st_mode)) throw Failure("not a regular host file: " + aPath);
  int fd = ::open(aPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw Failure("cannot read the host file " + aPath + ": " + std::strerror(errno));
  return fd;
}

struct FdCloser {
  int Fd;
  ~FdCloser() {
    if (Fd >= 0) ::close(Fd);
  }
};

// get: a regular file (or nothing) is written aside and renamed into place; a character
// device or a pipe, or "-", is written through; anything else is refused.
void HostFileWrite(const std::string& aFromHost, const std::string& aHostFile) {
  int in = ::open(aFromHost.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  struct stat from;
  if (in < 0 || ::fstat(in, &from) != 0 || !S_ISREG(from.st_mode)) {
    if (in >= 0) ::close(in);
    throw Failure("not a file the machine can read: " + aFromHost);
  }
  FdCloser inCloser{in};
  auto through = [&](int aOut, const std::string& aName) {
    if (!CopyFd(in, aOut)) throw Failure("cannot write " + aName + ": " + std::strerror(errno));
  };
  if (aHostFile == "-") {
    std::cout.flush();
    through(STDOUT_FILENO, "standard output");
    return;
  }
  struct stat st;
  bool exists = ::lstat(aHostFile.c_str(), &st) == 0;
  if (!exists && errno != ENOENT) throw Failure("cannot reach " + aHostFile + ": " + std::strerror(errno));
  if (exists && S_ISLNK(st.st_mode)) {
    // A link is followed only to a device or a pipe (/dev/stdout); it is never replaced.
    struct stat target;
    if (::stat(aHostFile.c_str(), &target) != 0 || !(S_ISCHR(target.st_mode) || S_ISFIFO(target.st_mode)))
      throw Failure("will not replace " + aHostFile + ": it is a symbolic link");
    st = target;
  }
  if (exists && (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode))) {
    int out = ::open(aHostFile.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (out < 0) throw Failure("cannot write " + aHostFile + ": " + std::strerror(errno));
    FdCloser outCloser{out};
    through(out, aHostFile);
    return;
  }
  mode_t mode;
  if (exists) {
    if (!S_ISREG(st.st_mode)) throw Failure("will not write " + aHostFile + ": it is not a regular file");
    if (!(st.st_mode & 0222) || ::access(aHostFile.c_str(), W_OK) != 0)
      throw Failure("will not replace " + aHostFile + ": it is read-only");
    mode = st.st_mode & 07777;
  } else {
    mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  std::string tmp = WriteAside(in, aHostFile, "get", mode);
  if (::rename(tmp.c_str(), aHostFile.c_str()) != 0) {
    int e = errno;
    ::unlink(tmp.c_str());
    throw Failure("cannot write " + aHostFile + ": " + std::strerror(e));
  }
}

std::string Sha256(const std::string& aHost) {
  std::ifstream in(aHost, std::ios::binary);
  if (!in) throw Failure("cannot read " + aHost + ": " + std::strerror(errno));
  gcry_md_hd_t h;
  gcry_md_open(&h, GCRY_MD_SHA256, 0);
  std::vector<char> buf(1 << 16);
  while (in) {
    in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
    if (in.gcount() > 0) gcry_md_write(h, buf.data(), static_cast<size_t>(in.gcount()));
  }
  const unsigned char* d = gcry_md_read(h, GCRY_MD_SHA256);
  char hex[65];
  for (int i = 0; i < 32; ++i) std::snprintf(hex + 2 * i, 3, "%02x", d[i]);
  gcry_md_close(h);
  return std::string(hex, 64);
}

void TreeWalk(const std::string& aHost, const std::string& aRelative, std::ostream& out) {
  std::vector<std::pair<Text, std::string>> entries;
  for (const auto& e : fs::directory_iterator(aHost)) {
    std::string n = e.path().filename().string();
    if (n.find(".winsim-") != std::string::npos) continue;
    entries.emplace_back(sim::UpcaseText(Utf8ToText(n)), n);
  }
  std::sort(entries.begin(), entries.end());  // the order NTFS lists them in
  for (const auto& [upper, name] : entries) {
    std::string host = aHost + "/" + name;
    std::string rel = aRelative.empty() ? name : aRelative + "\\" + name;
    auto kind = fs::symlink_status(host).type();
    if (kind == fs::file_type::directory) {
      out << rel << "\\\t-\t-\n";
      TreeWalk(host, rel, out);
    } else if (kind == fs::file_type::regular) {
      out << rel << "\t" << fs::file_size(host) << "\t" << Sha256(host) << "\n";
    } else {
      // A host link, pipe or device put into a drive from outside: listed, never followed.
      out << rel << "\t-\t-\n";
    }
  }
}

// ---- run ----------------------------------------------------------------------------------

// A signal that asks winsim run to stop: the run's processes, in a process group of their
// own, would not get it from the terminal.
volatile sig_atomic_t gStopSignal = 0;

void StopSignalsCatch() {
  struct sigaction sa {};
  sa.sa_handler = [](int aSignal) { gStopSignal = aSignal; };
  sigemptyset(&sa.sa_mask);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(sig, &sa, nullptr);
}

std::set<win::DWORD> Descendants(const std::vector<sim::ProcessState>& aTable, win::DWORD aRoot) {
  std::set<win::DWORD> tree{aRoot};
  bool grew = true;
  while (grew) {
    grew = false;
    for (const auto& p : aTable) {
      if (!tree.count(p.Record.Pid) && tree.count(p.Record.Parent)) {
        tree.insert(p.Record.Pid);
        grew = true;
      }
    }
  }
  return tree;
}

int Run(const std::string& aMachineFolder, const std::string& aIntegrity, int aBits, std::string aAt,
        const std::vector<std::string>& aUac, const std::vector<std::string>& aAnswers, double aTimeout,
        bool bVirtualization, bool bRealClock, const std::vector<std::string>& aProgram,
        const std::vector<std::string>& aEnvironment = {}) {
  std::string machine = MachineOpen(aMachineFolder);
  sim::MachineConfig config = sim::MachineConfigRead(machine);
  auto integrity = sim::IntegrityFromName(aIntegrity);
  if (!integrity) throw Failure("--integrity is one of low, medium, high, system");
  if (aBits != 32 && aBits != 64) throw Failure("--bits is 32 or 64");
  if (aBits == 64 && config.Bits == 32) throw Failure("a 64-bit process needs 64-bit Windows; this machine is 32-bit");
  for (const auto& u : aUac) {
    if (u != "accept" && u != "refuse") throw Failure("--uac is accept or refuse");
  }
  if (aTimeout <= 0) throw Failure("--timeout must be above 0");
  if (aProgram.empty()) throw Failure("no program given after --");
  std::string program = aProgram[0];
  struct stat st;
  if (::stat(program.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || ::access(program.c_str(), X_OK) != 0)
    throw Failure("not an executable host file: " + program);
  int programFd = HostSourceOpen(program);
  FdCloser programCloser{programFd};
  if (aAt.empty()) {
    std::string name = fs::path(program).filename().string();
    if (fs::path(name).extension().empty()) name += ".exe";
    aAt = "C:\\Users\\User\\Downloads\\" + name;
  }
  Placement plan = PlacementPlan(machine, aAt);
  sim::MachineStateCheck(machine);
  // Everything is checked; from here on the machine changes. Each run writes its own copy
  // aside and renames it into place, so runs of one program at once each start a whole one.
  Placed placedFile(plan, programFd, win::FILE_ATTRIBUTE_ARCHIVE);
  sim::ResolvedPath placed = ResolveOrFail(machine, aAt);
  std::vector<std::pair<std::string, std::string>> queue;
  for (const auto& u : aUac) queue.emplace_back("uac", u);
  for (const auto& a : aAnswers) queue.emplace_back("answer", a);
  sim::AnswersSet(machine, queue);
  sim::SpawnRequest req;
  req.Record.Parent = sim::ShellProcessId(machine);
  req.Record.Integrity = *integrity;
  req.Record.Bits = aBits;
  req.Record.Image = TextToUtf8(placed.WinPath);
  std::string cmd = sim::CommandLineQuote(req.Record.Image);
  if (cmd.front() != '"') cmd = "\"" + cmd + "\"";
  for (size_t i = 1; i < aProgram.size(); ++i) {
    cmd += " " + sim::CommandLineQuote(aProgram[i]);
    req.Arguments.push_back(aProgram[i]);
  }
  req.Record.CommandLine = cmd;
  req.Record.CurrentDirectory = req.Record.Image.substr(0, req.Record.Image.rfind('\\') + 1);
  req.HostExecutable = plan.Host;
  if (bVirtualization) req.ExtraEnvironment.push_back("WINSIM_VIRTUALIZATION=1");
  // Timers run on the virtual clock unless asked otherwise; the processes it starts inherit it.
  ::unsetenv("ORV_SIM_VIRTUAL_CLOCK");
  if (!bRealClock) req.ExtraEnvironment.push_back("ORV_SIM_VIRTUAL_CLOCK=1");
  req.NewProcessGroup = true;
  for (const auto& e : aEnvironment) req.ExtraEnvironment.push_back(e);
  std::cout.flush();
  sim::SpawnResult spawned = sim::ProcessSpawn(machine, req, false);
  placedFile.Keep();
  StopSignalsCatch();

  // Wait for the program and every process it starts in the machine.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(aTimeout);
  bool monitorReaped = false;
  for (;;) {
    if (!monitorReaped) {
      int status = 0;
      if (::waitpid(spawned.MonitorPid, &status, WNOHANG) == spawned.MonitorPid) monitorReaped = true;
    }
    auto table = sim::ProcessTableRead(machine);
    auto tree = Descendants(table, spawned.Pid);
    bool running = false;
    win::DWORD firstExit = 0;
    for (const auto& p : table) {
      if (!tree.count(p.Record.Pid)) continue;
      bool alive = !p.Exited && (p.HostPid > 0 || (p.Record.Pid == spawned.Pid && !monitorReaped));
      if (alive) running = true;
      if (p.Record.Pid == spawned.Pid) firstExit = p.ExitCode;
    }
    if (!running && monitorReaped) return static_cast<int>(firstExit & 0xFF);
    int stop = gStopSignal;
    if (stop || std::chrono::steady_clock::now() > deadline) {
      // Every host process of the run ends: each process's own group (the first process's,
      // which every host process it starts shares, and any a process made for itself).
      pid_t ownGroup = ::getpgrp();
      for (const auto& p : table) {
        if (!tree.count(p.Record.Pid) || p.HostPid <= 0) continue;
        pid_t group = ::getpgid(p.HostPid);
        if (group > 0 && group != ownGroup) ::kill(-group, SIGKILL);
        if (p.Record.Pid == spawned.Pid) ::kill(-p.HostPid, SIGKILL);
        if (!p.Exited) ::kill(p.HostPid, SIGKILL);
      }
      if (!monitorReaped) ::waitpid(spawned.MonitorPid, nullptr, 0);
      if (stop) {
        std::cerr << "winsim: stopped by signal " << stop << "; the processes were ended\n";
        return 128 + stop;
      }
      std::cerr << "winsim: time-out after " << aTimeout << " s; the processes still running were ended\n";
      return kTimedOut;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

int Hold(const std::string& aMachine, const std::string& aWinPath, const std::string& aShare) {
  win::DWORD share;
  if (aShare == "none") share = 0;
  else if (aShare == "read") share = win::FILE_SHARE_READ;
  else if (aShare == "write") share = win::FILE_SHARE_WRITE;
  else if (aShare == "delete") share = win::FILE_SHARE_DELETE;
  else if (aShare == "all") share = win::FILE_SHARE_READ | win::FILE_SHARE_WRITE | win::FILE_SHARE_DELETE;
  else throw Failure("--share is one of none, read, write, delete, all");
  sim::ResolvedPath r = ResolveOrFail(aMachine, aWinPath);
  if (!r.Exists) throw Failure("no such file in the machine: " + aWinPath);
  sim::ProcessRecord self;
  self.Image = "C:\\Windows\\System32\\winsim-hold.exe";
  self.CommandLine = "winsim-hold.exe " + sim::CommandLineQuote(aWinPath);
  self.CurrentDirectory = "C:\\Windows\\System32\\";
  self.Bits = sim::MachineConfigRead(aMachine).Bits;
  sim::ProcessAttachNew(aMachine, self);
  Text path = Utf8ToText(aWinPath);
  win::HANDLE h = win::CreateFileW(path.c_str(), win::GENERIC_READ, share, nullptr, win::OPEN_EXISTING,
                                   r.IsDirectory ? win::FILE_FLAG_BACKUP_SEMANTICS : win::FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == win::INVALID_HANDLE_VALUE)
    throw Failure("cannot open " + aWinPath + ": error " + std::to_string(win::GetLastError()));
  std::cout << "holding" << std::endl;
  for (;;) ::pause();
}

}  // namespace

int main(int argc, char** argv) {
  gcry_check_version(nullptr);
  // winsim itself is never part of a run's faults.
  ::unsetenv("ORV_SIM_FAULTS");
  CLI::App app{"winsim: a simulated Windows machine in a folder"};
  app.require_subcommand(1);
  std::string machine;

  sim::MachineConfig config;
  std::string windows = "10.0";
  auto* cNew = app.add_subcommand("new", "create a machine");
  cNew->add_option("MACHINE", machine, "machine folder")->required();
  cNew->add_option("--windows", windows, "Windows version MAJOR.MINOR (default 10.0)");
  cNew->add_option("--bits", config.Bits, "64 or 32 (default 64)");
  cNew->add_option("--computer", config.ComputerName, "computer name (default ORVANTA-TEST)");

  std::string integrity = "medium", at;
  int bits = 32;
  std::vector<std::string> uac, answers, program;
  double timeout = 120;
  bool virtualization = false, realClock = false;
  auto* cRun = app.add_subcommand("run", "run a host program as a process of the machine");
  cRun->add_option("MACHINE", machine, "machine folder")->required();
  cRun->add_option("--integrity", integrity, "low, medium (default), high or system");
  cRun->add_option("--bits", bits, "32 (default) or 64");
  cRun->add_option("--at", at, "where the program is placed (default C:\\Users\\User\\Downloads\\NAME)");
  cRun->add_option("--uac", uac, "answer to the next UAC prompt: accept or refuse (repeatable)")->take_first();
  cRun->add_option("--answer", answers, "answer to the next dialog (repeatable)")->take_first();
  cRun->add_option("--timeout", timeout, "seconds to wait (default 120)");
  cRun->add_flag("--virtualization", virtualization, "the token has UAC virtualization enabled");
  cRun->add_flag("--real-clock", realClock, "timers wait in real time (default: on the virtual clock)");
  winsimfaults::Options faultOptions;
  winsimfaults::OptionsAdd(*cRun, faultOptions);
  cRun->add_option("PROGRAM", program, "program and its arguments, after --")->required();

  std::string hostFile, winPath;
  auto* cPut = app.add_subcommand("put", "copy a host file into the machine");
  cPut->add_option("MACHINE", machine)->required();
  cPut->add_option("HOSTFILE", hostFile)->required();
  cPut->add_option("WINPATH", winPath)->required();
  auto* cGet = app.add_subcommand("get", "copy a file of the machine to the host");
  cGet->add_option("MACHINE", machine)->required();
  cGet->add_option("WINPATH", winPath)->required();
  cGet->add_option("HOSTFILE", hostFile)->required();
  auto* cTree = app.add_subcommand("tree", "list what is below a folder: path, size, SHA-256");
  cTree->add_option("MACHINE", machine)->required();
  cTree->add_option("WINPATH", winPath)->required();
  std::string share = "none";
  auto* cHold = app.add_subcommand("hold", "hold a file open as another process of the machine, until killed or a reboot");
  cHold->add_option("MACHINE", machine)->required();
  cHold->add_option("WINPATH", winPath)->required();
  cHold->add_option("--share", share, "what others may do meanwhile: none (default), read, write, delete, all");
  auto* cReboot = app.add_subcommand("reboot", "restart the machine: end every process, carry out the pending renames");
  cReboot->add_option("MACHINE", machine)->required();
  auto* cPending = app.add_subcommand("pending", "the pending rename operations, one SOURCE -> TARGET line each");
  cPending->add_option("MACHINE", machine)->required();
  std::string regKey;
  std::vector<std::string> regValues;
  int regView = 64;
  auto* cReg = app.add_subcommand("reg", "print a registry key's values and subkeys");
  cReg->add_option("MACHINE", machine)->required();
  cReg->add_option("KEY", regKey, "ROOT\\PATH, ROOT short (HKLM) or long (HKEY_LOCAL_MACHINE)")->required();
  cReg->add_option("--view", regView, "64 (default) or 32");
  auto* cRegSet = app.add_subcommand("reg-set", "create a registry key and set values");
  cRegSet->add_option("MACHINE", machine)->required();
  cRegSet->add_option("KEY", regKey, "ROOT\\PATH")->required();
  cRegSet->add_option("VALUE", regValues, "NAME=TYPE:VALUE (repeatable)");
  cRegSet->add_option("--view", regView, "64 (default) or 32");
  std::string substDrive, substTarget;
  bool substDelete = false;
  auto* cSubst = app.add_subcommand("subst", "substituted drives: list them, make X: stand for a folder, or remove one");
  cSubst->add_option("MACHINE", machine)->required();
  cSubst->add_option("DRIVE", substDrive, "the drive letter, X:");
  cSubst->add_option("WINPATH", substTarget, "the folder it stands for");
  cSubst->add_flag("--delete", substDelete, "remove the substitution of DRIVE");
  auto* cEvents = app.add_subcommand("events", "the machine's event log, JSON lines, oldest first");
  cEvents->add_option("MACHINE", machine)->required();

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    // One line, as for every other error.
    std::cerr << "winsim: " << e.what() << " (winsim --help lists the commands)\n";
    return kUsageError;
  }

  try {
    if (*cNew) {
      auto dot = windows.find('.');
      try {
        config.WindowsMajor = std::stoi(windows.substr(0, dot));
        config.WindowsMinor = dot == std::string::npos ? 0 : std::stoi(windows.substr(dot + 1));
      } catch (const std::exception&) {
        throw Failure("--windows is MAJOR.MINOR, such as 10.0 or 6.1");
      }
      sim::MachineCreate(machine, config);
      return 0;
    }
    if (*cRun) {
      const sim::FaultPlan plan = winsimfaults::PlanMake(faultOptions);
      winsimfaults::RunFaults faults(MachineOpen(machine), plan);
      return faults.Finish(
          Run(machine, integrity, bits, at, uac, answers, timeout, virtualization, realClock, program, faults.Environment()));
    }
    if (*cPut) {
      std::string m = MachineOpen(machine);
      int from = HostSourceOpen(hostFile);
      FdCloser fromCloser{from};
      Placement plan = PlacementPlan(m, winPath);
      Placed(plan, from, win::FILE_ATTRIBUTE_ARCHIVE).Keep();
      return 0;
    }
    if (*cGet) {
      std::string m = MachineOpen(machine);
      sim::ResolvedPath r = ResolveOrFail(m, winPath);
      if (!r.Exists || r.IsDirectory) throw Failure("no such file in the machine: " + winPath);
      HostFileWrite(r.Host, hostFile);
      return 0;
    }
    if (*cTree) {
      std::string m = MachineOpen(machine);
      sim::ResolvedPath r = ResolveOrFail(m, winPath);
      if (!r.Exists || !r.IsDirectory) throw Failure("no such folder in the machine: " + winPath);
      TreeWalk(r.Host, "", std::cout);
      return 0;
    }
    if (*cHold) return Hold(MachineOpen(machine), winPath, share);
    if (*cReboot) {
      std::string m = MachineOpen(machine);
      sim::MachineStateCheck(m);
      sim::MachineReboot(m, false);
      return 0;
    }
    if (*cPending) {
      for (const auto& [source, target] : sim::PendingRenamesRead(MachineOpen(machine)))
        std::cout << TextToUtf8(source) << " -> " << TextToUtf8(target) << "\n";
      return 0;
    }
    if (*cReg) {
      winsimreg::RegPrint(MachineOpen(machine), regKey, regView, std::cout);
      return 0;
    }
    if (*cRegSet) {
      winsimreg::RegSet(MachineOpen(machine), regKey, regValues, regView);
      return 0;
    }
    if (*cSubst) {
      std::string m = MachineOpen(machine);
      if (substDrive.empty()) {
        if (substDelete) throw Failure("--delete needs the drive");
        for (const auto& sub : sim::SubstitutionsRead(m))
          std::cout << TextToUtf8(Text(1, sub.Drive)) << ": " << TextToUtf8(sub.Target) << "\n";
        return 0;
      }
      if (substDrive.size() != 2 || substDrive[1] != ':' || !std::isalpha(static_cast<unsigned char>(substDrive[0])))
        throw Failure("the drive is a letter and a colon, such as X:");
      if (substDelete == !substTarget.empty())
        throw Failure(substDelete ? "--delete takes no folder" : "the folder the drive stands for is missing");
      sim::MachineStateCheck(m);
      sim::SubstitutionSet(m, static_cast<char16_t>(std::toupper(static_cast<unsigned char>(substDrive[0]))),
                           Utf8ToText(substTarget));
      return 0;
    }
    if (*cEvents) {
      std::string m = MachineOpen(machine);
      std::ifstream in(m + "/events.jsonl");
      std::cout << in.rdbuf();
      return 0;
    }
  } catch (const sim::MachineError& e) {
    std::cerr << "winsim: " << e.what() << "\n";
    return kUsageError;
  } catch (const Failure& e) {
    std::cerr << "winsim: " << e.what() << "\n";
    return kUsageError;
  } catch (const std::exception& e) {
    std::cerr << "winsim: " << e.what() << "\n";
    return kUsageError;
  }
  return kUsageError;
}
