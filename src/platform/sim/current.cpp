// This host program as a process of the machine.
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

#include "platform/sim/machine.h"
#include "platform/sim/processes.h"
#include "platform/sim/tables.h"

namespace sim {

namespace {

struct Current {
  std::mutex lock;
  std::atomic<bool> attached{false};
  std::string machine;
  ProcessRecord record;
};

Current& CurrentState() {
  static Current* c = new Current;
  return *c;
}

}  // namespace

const ProcessRecord* CurrentProcess() {
  Current& c = CurrentState();
  if (c.attached.load(std::memory_order_acquire)) return &c.record;
  // Not attached yet: a test program attaches itself in main, after start-up code may
  // already have asked; so a "no" is not remembered.
  std::lock_guard<std::mutex> g(c.lock);
  if (c.attached.load(std::memory_order_relaxed)) return &c.record;
  const char* m = std::getenv("WINSIM_MACHINE");
  const char* p = std::getenv("WINSIM_PID");
  if (!m || !p) return nullptr;
  try {
    auto found = ProcessFind(m, static_cast<win::DWORD>(std::stoul(p)));
    if (!found) return nullptr;
    c.machine = m;
    c.record = found->Record;
    c.attached.store(true, std::memory_order_release);
    return &c.record;
  } catch (const std::exception&) {
    return nullptr;
  }
}

void CurrentProcessIntegritySet(win::DWORD aLevel) {
  CurrentProcess();
  CurrentState().record.Integrity = aLevel;
}

void ProcessAttachNew(const std::string& aMachine, ProcessRecord aRecord) {
  MachineConfigRead(aMachine);
  if (aRecord.Parent == 0) aRecord.Parent = ShellProcessId(aMachine);
  win::DWORD pid = ProcessRecordNew(aMachine, aRecord);
  TableLineAppend(StatePath(aMachine, "hostpids"), std::to_string(pid) + " " + std::to_string(::getpid()));
  ::setenv("WINSIM_MACHINE", aMachine.c_str(), 1);
  ::setenv("WINSIM_PID", std::to_string(pid).c_str(), 1);
  CurrentProcess();
}

}  // namespace sim
