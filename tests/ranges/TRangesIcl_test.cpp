// Merged range sets against Boost.ICL's interval_set: random sequences of additions,
// removals, intersections and trims must leave the same sets.
#if __has_include(<boost/icl/interval_set.hpp>)
#include <boost/icl/interval_set.hpp>
#include <random>
#include <string>

#include "TestSupport.h"
#include "ranges/uRanges.h"

namespace {

using IclSet = boost::icl::interval_set<std::int64_t>;
using IclInterval = boost::icl::discrete_interval<std::int64_t>;

std::string Show(const TRanges& s) {
  std::string out;
  for (int i = 0; i < s.Count(); ++i) {
    TRange r = s.CopyRange(i);
    out += std::to_string(r.Start()) + "-" + std::to_string(r.EndGet()) + " ";
  }
  return out;
}

std::string Show(const IclSet& s) {
  std::string out;
  for (const auto& i : s)
    out += std::to_string(boost::icl::first(i)) + "-" + std::to_string(boost::icl::last(i)) + " ";
  return out;
}

IclSet TrimmedTo(const IclSet& s, std::int64_t aLength) {
  IclSet out;
  for (const auto& i : s) {
    if (aLength <= 0) break;
    std::int64_t len = std::min<std::int64_t>(aLength, boost::icl::length(i));
    out += IclInterval::closed(boost::icl::first(i), boost::icl::first(i) + len - 1);
    aLength -= len;
  }
  return out;
}

}  // namespace

TEST(TRangesIcl, RandomSequencesGiveTheSameSets) {
  for (std::uint32_t seed = 1; seed <= 40; ++seed) {
    std::mt19937_64 rng(seed);
    // Small spans make touching and overlapping frequent; some seeds spread out far.
    const std::int64_t span = seed % 4 == 0 ? 1'000'000'000'000 : 300;
    auto pos = [&] { return static_cast<std::int64_t>(rng() % span) - span / 3; };
    auto len = [&] { return static_cast<std::int64_t>(rng() % (span / 10 + 2)) - 1; };
    TRanges ours;
    IclSet theirs;
    for (int step = 0; step < 400; ++step) {
      std::int64_t s = pos(), l = len();
      switch (rng() % 8) {
        case 0: case 1: case 2:
          ours.AddByLength(s, l);
          if (l > 0) theirs += IclInterval::closed(s, s + l - 1);
          break;
        case 3: case 4:
          ours.RemoveByLength(s, l);
          if (l > 0) theirs -= IclInterval::closed(s, s + l - 1);
          break;
        case 5: {  // with another random set
          TRanges other;
          IclSet otherIcl;
          for (int k = 0; k < 5; ++k) {
            std::int64_t a = pos(), b = a + len();
            other.AddByEnd(a, b);
            if (b >= a) otherIcl += IclInterval::closed(a, b);
          }
          auto x = ours.Intersection(other);
          ours.Clear();
          ours.AddRanges(*x);
          theirs &= otherIcl;
          break;
        }
        case 6: {
          auto x = ours.Intersection(TRange::ByLength(s, l));
          ours.Clear();
          ours.AddRanges(*x);
          theirs &= IclSet(l > 0 ? IclInterval::closed(s, s + l - 1) : IclInterval());
          break;
        }
        case 7: {
          std::int64_t total = static_cast<std::int64_t>(boost::icl::length(theirs));
          std::int64_t keep = total - static_cast<std::int64_t>(rng() % (span / 10 + 1));
          EXPECT_EQ(ours.TrimToLength(keep), std::max<std::int64_t>(std::min(keep, total), 0));
          theirs = TrimmedTo(theirs, keep);
          break;
        }
      }
      ASSERT_EQ(Show(ours), Show(theirs)) << "seed " << seed << " step " << step;
      ASSERT_EQ(ours.TotalLength(), static_cast<std::int64_t>(boost::icl::length(theirs)));
    }
  }
}
#endif
