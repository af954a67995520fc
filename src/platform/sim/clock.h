// The simulated process's clock: the host's clock plus the time a virtual clock has skipped.
#pragma once

#include <chrono>
#include <cstdint>

namespace sim {

// Whether this process runs on a virtual clock: ORV_SIM_VIRTUAL_CLOCK=1 in its environment
// (winsim run sets it unless --real-clock is given).
bool VirtualClockOn();
// Moves this process's clock forward (only on a virtual clock; the host's clock is never
// touched). Every reader of time below sees the same jump.
void VirtualClockAdvance(std::uint64_t aMilliseconds);
// Milliseconds since an arbitrary start, monotonic: GetTickCount's clock.
std::uint64_t ClockTickMs();
// The wall-clock time the process sees: GetLocalTime's clock.
std::chrono::system_clock::time_point ClockSystemNow();

}  // namespace sim
