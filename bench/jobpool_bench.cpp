// Throughput of the job pool against a plain pool (one mutex, one condition variable, a queue
// of functions, the same number of threads): 100,000 trivial jobs on "Async" with 2 worker
// threads, queued from the main thread, timed until the last one ran. The best of several runs
// is taken for each.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "diag/uJobPool.h"
#include "diag/uThreadSync.h"
#include "diag/uUnits.h"

namespace {

constexpr int kJobs = 100000;
constexpr int kWorkers = 2;
constexpr int kRuns = 3;

std::atomic<int> gDone{0};

struct TTrivial {
  void Run(TJob&) { gDone.fetch_add(1, std::memory_order_relaxed); }
};

void WaitAll() {
  while (gDone.load(std::memory_order_relaxed) < kJobs) std::this_thread::yield();
}

double JobPoolJobsPerSecond() {
  TUnits units;
  units.Add<TLockController>(u"uThreadSync", &LockController, {});
  units.Add<TJobPool>(u"uJobPool", &JobPool, {u"uThreadSync"});
  units.Run();
  TTrivial trivial;
  const TJobFn fn = TJobFn::Of<&TTrivial::Run>(&trivial);
  JobHandlerAsync->AddFunctionHandler(u"Trivial", fn);
  JobPool->IdleThreadsMin = kWorkers;
  JobPool->ThreadsMax = kWorkers;
  JobPool->Start();
  gDone = 0;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kJobs; ++i) JobHandlerAsync->Add(fn);
  WaitAll();
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  JobPool->Shutdown();
  return kJobs / s;
}

class TPlainPool {
 public:
  explicit TPlainPool(int aThreads) {
    for (int i = 0; i < aThreads; ++i)
      FThreads.emplace_back([this] {
        for (;;) {
          std::function<void()> job;
          {
            std::unique_lock<std::mutex> g(FLock);
            FChanged.wait(g, [this] { return FStop || !FQueue.empty(); });
            if (FQueue.empty()) return;
            job = std::move(FQueue.front());
            FQueue.pop_front();
          }
          job();
        }
      });
  }
  ~TPlainPool() {
    {
      std::lock_guard<std::mutex> g(FLock);
      FStop = true;
    }
    FChanged.notify_all();
    for (auto& t : FThreads) t.join();
  }
  void Add(std::function<void()> aJob) {
    {
      std::lock_guard<std::mutex> g(FLock);
      FQueue.push_back(std::move(aJob));
    }
    FChanged.notify_one();
  }

 private:
  std::mutex FLock;
  std::condition_variable FChanged;
  std::deque<std::function<void()>> FQueue;
  bool FStop = false;
  std::vector<std::thread> FThreads;
};

double PlainJobsPerSecond() {
  TPlainPool pool(kWorkers);
  gDone = 0;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kJobs; ++i) pool.Add([] { gDone.fetch_add(1, std::memory_order_relaxed); });
  WaitAll();
  return kJobs / std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main() {
  double pool = 0, plain = 0;
  for (int r = 0; r < kRuns; ++r) {
    pool = std::max(pool, JobPoolJobsPerSecond());
    plain = std::max(plain, PlainJobsPerSecond());
  }
  std::printf("jobpool_jobs_per_second: %.0f\n", pool);
  std::printf("plain_pool_jobs_per_second: %.0f\n", plain);
  std::printf("jobpool_vs_plain_pool_ratio: %.3f\n", pool / plain);
  return 0;
}
