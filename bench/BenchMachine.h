// The simulated machine a benchmark runs on: a new one in the host's temp folder, with the
// benchmark attached as the installer process C:\Users\User\Downloads\Setup.exe.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/sim/machine.h"

// The machine's folder; the caller removes it at the end.
inline std::string BenchMachineAttach(const std::string& aName) {
  namespace fs = std::filesystem;
  std::string machine = (fs::temp_directory_path() / (aName + "-" + std::to_string(::getpid()))).string();
  sim::MachineCreate(machine, sim::MachineConfig{});
  sim::ProcessRecord self;
  self.Image = "C:\\Users\\User\\Downloads\\Setup.exe";
  self.CommandLine = "\"C:\\Users\\User\\Downloads\\Setup.exe\"";
  self.CurrentDirectory = "C:\\Users\\User\\Downloads\\";
  sim::ProcessAttachNew(machine, self);
  return machine;
}
