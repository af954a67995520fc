// winsim: the simulated Windows machine's command-line tool. Reference: docs/winsim.md.
#include <gcrypt.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/sim/machine.h"
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

// Creates the missing folders of a Windows path inside the machine; returns the host path
// of the entry itself.
std::string EnsureParents(const std::string& aMachine, const std::string& aWinPath) {
  Text path = Utf8ToText(aWinPath);
  std::replace(path.begin(), path.end(), u'/', u'\\');
  if (path.size() < 3 || path[1] != u':' || path[2] != u'\\') throw Failure("expected a full path such as C:\\Folder\\file.exe: " + aWinPath);
  size_t pos = 3;
  for (;;) {
    size_t next = path.find(u'\\', pos);
    if (next == Text::npos) break;
    Text folder = path.substr(0, next);
    sim::ResolvedPath r = sim::ResolvePath(ContextFor(aMachine), folder);
    if (r.Error) throw Failure("not a usable Windows path: " + aWinPath);
    if (!r.Exists) {
      if (::mkdir(r.Host.c_str(), 0755) != 0) throw Failure("cannot create " + TextToUtf8(folder));
      sim::HostAttributesSet(r.Host, win::FILE_ATTRIBUTE_DIRECTORY);
    } else if (!r.IsDirectory) {
      throw Failure(TextToUtf8(folder) + " is a file, not a folder");
    }
    pos = next + 1;
  }
  sim::ResolvedPath r = ResolveOrFail(aMachine, aWinPath);
  if (r.IsDirectory) throw Failure(aWinPath + " is a folder");
  return r.Host;
}

void CopyInto(const std::string& aFrom, const std::string& aTo) {
  std::string tmp = aTo + ".winsim-put";
  std::error_code ec;
  fs::copy_file(aFrom, tmp, fs::copy_options::overwrite_existing, ec);
  if (ec) throw Failure("cannot copy " + aFrom + ": " + ec.message());
  fs::rename(tmp, aTo, ec);
  if (ec) {
    fs::remove(tmp);
    throw Failure("cannot place " + aTo + ": " + ec.message());
  }
}

std::string Sha256(const std::string& aHost) {
  std::ifstream in(aHost, std::ios::binary);
  if (!in) throw Failure("cannot read " + aHost);
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
    if (fs::is_directory(fs::symlink_status(host))) {
      out << rel << "\\\t-\t-\n";
      TreeWalk(host, rel, out);
    } else {
      out << rel << "\t" << fs::file_size(host) << "\t" << Sha256(host) << "\n";
    }
  }
}

// ---- run ----------------------------------------------------------------------------------

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
  if (aAt.empty()) {
    std::string name = fs::path(program).filename().string();
    if (fs::path(name).extension().empty()) name += ".exe";
    aAt = "C:\\Users\\User\\Downloads\\" + name;
  }
  sim::ResolvedPath pre = sim::ResolvePath(ContextFor(machine), Utf8ToText(aAt));
  if (pre.Error && pre.Error != win::ERROR_PATH_NOT_FOUND) throw Failure("not a usable Windows path: " + aAt);
  if (pre.Exists && pre.IsDirectory) throw Failure(aAt + " is a folder");
  // Everything is checked; from here on the machine changes.
  std::string host = EnsureParents(machine, aAt);
  CopyInto(program, host);
  ::chmod(host.c_str(), 0755);
  sim::HostAttributesSet(host, win::FILE_ATTRIBUTE_ARCHIVE);
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
  req.HostExecutable = host;
  if (bVirtualization) req.ExtraEnvironment.push_back("WINSIM_VIRTUALIZATION=1");
  // Timers run on the virtual clock unless asked otherwise; the processes it starts inherit it.
  ::unsetenv("ORV_SIM_VIRTUAL_CLOCK");
  if (!bRealClock) req.ExtraEnvironment.push_back("ORV_SIM_VIRTUAL_CLOCK=1");
  for (const auto& e : aEnvironment) req.ExtraEnvironment.push_back(e);
  std::cout.flush();
  sim::SpawnResult spawned = sim::ProcessSpawn(machine, req, false);

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
    if (std::chrono::steady_clock::now() > deadline) {
      for (const auto& p : table) {
        if (tree.count(p.Record.Pid) && !p.Exited && p.HostPid > 0) ::kill(p.HostPid, SIGKILL);
      }
      if (!monitorReaped) ::waitpid(spawned.MonitorPid, nullptr, 0);
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
  auto* cEvents = app.add_subcommand("events", "the machine's event log, JSON lines, oldest first");
  cEvents->add_option("MACHINE", machine)->required();

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
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
      if (!fs::is_regular_file(hostFile)) throw Failure("no such host file: " + hostFile);
      sim::ResolvedPath pre = sim::ResolvePath(ContextFor(m), Utf8ToText(winPath));
      if (pre.Error && pre.Error != win::ERROR_PATH_NOT_FOUND) throw Failure("not a usable Windows path: " + winPath);
      std::string host = EnsureParents(m, winPath);
      CopyInto(hostFile, host);
      sim::HostAttributesSet(host, win::FILE_ATTRIBUTE_ARCHIVE);
      return 0;
    }
    if (*cGet) {
      std::string m = MachineOpen(machine);
      sim::ResolvedPath r = ResolveOrFail(m, winPath);
      if (!r.Exists || r.IsDirectory) throw Failure("no such file in the machine: " + winPath);
      std::string tmp = hostFile + ".winsim-get";
      std::error_code ec;
      fs::copy_file(r.Host, tmp, fs::copy_options::overwrite_existing, ec);
      if (!ec) fs::rename(tmp, hostFile, ec);
      if (ec) {
        fs::remove(tmp, ec);
        throw Failure("cannot write " + hostFile);
      }
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
      sim::MachineReboot(MachineOpen(machine), false);
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
