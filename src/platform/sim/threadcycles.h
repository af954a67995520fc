// The cycles a thread of the simulated machine has used.
//
// The machine counts a thread as running except while it is blocked in one of the machine's
// own waits (Sleep, waits on objects and messages, critical sections, pipes): each of those
// marks the thread blocked for its length. The count is the host's time-stamp counter over
// the thread's running time, read without a system call, so a caller can measure many short
// pieces of work (the job pool measures every job) at the cost of a few instructions.
#pragma once

#include <cstdint>

namespace sim {

// The calling thread's cycles since it first came here (first count or first wait).
std::uint64_t ThreadCyclesGet();

// Marks the calling thread blocked for the scope's life; nests.
class TThreadBlocked {
 public:
  TThreadBlocked();
  ~TThreadBlocked();
  TThreadBlocked(const TThreadBlocked&) = delete;
  TThreadBlocked& operator=(const TThreadBlocked&) = delete;
};

}  // namespace sim
