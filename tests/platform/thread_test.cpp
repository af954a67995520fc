// A thread's processor times and cycle count: what the job pool's statistics are made of.
// Both backends; Windows accounts kernel and user times per clock tick, so the checks leave
// room for a tick either way.
#include <chrono>
#include <cstdint>

#include "TestSupport.h"

using namespace win;

namespace {

std::uint64_t Of(const FILETIME& aTime) {
  return (static_cast<std::uint64_t>(aTime.dwHighDateTime) << 32) | aTime.dwLowDateTime;
}

// The calling thread's kernel + user time, 100-ns units.
std::uint64_t ProcessorTime() {
  FILETIME creation{}, exitTime{}, kernel{}, user{};
  EXPECT_TRUE(GetThreadTimes(GetCurrentThread(), &creation, &exitTime, &kernel, &user));
  return Of(kernel) + Of(user);
}

// The calling thread's cycle count; 0 where the system keeps none (Wine answers the call
// with a failure; Windows and the simulated machine keep one).
ULONGLONG Cycles() {
  ULONGLONG c = 0;
  const bool kept = QueryThreadCycleTime(GetCurrentThread(), &c) != FALSE;
#ifndef _WIN32
  EXPECT_TRUE(kept);
#endif
  return kept ? c : 0;
}

// Keeps the processor busy for about aMs of wall time.
void Spin(int aMs) {
  volatile std::uint64_t sink = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(aMs);
  while (std::chrono::steady_clock::now() < end)
    for (int i = 0; i < 10000; ++i) sink = sink + static_cast<std::uint64_t>(i);
}

constexpr std::uint64_t k100nsPerMs = 10000;

}  // namespace

TEST(ThreadTimes, WorkCountsAndSleepDoesNot) {
  const std::uint64_t t0 = ProcessorTime();
  const ULONGLONG c0 = Cycles();
  Spin(300);
  const std::uint64_t t1 = ProcessorTime();
  const ULONGLONG c1 = Cycles();
  // 300 ms of wall time on a shared machine: at least a third of it on this thread, and never
  // more than the wall time and a tick of accounting.
  EXPECT_GE(t1 - t0, 100 * k100nsPerMs);
  EXPECT_LE(t1 - t0, 400 * k100nsPerMs);
  if (c0 != 0) {
    EXPECT_GT(c1, c0);
  }

  Sleep(300);
  const std::uint64_t t2 = ProcessorTime();
  EXPECT_LE(t2 - t1, 50 * k100nsPerMs) << "a sleeping thread uses no processor time";
  // Neither figure goes back.
  EXPECT_GE(Cycles(), c1);
}
