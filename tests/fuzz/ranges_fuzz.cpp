// Merged range sets against Boost.ICL's interval_set: every fuzzer-chosen sequence of
// additions, removals, intersections and trims leaves the same set in both, and a refused
// operation (EIntOverflow) leaves the set unchanged.
#include <boost/icl/interval_set.hpp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ranges/uRanges.h"

namespace {

using IclSet = boost::icl::interval_set<std::int64_t>;
using IclInterval = boost::icl::discrete_interval<std::int64_t>;

struct TReader {
  const std::uint8_t* Data;
  std::size_t Size;
  bool More() const { return Size > 0; }
  std::uint8_t Byte() {
    if (!Size) return 0;
    --Size;
    return *Data++;
  }
  // Mostly small numbers, so that ranges meet; now and then one near the 64-bit limits.
  std::int64_t Number() {
    std::uint8_t kind = Byte();
    if (kind < 0xF0) return static_cast<std::int8_t>(Byte()) + (kind & 0x0F) * 100;
    std::int64_t v = 0;
    for (int i = 0; i < 8; ++i) v = static_cast<std::int64_t>((static_cast<std::uint64_t>(v) << 8) | Byte());
    // Kept a quarter of the way from the limits: the library computes past the ends of an
    // interval, which would wrap there.
    v >>= 2;
    return v;
  }
};

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

[[noreturn]] void Fail(const char* aWhat, const TRanges& aOurs, const IclSet& aTheirs) {
  std::fprintf(stderr, "%s\nours:   %s\ntheirs: %s\n", aWhat, Show(aOurs).c_str(), Show(aTheirs).c_str());
  std::abort();
}

// The closed interval start .. start + length - 1, when it is not empty and fits.
bool Interval(std::int64_t s, std::int64_t l, IclInterval& aOut) {
  std::int64_t e;
  if (l <= 0 || __builtin_add_overflow(s, l - 1, &e)) return false;
  aOut = IclInterval::closed(s, e);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* aData, std::size_t aSize) {
  TReader in{aData, aSize};
  TRanges ours;
  IclSet theirs;
  while (in.More()) {
    std::uint8_t op = in.Byte() % 5;
    std::int64_t s = in.Number(), l = in.Number();
    IclInterval iv;
    bool fits = Interval(s, l, iv);
    const std::string before = Show(ours);
    try {
      switch (op) {
        case 0: ours.AddByLength(s, l); if (fits) theirs += iv; break;
        case 1: ours.RemoveByLength(s, l); if (fits) theirs -= iv; break;
        case 2: {
          auto x = ours.Intersection(TRange::ByLength(s, l));
          ours.Clear();
          ours.AddRanges(*x);
          theirs &= fits ? IclSet(iv) : IclSet();
          break;
        }
        case 3: {
          TRanges other;
          IclSet otherIcl;
          other.AddByLength(s, l);
          if (fits) otherIcl += iv;
          other.AddByLength(l, s);
          if (Interval(l, s, iv)) otherIcl += iv;
          auto x = ours.Intersection(other);
          ours.Clear();
          ours.AddRanges(*x);
          theirs &= otherIcl;
          break;
        }
        case 4: {
          std::int64_t total = ours.TotalLength();
          std::int64_t kept = ours.TrimToLength(s);
          if (kept != std::max<std::int64_t>(std::min(s, total), 0)) Fail("TrimToLength result", ours, theirs);
          IclSet trimmed;
          std::int64_t left = s;
          for (const auto& i : theirs) {
            if (left <= 0) break;
            std::int64_t len = std::min<std::int64_t>(left, static_cast<std::int64_t>(boost::icl::length(i)));
            trimmed += IclInterval::closed(boost::icl::first(i), boost::icl::first(i) + len - 1);
            left -= len;
          }
          theirs = trimmed;
          break;
        }
      }
    } catch (const EIntOverflow&) {
      // Ranges near the limits: refused as a whole.
      if (Show(ours) != before) Fail("an overflow changed the set", ours, theirs);
      continue;
    }
    if (Show(ours) != Show(theirs)) Fail("the sets differ", ours, theirs);
  }
  return 0;
}
