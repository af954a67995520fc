// The plan of faults on demand for one run of the machine: written by winsim, read by every
// process of the run.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/sim/faults.h"
#include "platform/sim/machine.h"
#include "platform/sim/tables.h"
#include "platform/utf.h"

namespace sim {

namespace faults {

// The part of the plan's folder every process of the run maps: all zero at the start.
struct SharedState {
  std::atomic<std::uint64_t> Calls;
  std::atomic<std::uint64_t> CutAt;
};
static_assert(std::atomic<std::uint64_t>::is_always_lock_free, "shared between processes");

namespace {

constexpr const char* kEnvironment = "ORV_SIM_FAULTS";
constexpr std::size_t kSharedSize = 4096;

SharedState* SharedMap(const std::string& aFolder) {
  int fd = ::open((aFolder + "/shared").c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return nullptr;
  void* p = ::mmap(nullptr, kSharedSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  ::close(fd);
  return p == MAP_FAILED ? nullptr : static_cast<SharedState*>(p);
}

bool PlanRead(const std::string& aFolder, FaultPlan& aPlan) {
  std::ifstream in(aFolder + "/plan");
  if (!in) return false;
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> f = TableFieldsSplit(line);
    try {
      if (f[0] == "count") aPlan.CountCalls = true;
      else if (f[0] == "fail-call" && f.size() == 3) {
        aPlan.FailCall = std::stoull(f[1]);
        aPlan.FailCallError = static_cast<win::DWORD>(std::stoul(f[2]));
      } else if (f[0] == "fail-path" && f.size() == 3) {
        aPlan.FailPaths.emplace_back(Utf8ToText(f[1]), static_cast<win::DWORD>(std::stoul(f[2])));
      } else if (f[0] == "power-cut" && f.size() == 2) {
        aPlan.PowerCut = std::stoull(f[1]);
      }
    } catch (const std::exception&) {
      return false;
    }
  }
  return true;
}

Run* RunLoad() {
  const char* folder = std::getenv(kEnvironment);
  if (!folder || !*folder || !CurrentProcess()) return nullptr;
  auto* run = new Run;
  run->Folder = folder;
  run->Machine = MachineFolderHost();
  if (!PlanRead(run->Folder, run->Plan) || !(run->Shared = SharedMap(run->Folder))) {
    delete run;
    return nullptr;
  }
  for (const auto& [path, error] : run->Plan.FailPaths) run->FailPathsUpper.emplace_back(FailPathNormal(path), error);
  if (run->Plan.PowerCut)
    run->UnflushedFd = ::open((run->Folder + "/unflushed").c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  return run;
}

}  // namespace

Run* RunGet() {
  // Never destroyed: threads still make calls while the process's exit handlers run.
  static Run* const run = RunLoad();
  return run;
}

std::uint64_t CallNext(Run& aRun) { return aRun.Shared->Calls.fetch_add(1) + 1; }

bool PowerIsOff(const Run& aRun) { return aRun.Shared->CutAt.load() != 0; }

void PowerCutMark(Run& aRun, std::uint64_t aCall) { aRun.Shared->CutAt.store(aCall); }

}  // namespace faults

std::string FaultPlanStart(const std::string& aMachine, const FaultPlan& aPlan, std::string& aFolder) {
  std::string tmpl = StatePath(aMachine, "faults-XXXXXX");
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back(0);
  if (!::mkdtemp(buf.data())) throw MachineError("cannot create the folder of the faults in " + aMachine);
  aFolder = buf.data();
  std::string plan;
  if (aPlan.CountCalls) plan += "count\n";
  if (aPlan.FailCall)
    plan += "fail-call\t" + std::to_string(aPlan.FailCall) + "\t" + std::to_string(aPlan.FailCallError) + "\n";
  for (const auto& [path, error] : aPlan.FailPaths)
    plan += "fail-path\t" + TableFieldEscape(TextToUtf8(path)) + "\t" + std::to_string(error) + "\n";
  if (aPlan.PowerCut) plan += "power-cut\t" + std::to_string(aPlan.PowerCut) + "\n";
  FileWriteAll(aFolder + "/plan", plan);
  int fd = ::open((aFolder + "/shared").c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(faults::kSharedSize)) != 0) {
    if (fd >= 0) ::close(fd);
    throw MachineError("cannot create the faults' shared state in " + aFolder);
  }
  ::close(fd);
  return std::string(faults::kEnvironment) + "=" + aFolder;
}

FaultOutcome FaultOutcomeRead(const std::string& aFolder) {
  FaultOutcome o;
  int fd = ::open((aFolder + "/shared").c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return o;
  // The layout of SharedState: the count, then the call of the cut.
  std::uint64_t raw[2] = {0, 0};
  if (::pread(fd, raw, sizeof raw, 0) == static_cast<ssize_t>(sizeof raw)) {
    o.Calls = raw[0];
    o.CutAt = raw[1];
  }
  ::close(fd);
  return o;
}

void FaultPlanEnd(const std::string& aFolder) {
  std::error_code ec;
  std::filesystem::remove_all(aFolder, ec);
}

bool FaultSpecParse(const std::string& aSpec, std::string& aWhere, win::DWORD& aError) {
  // The error follows the last ':' (a Windows path has one of its own).
  const auto colon = aSpec.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == aSpec.size()) return false;
  const std::string error = aSpec.substr(colon + 1);
  try {
    const bool hex = error.size() > 2 && error[0] == '0' && (error[1] == 'x' || error[1] == 'X');
    const std::string digits = hex ? error.substr(2) : error;
    if (digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") != std::string::npos) return false;
    const unsigned long long e = std::stoull(digits, nullptr, hex ? 16 : 10);
    if (e == 0 || e > 0xFFFFFFFFull) return false;
    aError = static_cast<win::DWORD>(e);
  } catch (const std::exception&) {
    return false;
  }
  aWhere = aSpec.substr(0, colon);
  return true;
}

}  // namespace sim
