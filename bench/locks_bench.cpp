// Uncontended cost of TLock against std::recursive_mutex.
//
// Prints two ratios (TLock Acquire+Release time over recursive_mutex lock+unlock time): a
// logged lock, and one with IsHighPerformanceLock. The best of several runs is taken for
// each, so that a busy machine disturbs the figures as little as possible.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

#include "diag/uThreadSync.h"

namespace {

constexpr int kIterations = 2000000;
constexpr int kRuns = 7;

template <class F>
double BestNanosPerIteration(F&& aBody) {
  double best = 1e300;
  for (int r = 0; r < kRuns; ++r) {
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kIterations; ++i) aBody();
    auto stop = std::chrono::steady_clock::now();
    best = std::min(best, std::chrono::duration<double, std::nano>(stop - start).count() / kIterations);
  }
  return best;
}

}  // namespace

int main() {
  // The framework's programs are multi-threaded; glibc takes its locks without bus locking
  // while a process has never had a second thread, which would flatter the baseline.
  std::thread([] {}).join();

  TUnits units;
  units.Add<TLockController>(u"uThreadSync", &LockController, {});
  units.Run();

  std::recursive_mutex mutex;
  TLock logged(u"Bench");
  TLock fast(u"BenchFast");
  fast.IsHighPerformanceLock = true;

  double base = BestNanosPerIteration([&] {
    mutex.lock();
    mutex.unlock();
  });
  double lock = BestNanosPerIteration([&] {
    logged.Acquire();
    logged.Release();
  });
  double hp = BestNanosPerIteration([&] {
    fast.Acquire();
    fast.Release();
  });
  if (std::getenv("ORV_BENCH_DETAIL")) std::printf("ns: mutex %.1f lock %.1f hp %.1f\n", base, lock, hp);
  std::printf("lock_vs_recursive_mutex_ratio: %.2f\n", lock / base);
  std::printf("hp_lock_vs_recursive_mutex_ratio: %.2f\n", hp / base);
  return 0;
}
