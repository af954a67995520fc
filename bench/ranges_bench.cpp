// Merged range sets against Boost.ICL: 100,000 random AddByLength / RemoveByLength
// operations on a TRanges and the same on an interval_set<int64_t>.
//
// Prints the time per operation of each and their ratio (ours over the library's); the best
// of several alternating runs is taken for each, so that a busy machine disturbs the figures little.
#include <algorithm>
#include <boost/icl/interval_set.hpp>
#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

#include "ranges/uRanges.h"

namespace {

constexpr int kOperations = 100000;
constexpr int kRuns = 7;

struct TOp {
  bool Add;
  std::int64_t Start, Length;
};

template <class F>
double NanosPerOperation(F&& aRun) {
  auto start = std::chrono::steady_clock::now();
  aRun();
  auto stop = std::chrono::steady_clock::now();
  return std::chrono::duration<double, std::nano>(stop - start).count() / kOperations;
}

}  // namespace

int main() {
  // Two additions to one removal over a span wide enough that the set holds thousands of
  // ranges at a time.
  std::mt19937_64 rng(19);
  std::vector<TOp> ops;
  ops.reserve(kOperations);
  for (int i = 0; i < kOperations; ++i)
    ops.push_back({rng() % 3 != 0, static_cast<std::int64_t>(rng() % 100'000'000),
                   static_cast<std::int64_t>(rng() % 4096 + 1)});

  std::size_t oursCount = 0, theirsCount = 0;
  auto runOurs = [&] {
    TRanges set;
    for (const TOp& op : ops) {
      if (op.Add)
        set.AddByLength(op.Start, op.Length);
      else
        set.RemoveByLength(op.Start, op.Length);
    }
    oursCount = static_cast<std::size_t>(set.Count());
  };
  auto runTheirs = [&] {
    boost::icl::interval_set<std::int64_t> set;
    for (const TOp& op : ops) {
      auto iv = boost::icl::discrete_interval<std::int64_t>::right_open(op.Start, op.Start + op.Length);
      if (op.Add)
        set += iv;
      else
        set -= iv;
    }
    theirsCount = boost::icl::interval_count(set);
  };
  // Runs alternate, so that both see the same load on a busy machine.
  double ours = 1e300, theirs = 1e300;
  for (int r = 0; r < kRuns; ++r) {
    ours = std::min(ours, NanosPerOperation(runOurs));
    theirs = std::min(theirs, NanosPerOperation(runTheirs));
  }
  if (oursCount != theirsCount) {
    std::fprintf(stderr, "ranges_bench: the sets differ (%zu and %zu ranges)\n", oursCount, theirsCount);
    return 1;
  }
  std::printf("ranges_ns_per_op: %.1f\n", ours);
  std::printf("icl_ns_per_op: %.1f\n", theirs);
  std::printf("ranges_final_count: %zu\n", oursCount);
  std::printf("ranges_vs_icl_ratio: %.3f\n", ours / theirs);
  return 0;
}
