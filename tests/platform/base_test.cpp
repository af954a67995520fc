#include "TestSupport.h"

TEST(LastError, IsPerThreadAndKeptUntilSet) {
  win::SetLastError(123);
  EXPECT_EQ(win::GetLastError(), 123u);
  win::SetLastError(0);
  EXPECT_EQ(win::GetLastError(), 0u);
}

#ifndef _WIN32
#include "platform/sim/clock.h"

// A program may time a sleep with the tick count: on the simulated machine the count covers
// every sleep, also on a clock that runs faster than the host's.
TEST(Clock, TheTickCountCoversEverySleep) {
  for (const double scale : {1.0, 50.0}) {
    sim::TimeScaleSet(scale);
    for (int round = 0; round < 10; ++round) {
      for (const win::DWORD ms : {1u, 7u, 30u}) {
        const win::ULONGLONG start = win::GetTickCount64();
        win::Sleep(ms);
        EXPECT_GE(win::GetTickCount64() - start, ms) << "scale " << scale;
      }
    }
  }
  sim::TimeScaleSet(1);
}
#endif
