// Faults on demand: the power cut. At the planned call every process of the machine ends at
// once; what was written since a file's last flush reads back as zeros (the file keeps its
// size); renames, deletions and other changes of names and attributes that completed stay,
// in order, and so do the pending renames in the registry.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/sim/faults.h"
#include "platform/sim/machine.h"

namespace sim::faults {

namespace {

std::atomic<bool> gCutting{false};

bool HostAlive(pid_t aPid) {
  if (::kill(aPid, 0) != 0) return errno == EPERM;
  // A zombie has ended; it only waits for its monitor.
  std::ifstream st("/proc/" + std::to_string(aPid) + "/stat");
  std::string s;
  std::getline(st, s);
  const auto close = s.rfind(')');
  return !(close != std::string::npos && close + 2 < s.size() && s[close + 2] == 'Z');
}

// Ends every other process of the machine and waits until they have ended. A second look
// finds a process that was being started meanwhile.
void OthersEnd(const std::string& aMachine) {
  const pid_t me = ::getpid();
  for (int pass = 0; pass < 2; ++pass) {
    std::vector<pid_t> victims;
    for (const ProcessState& p : ProcessTableRead(aMachine)) {
      if (p.Exited || p.HostPid <= 0 || p.HostPid == me) continue;
      if (::kill(p.HostPid, SIGKILL) == 0) victims.push_back(p.HostPid);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (pid_t v : victims) {
      while (HostAlive(v) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (pass == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

[[noreturn]] void SelfEnd() {
  ::kill(::getpid(), SIGKILL);
  for (;;) ::pause();
}

}  // namespace

void PowerOffEnd() {
  // In the process that cuts the power, its other threads wait for the end with it.
  if (gCutting.load()) {
    for (;;) ::pause();
  }
  SelfEnd();
}

void PowerCut(Run& aRun) {
  gCutting.store(true);
  PowerCutMark(aRun, CurrentCall().Number);
  InFlightWaitAll(2000);
  OthersEnd(aRun.Machine);
  UnflushedLose(aRun);
  FaultLog(aRun, "power-cut", 0);
  SelfEnd();
}

}  // namespace sim::faults
