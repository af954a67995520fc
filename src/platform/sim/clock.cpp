// The virtual clock: a message loop that has nothing to do but wait for a timer jumps to the
// timer's due time instead of sleeping, so a 15-second close timer costs no wall time. The
// jump is one process-wide offset, so the tick count and the local time stay consistent.
#include "platform/sim/clock.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace sim {

namespace {
std::atomic<std::uint64_t> gSkipped{0};
}  // namespace

bool VirtualClockOn() {
  // Read at each wait, as the process's other switches are: a test may change it.
  const char* v = std::getenv("ORV_SIM_VIRTUAL_CLOCK");
  return v && std::strcmp(v, "1") == 0;
}

void VirtualClockAdvance(std::uint64_t aMilliseconds) {
  if (VirtualClockOn()) gSkipped.fetch_add(aMilliseconds, std::memory_order_acq_rel);
}

std::uint64_t ClockTickMs() {
  using namespace std::chrono;
  auto real = static_cast<std::uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
  return real + gSkipped.load(std::memory_order_acquire);
}

std::chrono::system_clock::time_point ClockSystemNow() {
  return std::chrono::system_clock::now() + std::chrono::milliseconds(gSkipped.load(std::memory_order_acquire));
}

}  // namespace sim
