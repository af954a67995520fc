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

// The time scale: the process's clock runs aScale times as fast as the host's, and every
// timed wait of the simulation (Sleep, waits on objects, message waits, sends with a
// time-out) lasts 1/aScale of its length in host time. 1 (the default, or
// ORV_SIM_TIME_SCALE in the environment) is real time. Lets a test block for "30 seconds"
// with the program's own constants in a fraction of the time. The clock stays continuous
// when the scale changes.
void TimeScaleSet(double aScale);
double TimeScaleGet();
// The host milliseconds a wait of aMilliseconds on the process's clock lasts (rounded up;
// 0xFFFFFFFF, INFINITE, stays as it is).
std::uint32_t ClockRealMs(std::uint32_t aMilliseconds);

}  // namespace sim
