#include "ranges/uRanges.h"

#include <functional>
#include <string>

#include "TestSupport.h"
#include "ranges/uBlocks.h"

namespace {

constexpr std::int64_t kHigh = INT64_MAX;
constexpr std::int64_t kLow = INT64_MIN;

TRange R(std::int64_t s, std::int64_t e) { return TRange::ByEnd(s, e); }

// start, end, length of a range, for compact expectations.
struct SEL {
  std::int64_t s, e, l;
};
void ExpectRange(const TRange& r, SEL x, const std::string& what) {
  EXPECT_EQ(r.Start(), x.s) << what;
  EXPECT_EQ(r.EndGet(), x.e) << what;
  EXPECT_EQ(r.Length(), x.l) << what;
}

}  // namespace

TEST(TRange, EndAndValidity) {
  struct Case {
    std::int64_t start, length, end;
    bool valid;
  } cases[] = {
      {10, 5, 14, true},     {10, 0, 9, false},     {10, -3, 6, false},
      {0, kHigh, kHigh, true}, {-7, kHigh, kHigh, true}, {kLow, 1, kLow, true},
  };
  for (const auto& c : cases) {
    TRange r = TRange::ByLength(c.start, c.length);
    EXPECT_EQ(r.EndGet(), c.end) << c.start << "/" << c.length;
    EXPECT_EQ(r.IsValid(), c.valid) << c.start << "/" << c.length;
    EXPECT_NE(r.IsValid(), r.IsNotValid());
  }
  TRange r = R(3, 9);
  r.Invalidate();
  ExpectRange(r, {3, 2, 0}, "Invalidate keeps the start");
}

TEST(TRange, Setting) {
  TRange r;
  r.SetByEnd(5, kHigh);
  ExpectRange(r, {5, kHigh, kHigh}, "end High gives length High");
  r.SetByEndAndLength(14, 5);
  ExpectRange(r, {10, 14, 5}, "SetByEndAndLength");
  r.SetByBlock(3, 512);
  ExpectRange(r, {1536, 2047, 512}, "SetByBlock");
  r.SetByBlocks(2, 4, 4096);
  ExpectRange(r, {8192, 20479, 12288}, "SetByBlocks");
  r.SetByBlocks(INT32_MAX, INT32_MAX, INT32_MAX);  // products are 64-bit
  EXPECT_EQ(r.Start(), std::int64_t(INT32_MAX) * INT32_MAX);
  EXPECT_EQ(r.Length(), INT32_MAX);

  TIntegerList blocks;
  r.SetByBlockList(blocks, 16);
  EXPECT_FALSE(r.IsValid()) << "empty list invalidates";
  for (int b : {7, 2, 5}) blocks.Add(b);
  r.SetByBlockList(blocks, 16);
  ExpectRange(r, {32, 127, 96}, "SetByBlockList spans smallest..largest");

  TRange src = R(100, 199), copy;
  copy.SetByRange(&src);
  EXPECT_TRUE(copy == src);
  EXPECT_THROW(copy.SetByRange(static_cast<const TRange*>(nullptr)), Exception);
}

