// orvanta-sweep: every file-system call of an upgrade, failed and cut off in turn, on
// simulated machines. Reference: docs/orvanta-sweep.md.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "installer/uInstallScript.h"
#include "platform/utf.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

constexpr int kPowerCutStatus = 125;  // winsim run after a power cut
constexpr int kTimedOutStatus = 124;
const char* const kInstallFolder = "Program Files (x86)/Orvanta";
const char* const kDriver = "Windows/System32/drivers/Vexlon.sys";
const char* const kDriverEntry = "DRIVERS\\VEXLON\\X64\\VEXLON.SYS";
const char* const kSetupAt = "C:\\Users\\User\\Downloads\\Setup.exe";

struct SweepError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct ProductFile {
  std::string Entry;  // as in the script, '\' between parts
  std::string Data;
};
using Product = std::vector<ProductFile>;

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string HostRead(const fs::path& aPath) {
  std::ifstream in(aPath, std::ios::binary);
  if (!in) throw SweepError("cannot read " + aPath.string());
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void HostWrite(const fs::path& aPath, const std::string& aData) {
  fs::create_directories(aPath.parent_path());
  std::ofstream out(aPath, std::ios::binary);
  out << aData;
  if (!out) throw SweepError("cannot write " + aPath.string());
}

fs::path EntryHost(const fs::path& aFolder, const std::string& aEntry) {
  std::string rel = aEntry;
  std::replace(rel.begin(), rel.end(), '\\', '/');
  return aFolder / rel;
}

// Runs a program with its standard output and error in aOutput; its exit status, -1 when it
// did not exit by itself.
int Exec(const std::vector<std::string>& aArgs, const std::string& aOutput) {
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_addopen(&actions, 1, aOutput.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ::posix_spawn_file_actions_adddup2(&actions, 1, 2);
  ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  std::vector<char*> argv;
  for (const std::string& a : aArgs) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  // The tools run as a user runs them: on no machine of their own.
  std::vector<char*> env;
  for (char** e = environ; *e; ++e) {
    if (std::strncmp(*e, "WINSIM_", 7) != 0 && std::strncmp(*e, "ORV_SIM_FAULTS=", 15) != 0) env.push_back(*e);
  }
  env.push_back(nullptr);
  pid_t pid = -1;
  const int rc = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), env.data());
  ::posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// ---- the two versions -------------------------------------------------------------------------

std::string Noise(std::size_t aSize, unsigned aSeed) {
  std::string r;
  for (unsigned x = aSeed; r.size() < aSize;) r.push_back(static_cast<char>((x = x * 1103515245u + 12345u) >> 16));
  return r;
}

// The small payload: the stand-in Vexlon.exe, a text, a file in a sub-folder and the two
// drivers; the new version changes each of them but Vexlon.exe and adds a file.
Product SmallPayload(const std::string& aVexlon, bool bNew) {
  const std::string tag = bNew ? "4.2.1.77" : "4.2.1.76";
  Product p = {
      {"Vexlon.exe", HostRead(aVexlon)},
      {"Readme.txt", "Orvanta " + tag + "\r\n"},
      {"Data\\Strings.xml", "<strings version=\"" + tag + "\">" + std::string(3000, 'x') + "</strings>\r\n"},
  };
  if (bNew) p.push_back({"Data\\Notes.txt", "New in " + tag + "\r\n"});
  p.push_back({"Drivers\\Vexlon\\x86\\Vexlon.sys", "x86 driver " + tag + Noise(20000, bNew ? 3 : 1)});
  p.push_back({"Drivers\\Vexlon\\x64\\Vexlon.sys", "x64 driver " + tag + Noise(30000, bNew ? 4 : 2)});
  return p;
}

// A product given as a script and a folder is the new version. The old one lacks its last
// entry that is neither Vexlon.exe nor a driver, and differs in every file but the programs
// (which carry their version resource at their very end and must still run).
void ProductFromFolder(const std::string& aScript, const std::string& aFolder, Product& aOld, Product& aNew) {
  for (const TInstallScriptEntry& e : InstallScriptParse(HostRead(aScript))) {
    const std::string entry = TextToUtf8(e.Entry);
    aNew.push_back({entry, HostRead(EntryHost(aFolder, entry))});
  }
  if (aNew.empty()) throw SweepError(aScript + " lists no files");
  std::size_t dropped = aNew.size();
  for (std::size_t i = 0; i < aNew.size(); ++i) {
    const std::string u = Upper(aNew[i].Entry);
    if (u != "VEXLON.EXE" && u.rfind("DRIVERS\\", 0) != 0) dropped = i;
  }
  for (std::size_t i = 0; i < aNew.size(); ++i) {
    if (i == dropped) continue;
    ProductFile f = aNew[i];
    const std::string u = Upper(f.Entry);
    if (u.size() < 4 || u.substr(u.size() - 4) != ".EXE") f.Data += "\r\nOrvanta, an earlier version\r\n";
    aOld.push_back(std::move(f));
  }
}

void Pack(const std::string& aPacker, const std::string& aStub, const Product& aProduct, const fs::path& aFolder, const std::string& aVersion) {
  std::string script = "// The product, as the fault sweep installs it\r\n";
  for (const ProductFile& f : aProduct) {
    HostWrite(EntryHost(aFolder / "files", f.Entry), f.Data);
    script += f.Entry + "\r\n";
  }
  HostWrite(aFolder / "InstallScript.txt", script);
  const std::string log = (aFolder / "pack.txt").string();
  if (Exec({aPacker, "--script", (aFolder / "InstallScript.txt").string(), "--from", (aFolder / "files").string(),
            "--out", (aFolder / "Setup").string(), "--version", aVersion, "--stub", aStub},
           log) != 0)
    throw SweepError("orvanta-pack failed: " + HostRead(log));
}

// ---- what a machine shows ---------------------------------------------------------------------

struct Versions {
  std::map<std::string, const ProductFile*> Old, New;  // by upper-cased entry
};

std::string Describe(const std::string& aData) {
  if (std::all_of(aData.begin(), aData.end(), [](char c) { return c == 0; }))
    return "zeros (" + std::to_string(aData.size()) + " bytes)";
  return "neither version's content (" + std::to_string(aData.size()) + " bytes)";
}

// Every file of the install folder and the driver, against both versions: what is wrong.
std::vector<std::pair<std::string, std::string>> TornFiles(const fs::path& aMachine, const Versions& aVersions) {
  std::vector<std::pair<std::string, std::string>> torn;
  const fs::path c = aMachine / "drives" / "C";
  const fs::path install = c / kInstallFolder;
  const std::string installWin = "C:\\Program Files (x86)\\Orvanta\\";
  std::set<std::string> seen;
  std::error_code ec;
  if (fs::is_directory(install, ec)) {
    for (auto it = fs::recursive_directory_iterator(install, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
      if (!it->is_regular_file()) continue;
      std::string entry = fs::relative(it->path(), install).string();
      std::replace(entry.begin(), entry.end(), '/', '\\');
      const std::string key = Upper(entry);
      seen.insert(key);
      const std::string data = HostRead(it->path());
      auto o = aVersions.Old.find(key), n = aVersions.New.find(key);
      if (o == aVersions.Old.end() && n == aVersions.New.end()) {
        torn.emplace_back(installWin + entry, "a file of neither version");
      } else if (!(o != aVersions.Old.end() && o->second->Data == data) &&
                 !(n != aVersions.New.end() && n->second->Data == data)) {
        torn.emplace_back(installWin + entry, Describe(data));
      }
    }
  }
  for (const auto& [key, file] : aVersions.Old) {
    if (!seen.count(key)) torn.emplace_back(installWin + file->Entry, "missing");
  }
  auto o = aVersions.Old.find(kDriverEntry), n = aVersions.New.find(kDriverEntry);
  if (o != aVersions.Old.end() || n != aVersions.New.end()) {
    const std::string driverWin = "C:\\Windows\\System32\\drivers\\Vexlon.sys";
    if (!fs::exists(c / kDriver, ec)) {
      if (o != aVersions.Old.end()) torn.emplace_back(driverWin, "missing");
    } else {
      const std::string data = HostRead(c / kDriver);
      if (!(o != aVersions.Old.end() && o->second->Data == data) && !(n != aVersions.New.end() && n->second->Data == data))
        torn.emplace_back(driverWin, Describe(data));
    }
  }
  return torn;
}

// The value of a top-level field of an event line (texts unescaped, numbers as written).
std::string JsonField(const std::string& aLine, const std::string& aName) {
  const std::string key = "\"" + aName + "\":";
  std::size_t p = aLine.find(key);
  if (p == std::string::npos) return {};
  p += key.size();
  std::string r;
  if (p < aLine.size() && aLine[p] != '"') {
    while (p < aLine.size() && aLine[p] != ',' && aLine[p] != '}') r += aLine[p++];
    return r;
  }
  for (++p; p < aLine.size() && aLine[p] != '"'; ++p) {
    if (aLine[p] != '\\') {
      r += aLine[p];
      continue;
    }
    const char e = aLine[++p];
    r += e == 'n' ? '\n' : e == 'r' ? '\r' : e == 't' ? '\t' : e;
  }
  return r;
}

struct RunEvents {
  std::string Call;  // what the faulted call was: "FUNCTION PATH [-> TARGET]"
  std::vector<std::string> Problems;
};

// The events a run added: the faulted call, crashes and exit codes outside what the
// installation sequence gives.
RunEvents EventsRead(const fs::path& aMachine, std::uintmax_t aFrom, bool bCut) {
  RunEvents r;
  std::ifstream in(aMachine / "events.jsonl", std::ios::binary);
  in.seekg(static_cast<std::streamoff>(aFrom));
  std::map<std::string, std::string> images;  // pid -> what it is
  for (std::string line; std::getline(in, line);) {
    const std::string type = JsonField(line, "type");
    if (type == "process-start") {
      const std::string command = JsonField(line, "commandLine");
      const bool installer = JsonField(line, "image") == kSetupAt;
      images[JsonField(line, "pid")] = !installer ? JsonField(line, "image")
                                       : command.find("-RequestedElevation") != std::string::npos
                                           ? "elevated installer"
                                           : "installer";
    } else if (type == "process-exit") {
      const std::string what = images.count(JsonField(line, "pid")) ? images[JsonField(line, "pid")] : "a process";
      const unsigned long long code = std::strtoull(JsonField(line, "exitCode").c_str(), nullptr, 10);
      if (code >= 0xC0000000ull || code == 3) {
        r.Problems.push_back(what + " crashed (exit code " + std::to_string(code) + ")");
      } else if (!bCut && what == "installer" && code != 1 && code != 2) {
        r.Problems.push_back("the installer ended with exit code " + std::to_string(code));
      } else if (!bCut && what == "elevated installer" && code != 9 && code != 10 && code != 12) {
        r.Problems.push_back("the elevated installer ended with exit code " + std::to_string(code));
      }
    } else if ((type == "fault" || type == "power-cut") && r.Call.empty()) {
      r.Call = JsonField(line, "function") + " " + JsonField(line, "path");
      if (!JsonField(line, "target").empty()) r.Call += " -> " + JsonField(line, "target");
    }
  }
  return r;
}

// ---- the sweep ---------------------------------------------------------------------------------

struct Job {
  std::uint64_t Call;
  int Fault;  // a Win32 error, or 0 for the power cut
};

std::string FaultName(int aFault) { return aFault ? std::to_string(aFault) : "power-cut"; }

struct Sweep {
  std::string Winsim;
  fs::path Work, Template, Setup;
  std::uintmax_t TemplateEvents = 0;
  Versions Both;
  double Timeout = 60;

  std::mutex Lock;
  std::vector<std::string> Torn, Failures;
  std::map<std::uint64_t, std::string> Calls;  // what each call was, as the faults saw it
  std::atomic<std::size_t> Done{0};

  // One run on a copy of the template machine, in a folder of its own: the monitor of a
  // process that a restart ended may still record its end in the folder of the run before.
  void RunOne(const Job& aJob, const fs::path& aFolder, unsigned aRun) {
    const fs::path machine = aFolder / ("m" + std::to_string(aRun));
    const std::string out = (aFolder / "out.txt").string();
    std::error_code ec;
    fs::remove_all(aFolder / ("m" + std::to_string(aRun - 1)), ec);
    if (Exec({"cp", "-a", Template.string(), machine.string()}, out) != 0) {
      Report({}, {"cannot copy the machine: " + HostRead(out)}, aJob, "");
      return;
    }
    std::vector<std::string> args = {Winsim, "run", machine.string(), "--uac", "accept", "--timeout",
                                     std::to_string(static_cast<int>(Timeout))};
    if (aJob.Fault) {
      args.insert(args.end(), {"--fail-call", std::to_string(aJob.Call) + ":" + std::to_string(aJob.Fault)});
    } else {
      args.insert(args.end(), {"--power-cut", std::to_string(aJob.Call)});
    }
    args.insert(args.end(), {"--at", kSetupAt, "--", Setup.string()});
    const int status = Exec(args, out);
    const bool cut = status == kPowerCutStatus;
    std::vector<std::string> problems;
    if (status == kTimedOutStatus) problems.push_back("time-out: " + HostRead(out));
    else if (status < 0 || (status != kPowerCutStatus && status > 13)) problems.push_back("winsim: " + HostRead(out));
    RunEvents events = EventsRead(machine, TemplateEvents, cut);
    problems.insert(problems.end(), events.Problems.begin(), events.Problems.end());
    std::vector<std::string> torn;
    // A failed call leaves the machine running: its state now, and after the next restart
    // (which carries out what waits for it). A power cut is judged after the restart.
    if (!cut) {
      for (const auto& [file, what] : TornFiles(machine, Both)) torn.push_back(file + ": " + what + ", after the run");
    }
    if (Exec({Winsim, "reboot", machine.string()}, out) != 0) problems.push_back("winsim reboot: " + HostRead(out));
    for (const auto& [file, what] : TornFiles(machine, Both)) torn.push_back(file + ": " + what + ", after the restart");
    Report(torn, problems, aJob, events.Call);
    // A run with findings keeps its machine, for a look.
    if (!torn.empty() || !problems.empty())
      fs::rename(machine, Work / ("kept-" + FaultName(aJob.Fault) + "-" + std::to_string(aJob.Call)), ec);
  }

  void Report(const std::vector<std::string>& aTorn, const std::vector<std::string>& aProblems, const Job& aJob,
              const std::string& aCall) {
    const std::string where = "fault=" + FaultName(aJob.Fault) + " call=" + std::to_string(aJob.Call) +
                              (aCall.empty() ? "" : " (" + aCall + ")");
    std::lock_guard<std::mutex> g(Lock);
    if (!aCall.empty() && aJob.Fault) Calls.emplace(aJob.Call, aCall);
    for (const std::string& t : aTorn) Torn.push_back(where + " file=" + t);
    for (const std::string& p : aProblems) Failures.push_back(where + ": " + p);
  }
};

std::uint64_t CallsCount(Sweep& s) {
  const fs::path folder = s.Work / "count";
  const fs::path machine = folder / "m";
  fs::create_directories(folder);
  const std::string out = (folder / "out.txt").string();
  if (Exec({"cp", "-a", s.Template.string(), machine.string()}, out) != 0) throw SweepError("cannot copy the machine");
  const int status = Exec({s.Winsim, "run", machine.string(), "--uac", "accept", "--count-calls", "--at", kSetupAt, "--",
                           s.Setup.string()},
                          out);
  const std::string said = HostRead(out);
  const RunEvents events = EventsRead(machine, s.TemplateEvents, false);
  const auto torn = TornFiles(machine, s.Both);
  if (status != 1 || !events.Problems.empty() || !torn.empty())
    throw SweepError("the upgrade fails without any fault (winsim run: " + std::to_string(status) + "): " + said);
  const std::size_t p = said.find("calls: ");
  if (p == std::string::npos) throw SweepError("winsim run --count-calls said no count: " + said);
  return std::stoull(said.substr(p + 7));
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"orvanta-sweep: every file-system call of an upgrade failed and cut off in turn"};
  std::string script, from, work, winsim = ORV_WINSIM_EXE, packer = ORV_PACK_EXE, vexlon = ORV_SAMPLE_VEXLON;
  unsigned jobs = std::max(1u, std::thread::hardware_concurrency());
  std::vector<int> errors = {112, 5, 32};
  bool powerCut = true, keep = false;
  double timeout = 60;
  app.add_option("--script", script, "install script of the product (the new version); default: a small payload");
  app.add_option("--from", from, "folder of the product's files");
  app.add_option("--jobs,-j", jobs, "runs at a time (default: the machine's cores)")->check(CLI::Range(1u, 256u));
  app.add_option("--errors", errors, "Win32 errors each call fails with (default 112 5 32)")->delimiter(',');
  app.add_flag("!--no-power-cut", powerCut, "no power cuts");
  app.add_option("--work", work, "folder for the machines (default: a new one in the temporary folder)");
  app.add_flag("--keep", keep, "keep the work folder, even when nothing was found");
  app.add_option("--timeout", timeout, "seconds a run may take (default 60)");
  app.add_option("--winsim", winsim, "winsim to use");
  app.add_option("--pack", packer, "orvanta-pack to use");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 2;
  }
  if (script.empty() != from.empty()) {
    std::cerr << "orvanta-sweep: --script and --from go together\n";
    return 2;
  }

  Sweep s;
  s.Winsim = winsim;
  s.Timeout = timeout;
  try {
    if (work.empty()) {
      std::string tmpl = (fs::temp_directory_path() / "orvanta-sweep.XXXXXX").string();
      if (!::mkdtemp(tmpl.data())) throw SweepError("cannot create a work folder");
      work = tmpl;
    }
    s.Work = fs::absolute(work);
    fs::create_directories(s.Work);

    // The two versions, packed.
    Product oldVersion, newVersion;
    if (script.empty()) {
      oldVersion = SmallPayload(vexlon, false);
      newVersion = SmallPayload(vexlon, true);
    } else {
      ProductFromFolder(script, from, oldVersion, newVersion);
    }
    for (const ProductFile& f : oldVersion) s.Both.Old[Upper(f.Entry)] = &f;
    for (const ProductFile& f : newVersion) s.Both.New[Upper(f.Entry)] = &f;
    std::cerr << "orvanta-sweep: packing " << newVersion.size() << " files, two versions, in " << s.Work.string() << "\n";
    // Without its debugging information the installer is a fraction of its size, and every run
    // copies it into its machine.
    std::string stub = (fs::path(packer).parent_path() / "Setup").string();
    if (Exec({"strip", "--strip-debug", "-o", (s.Work / "Setup-stub").string(), stub}, (s.Work / "strip.txt").string()) == 0)
      stub = (s.Work / "Setup-stub").string();
    Pack(packer, stub, oldVersion, s.Work / "old", "4.2.1.76");
    Pack(packer, stub, newVersion, s.Work / "new", "4.2.1.77");
    s.Setup = s.Work / "new" / "Setup";

    // The machine every run starts from: the old version installed.
    s.Template = s.Work / "template";
    const std::string out = (s.Work / "template.txt").string();
    if (Exec({winsim, "new", s.Template.string()}, out) != 0) throw SweepError("winsim new: " + HostRead(out));
    const int installed = Exec({winsim, "run", s.Template.string(), "--integrity", "high", "--at",
                                "C:\\Users\\User\\Downloads\\SetupOld.exe", "--", (s.Work / "old" / "Setup").string()},
                               out);
    Versions oldOnly;
    oldOnly.Old = s.Both.Old;
    if (installed != 10 || !TornFiles(s.Template, oldOnly).empty())
      throw SweepError("the old version does not install (exit code " + std::to_string(installed) + "): " + HostRead(out));
    fs::remove(s.Template / "drives/C/Users/User/Downloads/SetupOld.exe");
    s.TemplateEvents = fs::file_size(s.Template / "events.jsonl");

    const std::uint64_t calls = CallsCount(s);
    std::vector<Job> queue;
    for (std::uint64_t k = 1; k <= calls; ++k) {
      for (int e : errors) queue.push_back({k, e});
      if (powerCut) queue.push_back({k, 0});
    }
    std::cerr << "orvanta-sweep: the upgrade makes " << calls << " file-system calls: " << queue.size() << " runs on "
              << jobs << " cores\n";

    std::atomic<std::size_t> next{0};
    std::vector<std::thread> workers;
    for (unsigned w = 0; w < jobs; ++w) {
      workers.emplace_back([&, w] {
        const fs::path folder = s.Work / ("w" + std::to_string(w));
        fs::create_directories(folder);
        unsigned run = 0;
        for (std::size_t i; (i = next++) < queue.size();) {
          try {
            s.RunOne(queue[i], folder, ++run);
          } catch (const std::exception& e) {
            s.Report({}, {e.what()}, queue[i], "");
          }
          ++s.Done;
        }
      });
    }
    const bool tty = ::isatty(2);
    auto last = std::chrono::steady_clock::now();
    for (;;) {
      const std::size_t done = s.Done.load();
      const auto now = std::chrono::steady_clock::now();
      if (done == queue.size() || now - last >= std::chrono::seconds(tty ? 1 : 15)) {
        std::size_t torn, failures;
        {
          std::lock_guard<std::mutex> g(s.Lock);
          torn = s.Torn.size();
          failures = s.Failures.size();
        }
        std::cerr << (tty ? "\r" : "") << "orvanta-sweep: " << done << "/" << queue.size() << " runs, " << torn
                  << " torn files, " << failures << " failures" << (tty ? "" : "\n") << std::flush;
        last = now;
      }
      if (done == queue.size()) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    for (auto& t : workers) t.join();
    if (tty) std::cerr << "\n";

    // What the faults hit: the first call into the temp folder's files and the last move.
    std::uint64_t firstExtraction = 0, lastMove = 0;
    for (const auto& [k, call] : s.Calls) {
      if (!firstExtraction && call.rfind("CreateFileW ", 0) == 0 && call.find("Orvanta-tmp\\") != std::string::npos)
        firstExtraction = k;
      if (call.rfind("MoveFileExW ", 0) == 0 && call.find("Orvanta-tmp\\") != std::string::npos) lastMove = k;
    }
    {
      std::ofstream list(s.Work / "calls.txt");
      for (const auto& [k, call] : s.Calls) list << k << "\t" << call << "\n";
    }
    std::sort(s.Torn.begin(), s.Torn.end());
    std::sort(s.Failures.begin(), s.Failures.end());
    std::cout << "calls: " << calls << "\n";
    std::cout << "fault_points: " << calls << "\n";
    std::cout << "runs: " << queue.size() << "\n";
    std::cout << "first_extraction_call: " << firstExtraction << "\n";
    std::cout << "last_move_call: " << lastMove << "\n";
    std::cout << "torn_files: " << s.Torn.size() << "\n";
    for (const std::string& t : s.Torn) std::cout << "torn: " << t << "\n";
    std::cout << "failures: " << s.Failures.size() << "\n";
    for (const std::string& f : s.Failures) std::cout << "failure: " << f << "\n";
    const bool clean = s.Torn.empty() && s.Failures.empty();
    std::error_code ec;
    if (clean && !keep) {
      fs::remove_all(s.Work, ec);
    } else {
      std::cout << "work folder: " << s.Work.string() << "\n";
    }
    return clean ? 0 : 1;
  } catch (const std::exception& e) {
    std::cerr << "orvanta-sweep: " << e.what() << "\n";
    if (!s.Work.empty()) std::cerr << "orvanta-sweep: the work folder stays: " << s.Work.string() << "\n";
    return 2;
  }
}
