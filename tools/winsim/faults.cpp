#include "faults.h"

#include <filesystem>
#include <iostream>
#include <stdexcept>

#include "platform/utf.h"

namespace winsimfaults {

void OptionsAdd(CLI::App& aRun, Options& o) {
  aRun.add_option("--fail-call", o.FailCall, "N:ERROR: the run's Nth file-system call fails with Win32 error ERROR");
  aRun.add_option("--fail-path", o.FailPaths, "WINPATH:ERROR: every call on WINPATH fails with ERROR (repeatable)")
      ->take_first();
  aRun.add_option("--power-cut", o.PowerCut, "N: the machine loses power at the run's Nth file-system call");
  aRun.add_flag("--count-calls", o.CountCalls, "print the number of file-system calls the run made (standard error)");
}

sim::FaultPlan PlanMake(const Options& o) {
  sim::FaultPlan plan;
  plan.CountCalls = o.CountCalls;
  if (!o.FailCall.empty()) {
    std::string n;
    if (!sim::FaultSpecParse(o.FailCall, n, plan.FailCallError) || n.find_first_not_of("0123456789") != std::string::npos ||
        n.size() > 18 || (plan.FailCall = std::stoull(n)) == 0)
      throw std::runtime_error("--fail-call is N:ERROR, N from 1, ERROR a Win32 error code above 0: " + o.FailCall);
  }
  for (const std::string& spec : o.FailPaths) {
    std::string path;
    win::DWORD error = 0;
    if (!sim::FaultSpecParse(spec, path, error) || path.size() < 3)
      throw std::runtime_error("--fail-path is WINPATH:ERROR, ERROR a Win32 error code above 0: " + spec);
    plan.FailPaths.emplace_back(Utf8ToText(path), error);
  }
  plan.PowerCut = o.PowerCut;
  return plan;
}

RunFaults::RunFaults(const std::string& aMachineFolder, const sim::FaultPlan& aPlan) : FPlan(aPlan) {
  if (!FPlan.Any()) return;
  const std::string machine = std::filesystem::absolute(aMachineFolder).lexically_normal().string();
  FEnvironment = sim::FaultPlanStart(machine, FPlan, FFolder);
}

RunFaults::~RunFaults() {
  if (!FFolder.empty()) sim::FaultPlanEnd(FFolder);
}

std::vector<std::string> RunFaults::Environment() const {
  if (FEnvironment.empty()) return {};
  return {FEnvironment};
}

int RunFaults::Finish(int aStatus) {
  if (FFolder.empty()) return aStatus;
  const sim::FaultOutcome o = sim::FaultOutcomeRead(FFolder);
  if (FPlan.CountCalls) std::cerr << "calls: " << o.Calls << std::endl;
  if (o.CutAt) {
    std::cerr << "winsim: power cut at call " << o.CutAt << ": every process of the machine ended" << std::endl;
    return kPowerCut;
  }
  return aStatus;
}

}  // namespace winsimfaults