TEST(TRange, MovingAndResizing) {
  using Op = std::function<void(TRange&)>;
  struct Case {
    const char* what;
    TRange in;
    Op op;
    SEL out;
  } cases[] = {
      {"MoveEndTo", R(10, 14), [](TRange& r) { r.MoveEndTo(20); }, {10, 20, 11}},
      {"MoveStartTo keeps the end", R(10, 14), [](TRange& r) { r.MoveStartTo(12); }, {12, 14, 3}},
      {"MoveStartBy", R(10, 14), [](TRange& r) { r.MoveStartBy(-4); }, {6, 14, 9}},
      {"MoveEndBy", R(10, 14), [](TRange& r) { r.MoveEndBy(-2); }, {10, 12, 3}},
      {"ShiftTo", R(10, 14), [](TRange& r) { r.ShiftTo(0); }, {0, 4, 5}},
      {"Shift", R(10, 14), [](TRange& r) { r.Shift(-20); }, {-10, -6, 5}},
      {"ExtendBy", R(10, 14), [](TRange& r) { r.ExtendBy(5); }, {10, 19, 10}},
      {"ShrinkBy past zero", R(10, 14), [](TRange& r) { r.ShrinkBy(7); }, {10, 7, -2}},
      {"ExtendByFromStartBackwards", R(10, 14), [](TRange& r) { r.ExtendByFromStartBackwards(3); }, {7, 14, 8}},
      {"ShrinkByFromStartForwards", R(10, 14), [](TRange& r) { r.ShrinkByFromStartForwards(3); }, {13, 14, 2}},
      {"TranslateUsing", R(110, 119),
       [](TRange& r) { r.TranslateUsing(R(100, 199), R(5000, 5099)); }, {5010, 5019, 10}},
  };
  for (auto& c : cases) {
    TRange r = c.in;
    c.op(r);
    ExpectRange(r, c.out, c.what);
  }
  TRange r = R(10, 14);
  ExpectRange(r.ShiftedBy(100), {110, 114, 5}, "ShiftedBy");
  ExpectRange(r.TranslatedUsing(R(0, 9), R(-10, 0)), {0, 4, 5}, "TranslatedUsing");
  ExpectRange(r, {10, 14, 5}, "copies leave the original alone");
}

TEST(TRange, Trim) {
  struct Case {
    std::int64_t length, trimTo;
    bool changed;
    std::int64_t after;
  } cases[] = {{10, 10, false, 10}, {10, 12, false, 10}, {10, 4, true, 4}, {10, 0, true, 0}, {10, -5, true, 0}};
  for (const auto& c : cases) {
    TRange r = TRange::ByLength(100, c.length);
    EXPECT_EQ(r.Trim(c.trimTo), c.changed) << c.trimTo;
    EXPECT_EQ(r.Length(), c.after) << c.trimTo;
    EXPECT_EQ(r.Start(), 100);
  }
}

