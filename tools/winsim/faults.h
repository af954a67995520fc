// winsim run's faults on demand: --fail-call, --fail-path, --power-cut, --count-calls.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/sim/faults.h"

namespace winsimfaults {

// winsim run exits with this after a power cut.
constexpr int kPowerCut = 125;

struct Options {
  std::string FailCall;
  std::vector<std::string> FailPaths;
  std::uint64_t PowerCut = 0;
  bool CountCalls = false;
};

void OptionsAdd(CLI::App& aRun, Options& aOptions);
// The plan the options ask for; std::runtime_error for options that are not well formed.
sim::FaultPlan PlanMake(const Options& aOptions);

// The faults of one run: the plan's folder in the machine while the run lasts.
class RunFaults {
 public:
  RunFaults(const std::string& aMachineFolder, const sim::FaultPlan& aPlan);
  ~RunFaults();
  RunFaults(const RunFaults&) = delete;
  RunFaults& operator=(const RunFaults&) = delete;

  // What the run's processes get in their environment.
  std::vector<std::string> Environment() const;
  // Reports the outcome on standard error ("calls: N"; the power cut); the exit status of
  // winsim run: aStatus, or kPowerCut after a power cut.
  int Finish(int aStatus);

 private:
  sim::FaultPlan FPlan;
  std::string FFolder;
  std::string FEnvironment;
};

}  // namespace winsimfaults
