#include "platform/sim/threadcycles.h"

#include <chrono>

#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#endif

namespace sim {

namespace {

// The host's cycle counter; elsewhere than x86 the monotonic clock's nanoseconds stand in.
std::uint64_t Counter() {
#if defined(__x86_64__) || defined(__i386__)
  return __rdtsc();
#else
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch()).count());
#endif
}

struct TAccount {
  std::uint64_t Start = Counter();
  std::uint64_t Blocked = 0;       // counter ticks spent in waits that ended
  std::uint64_t BlockedSince = 0;  // while Depth > 0
  std::uint64_t Last = 0;          // the last count returned: the count never goes back
  int Depth = 0;
};

TAccount& Account() {
  thread_local TAccount tAccount;
  return tAccount;
}

}  // namespace

std::uint64_t ThreadCyclesGet() {
  TAccount& a = Account();
  const std::uint64_t now = a.Depth > 0 ? a.BlockedSince : Counter();
  const std::uint64_t used = now - a.Start - a.Blocked;
  // A counter read on another processor may lag a little; the count stays where it was.
  if (static_cast<std::int64_t>(used - a.Last) > 0) a.Last = used;
  return a.Last;
}

TThreadBlocked::TThreadBlocked() {
  TAccount& a = Account();
  if (a.Depth++ == 0) a.BlockedSince = Counter();
}

TThreadBlocked::~TThreadBlocked() {
  TAccount& a = Account();
  if (--a.Depth == 0) {
    const std::uint64_t now = Counter();
    if (now > a.BlockedSince) a.Blocked += now - a.BlockedSince;
  }
}

}  // namespace sim