TEST(TRange, Relations) {
  TRange a = R(10, 19);
  EXPECT_TRUE(a.IsSame(R(10, 19)));
  EXPECT_FALSE(a.IsSame(R(10, 18)));
  EXPECT_TRUE(a == R(10, 19));
  EXPECT_TRUE(R(12, 19).IsSameOrSubset(a));
  EXPECT_TRUE(a.IsSameOrSubset(a));
  EXPECT_FALSE(R(9, 12).IsSameOrSubset(a));

  struct Case {
    TRange b;
    bool intersecting, before, after;
  } cases[] = {
      {R(19, 30), true, false, false}, {R(20, 30), false, true, false}, {R(0, 9), false, false, true},
      {R(0, 10), true, false, false},  {R(12, 13), true, false, false}, {R(21, 30), false, false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(a.IsIntersecting(c.b), c.intersecting) << c.b.Start();
    EXPECT_EQ(a.IsIntersecting(&c.b), c.intersecting) << c.b.Start();
    EXPECT_EQ(a.IsNotIntersecting(c.b), !c.intersecting) << c.b.Start();
    EXPECT_EQ(a.IsRightBefore(c.b), c.before) << c.b.Start();
    EXPECT_EQ(a.IsRightAfter(c.b), c.after) << c.b.Start();
    EXPECT_EQ(a.IsAdjacent(c.b), c.before || c.after) << c.b.Start();
  }
  EXPECT_TRUE(R(10, 12).IsBeginningOf(a));
  EXPECT_FALSE(a.IsBeginningOf(a));
  EXPECT_FALSE(R(11, 12).IsBeginningOf(a));

  EXPECT_TRUE(R(8, 15).IsAligned(8));
  EXPECT_TRUE(R(8, 14).IsAlignedStart(8));
  EXPECT_FALSE(R(8, 14).IsAlignedEnd(8));
  EXPECT_TRUE(R(9, 15).IsAlignedEnd(8));
  EXPECT_FALSE(R(9, 15).IsAligned(8));
}

TEST(TRange, Combining) {
  TRange r = R(0, 9);
  TRange other = R(5, 20);
  r.Intersect(&other);  // null second: this range itself
  ExpectRange(r, {5, 9, 5}, "Intersect with this");
  r.Intersect(R(0, 3), R(2, 8));
  ExpectRange(r, {2, 3, 2}, "Intersect of two values");
  r = R(0, 9);
  r.Intersect(R(0, 3), R(5, 8));
  EXPECT_FALSE(r.IsValid()) << "disjoint intersect invalidates";
  EXPECT_EQ(r.Start(), 0);

  ExpectRange(R(0, 9).Intersection(R(7, 30)), {7, 9, 3}, "Intersection");

  TRange j = R(10, 19);
  j.Join(R(30, 40));
  ExpectRange(j, {10, 40, 31}, "Join spans the gap");
  TRange invalid = TRange::ByLength(500, 0);
  invalid.Join(R(1, 2));
  ExpectRange(invalid, {1, 2, 2}, "Join of an invalid range copies");

  ExpectRange(R(100, 299).CopyBlock(1, 128), {128, 255, 128}, "CopyBlock inside");
  ExpectRange(R(100, 299).CopyBlock(0, 128), {100, 127, 28}, "CopyBlock clipped");
  EXPECT_FALSE(R(100, 299).CopyBlock(5, 128).IsValid());
}

TEST(TRange, CutOffRange) {
  struct Case {
    TRange range, cut;
    bool raises;
    SEL out;
  } cases[] = {
      {R(0, 9), R(3, 5), true, {0, 9, 10}},   {R(3, 9), R(0, 5), false, {6, 9, 4}},
      {R(3, 9), R(8, 12), false, {3, 7, 5}},  {R(3, 9), R(20, 30), false, {3, 9, 7}},
      {R(3, 9), R(0, 20), false, {21, 9, -11}}, {R(3, 9), R(3, 9), false, {10, 9, 0}},
  };
  for (auto& c : cases) {
    TRange r = c.range;
    if (c.raises) {
      try {
        r.CutOffRange(c.cut);
        ADD_FAILURE() << "no exception";
      } catch (const EIntOverflow&) {
        ADD_FAILURE() << "wrong exception";
      } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), u"Splitting TRange into 2 Ranges, use TRanges class instead");
      }
    } else {
      r.CutOffRange(&c.cut);
    }
    ExpectRange(r, c.out, std::to_string(c.cut.Start()) + "-" + std::to_string(c.cut.EndGet()));
  }
}

TEST(TRange, Blocks) {
  EXPECT_EQ(R(1000, 5000).FirstBlock(512), 1);
  EXPECT_EQ(R(-5, 5).FirstBlock(4), -1) << "division truncates towards zero";

  TRange b = R(1000, 5000);
  b.ToBlocks(512);
  ExpectRange(b, {1, 9, 9}, "ToBlocks");
  TRange inv = TRange::ByLength(1000, 0);
  inv.ToBlocks(512);
  ExpectRange(inv, {1000, 999, 0}, "ToBlocks leaves an invalid range");

  TIntegerList list;
  list.Add(3);
  list.Add(0);
  R(1000, 2100).GetBlockList(list, 512);  // blocks 1..4, 3 already present
  EXPECT_EQ(list.ToString(), u"3, 0, 1, 2, 4");
  TRange::ByLength(0, 0).GetBlockList(list, 512);
  EXPECT_EQ(list.Count(), 5);

  struct AlignCase {
    TRange in;
    std::int64_t size;
    bool extend, changed;
    SEL out;
  } cases[] = {
      {R(5, 6), 4, true, true, {4, 7, 4}},     {R(3, 12), 4, false, true, {4, 11, 8}},
      {R(3, 12), 4, true, true, {0, 15, 16}},  {R(8, 15), 4, false, false, {8, 15, 8}},
      {R(5, 6), 4, false, true, {8, 3, -4}},   {R(-6, -1), 4, true, true, {-4, -1, 4}},
  };
  for (auto& c : cases) {
    TRange r = c.in;
    EXPECT_EQ(r.Align(c.size, c.extend), c.changed) << c.in.Start() << " extend " << c.extend;
    ExpectRange(r, c.out, "Align " + std::to_string(c.in.Start()));
  }
  ExpectRange(R(5, 6).AlignedByExtending(4), {4, 7, 4}, "AlignedByExtending");
  ExpectRange(R(3, 12).AlignedByTrimming(4), {4, 11, 8}, "AlignedByTrimming");

  TRange t = R(100, 1000);  // blocks 0..3 of 256
  EXPECT_FALSE(t.TrimToBlocks(4, 256));
  EXPECT_TRUE(t.TrimToBlocks(2, 256));
  ExpectRange(t, {100, 511, 412}, "TrimToBlocks keeps the lowest blocks within the range");
  EXPECT_TRUE(t.TrimToBlocks(0, 256));
  EXPECT_FALSE(t.IsValid());
}

