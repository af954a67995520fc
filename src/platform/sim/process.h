// Starting processes of the simulated machine from inside one (Linux build only).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/sim/handles.h"
#include "platform/sim/machine.h"

namespace sim {

// A handle's view of a process of the machine: signalled when it has exited.
class ProcessObject : public KernelObject {
 public:
  std::string Machine;
  win::DWORD Pid = 0;
  bool Waitable() const override { return true; }
  bool SignalTest(bool) override { return Exited(nullptr); }
  // Another process's end is seen by looking at the machine's tables.
  bool SignalsLocally() const override { return false; }
  std::optional<bool> WaitAlone(win::DWORD dwMilliseconds) override { return WaitExit(dwMilliseconds); }
  // True once the process has ended; its exit code then.
  bool Exited(win::DWORD* aExitCode) const;
  // Waits up to aMilliseconds (INFINITE: for ever); true when it has ended.
  bool WaitExit(win::DWORD aMilliseconds) const;
};

struct StartRequest {
  Text Image;                           // Windows path of the program
  Text CommandLine;                     // the command line the process sees
  std::vector<std::string> HostArguments;  // argv[1..] of the host program
  Text CurrentDirectory;                // empty: the program's folder
  win::DWORD Integrity = kIntegrityMedium;
  bool Virtualization = false;
};

struct StartResult {
  win::DWORD Error = 0;  // a Win32 error code when the start failed
  win::DWORD Pid = 0;
};

// Starts a program as a child of the calling process (not waited for by the simulation).
StartResult ProcessStart(const StartRequest& aRequest);

// Splits a command line's arguments as programs do (quotes, backslash rules).
std::vector<std::string> CommandLineSplit(const Text& aArguments);

}  // namespace sim
