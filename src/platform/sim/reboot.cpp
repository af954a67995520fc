// A simulated restart of the machine: every process ends, the delayed moves are carried
// out in the order they were recorded, and the machine starts again.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "platform/sim/machine.h"
#include "platform/sim/registry.h"
#include "platform/utf.h"
#include "platform/win32api.h"

namespace sim {

namespace {

Text StripNtPrefix(const Text& aPath) {
  if (aPath.rfind(u"\\??\\", 0) == 0) return aPath.substr(4);
  return aPath;
}

// One recorded operation, as the session manager does it: failures are skipped.
bool CarryOut(const PathContext& aContext, const Text& aSource, const Text& aTarget) {
  ResolvedPath from = ResolvePath(aContext, StripNtPrefix(aSource));
  if (from.Error || !from.Exists) return false;
  if (aTarget.empty()) {
    return from.IsDirectory ? ::rmdir(from.Host.c_str()) == 0 : ::unlink(from.Host.c_str()) == 0;
  }
  bool replace = !aTarget.empty() && aTarget[0] == u'!';
  ResolvedPath to = ResolvePath(aContext, StripNtPrefix(replace ? aTarget.substr(1) : aTarget));
  if (to.Error) return false;
  if (to.Exists && (!replace || to.IsDirectory)) return false;
  return ::rename(from.Host.c_str(), to.Host.c_str()) == 0;
}

}  // namespace

std::vector<std::pair<Text, Text>> PendingRenamesRead(const std::string& aMachine) {
  std::vector<std::pair<Text, Text>> out;
  RegistryTransact(aMachine, [&](RegStore& s) {
    if (RegKey* k = s.Find(kSessionManagerKey)) {
      for (const auto& v : k->Values) {
        if (UpcaseText(v.Name) != UpcaseText(kPendingRenames)) continue;
        auto list = PendingPairsDecode(v.Data);
        for (size_t i = 0; i + 1 < list.size(); i += 2) out.emplace_back(list[i], list[i + 1]);
      }
    }
    return false;
  });
  return out;
}

void MachineReboot(const std::string& aMachine, bool bKeepCaller) {
  MachineConfig config = MachineConfigRead(aMachine);
  // What the restart reads and writes is checked before anything changes: the registry and
  // the process table can be read, the event log can take the reboot line.
  PendingRenamesRead(aMachine);
  std::string events = aMachine + "/events.jsonl";
  int log = ::open(events.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (log < 0) throw MachineError("cannot write " + events + ": " + std::strerror(errno));
  ::close(log);
  // Every process ends, as at a shutdown: their handles and holds go with them.
  pid_t me = ::getpid();
  std::vector<pid_t> victims;
  for (const auto& p : ProcessTableRead(aMachine)) {
    if (p.Exited || p.HostPid <= 0 || (bKeepCaller && p.HostPid == me)) continue;
    if (::kill(p.HostPid, SIGKILL) == 0) victims.push_back(p.HostPid);
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (pid_t v : victims) {
    while (::kill(v, 0) == 0 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  PathContext context;
  context.Machine = aMachine;
  context.MachineBits = config.Bits;
  context.ProcessBits = config.Bits;  // the session manager is a native process
  std::vector<std::pair<Text, Text>> pending = PendingRenamesRead(aMachine);
  for (const auto& [source, target] : pending) CarryOut(context, source, target);
  RegistryTransact(aMachine, [&](RegStore& s) {
    RegKey* k = s.Find(kSessionManagerKey);
    if (!k) return false;
    auto before = k->Values.size();
    std::erase_if(k->Values, [](const RegValue& v) { return UpcaseText(v.Name) == UpcaseText(kPendingRenames); });
    return k->Values.size() != before;
  });
  EventAppend(aMachine, "{\"type\":\"reboot\"}");
}

}  // namespace sim