TEST(TRange, ToString) {
  EXPECT_EQ(TRange::ByLength(1024, 1024).ToString(), u"1,024 - 2,047 (1,024)");
  EXPECT_EQ(TRange::ByLength(-1500, 0).ToString(), u"-1,500 - -1,501 (0)");
}

// Sums and differences never wrap: each raises EIntOverflow and leaves the range unchanged.
TEST(TRange, OverflowRaises) {
  using Op = std::function<void(TRange&)>;
  struct Case {
    const char* what;
    TRange in;
    Op op;
  } cases[] = {
      {"end of a range past High", TRange::ByLength(10, kHigh - 5), [](TRange& r) { (void)r.EndGet(); }},
      {"Shift", R(kHigh - 1, kHigh - 1), [](TRange& r) { r.Shift(5); }},
      {"Shift down", R(kLow, kLow), [](TRange& r) { r.Shift(-1); }},
      {"ExtendBy", TRange::ByLength(0, kHigh - 1), [](TRange& r) { r.ExtendBy(2); }},
      {"ShrinkBy", TRange::ByLength(0, kLow + 1), [](TRange& r) { r.ShrinkBy(2); }},
      {"MoveEndTo", R(-10, 0), [](TRange& r) { r.MoveEndTo(kHigh - 1); }},
      {"MoveStartTo", R(kLow, kLow + 5), [](TRange& r) { r.MoveStartTo(kHigh); }},
      {"SetByEnd", R(0, 0), [](TRange& r) { r.SetByEnd(kLow, kHigh - 1); }},
      {"SetByEndAndLength", R(0, 0), [](TRange& r) { r.SetByEndAndLength(kLow, 10); }},
      {"ExtendByFromStartBackwards", R(kLow + 1, kLow + 5), [](TRange& r) { r.ExtendByFromStartBackwards(3); }},
      {"IsRightBefore at the top", TRange::ByLength(5, kHigh), [](TRange& r) { (void)r.IsRightBefore(R(0, 1)); }},
      {"CopyBlock product", R(0, 10), [](TRange& r) { (void)r.CopyBlock(kHigh / 2, 4); }},
      {"Align at the top", TRange::ByLength(kHigh - 3, 4), [](TRange& r) { r.AlignByExtending(4); }},
      {"block number beyond 32 bits", R(0, kHigh - 1), [](TRange& r) {
         TIntegerList l;
         r.GetBlockList(l, 1);
       }},
  };
  for (auto& c : cases) {
    TRange r = c.in;
    EXPECT_THROW(c.op(r), EIntOverflow) << c.what;
    EXPECT_EQ(r.Start(), c.in.Start()) << c.what;
    EXPECT_EQ(r.Length(), c.in.Length()) << c.what;
  }
  try {
    TRange::ByLength(kHigh, 1).Shift(1);
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), u"Integer overflow");
  }
}

TEST(TRange, ZeroBlockSizeRaises) {
  TRange r = R(10, 20);
  EXPECT_THROW(r.AlignByTrimming(0), EDivByZero);
  EXPECT_THROW((void)r.IsAligned(0), EDivByZero);
  EXPECT_THROW((void)r.FirstBlock(0), EDivByZero);
  EXPECT_THROW(r.ToBlocks(0), EDivByZero);
  EXPECT_EQ(r, R(10, 20));
}
