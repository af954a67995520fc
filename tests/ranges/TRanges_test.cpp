#include <functional>
#include <string>

#include "DebugRecorder.h"
#include "TestSupport.h"
#include "ranges/uBlocks.h"
#include "ranges/uRanges.h"

namespace {

constexpr std::int64_t kHigh = INT64_MAX;

// "0-9 20-29": the ranges in list order.
std::string Show(const TRanges& s) {
  std::string out;
  for (int i = 0; i < s.Count(); ++i) {
    TRange r = s.CopyRange(i);
    if (!out.empty()) out += ' ';
    out += std::to_string(r.Start()) + "-" + std::to_string(r.EndGet());
  }
  return out;
}

std::unique_ptr<TRanges> Make(std::initializer_list<std::pair<std::int64_t, std::int64_t>> aRanges, bool aMerged = true) {
  auto s = std::make_unique<TRanges>();
  s->Merged = aMerged;
  for (auto [a, b] : aRanges) s->AddByEnd(a, b);
  return s;
}

TIntegerList List(std::initializer_list<std::int32_t> aItems) {
  TIntegerList l;
  for (auto i : aItems) l.Add(i);
  return l;
}

}  // namespace

// Each case builds a set, applies one operation and compares the ranges.
TEST(TRanges, Operations) {
  using Op = std::function<void(TRanges&)>;
  struct Case {
    const char* what;
    std::initializer_list<std::pair<std::int64_t, std::int64_t>> start;
    bool merged;
    Op op;
    const char* expected;
  } cases[] = {
      {"touching ranges merge", {{0, 9}}, true, [](TRanges& s) { s.AddByEnd(10, 19); }, "0-19"},
      {"a gap keeps two", {{0, 9}}, true, [](TRanges& s) { s.AddByEnd(11, 19); }, "0-9 11-19"},
      {"unmerged overlap stays two", {{0, 9}}, false, [](TRanges& s) { s.AddByEnd(5, 19); }, "0-9 5-19"},
      {"unmerged equal start goes after", {{5, 9}, {7, 8}}, false, [](TRanges& s) { s.AddByEnd(5, 6); }, "5-9 5-6 7-8"},
      {"insert between", {{0, 3}, {10, 20}}, true, [](TRanges& s) { s.AddByEnd(5, 8); }, "0-3 5-8 10-20"},
      {"bridge two", {{0, 3}, {10, 20}}, true, [](TRanges& s) { s.AddByEnd(2, 11); }, "0-20"},
      {"swallow many", {{0, 1}, {3, 4}, {6, 7}, {20, 21}}, true, [](TRanges& s) { s.AddByEnd(1, 6); }, "0-7 20-21"},
      {"end before start adds nothing", {{0, 3}}, true, [](TRanges& s) { s.AddByEnd(9, 8); }, "0-3"},
      {"by length", {}, true, [](TRanges& s) { s.AddByLength(10, 5); }, "10-14"},
      {"zero length adds nothing", {}, true, [](TRanges& s) { s.AddByLength(10, 0); }, ""},
      {"block", {}, true, [](TRanges& s) { s.AddBlock(3, 512); }, "1536-2047"},
      {"blocks", {}, true, [](TRanges& s) { s.BlocksAdd(List({4, 1, 2}), 10); }, "10-29 40-49"},
      {"remove the middle", {{0, 9}}, true, [](TRanges& s) { s.RemoveByEnd(5, 6); }, "0-4 7-9"},
      {"remove all", {{0, 9}}, true, [](TRanges& s) { s.RemoveByEnd(0, 20); }, ""},
      {"remove across", {{0, 9}, {12, 14}, {20, 29}}, true, [](TRanges& s) { s.RemoveByEnd(5, 24); }, "0-4 25-29"},
      {"remove on unmerged", {{0, 9}, {5, 19}}, false, [](TRanges& s) { s.RemoveByEnd(3, 6); }, "0-2 7-19 7-9"},
      {"remove by length", {{0, 9}}, true, [](TRanges& s) { s.RemoveByLength(0, 3); }, "3-9"},
      {"remove block", {{0, 99}}, true, [](TRanges& s) { s.BlocksRemove(List({1, 3}), 20); }, "0-19 40-59 80-99"},
      {"remove by start", {{0, 9}, {0, 3}, {5, 6}}, false, [](TRanges& s) { s.RemoveByStart(0); }, "5-6"},
      {"trim to length", {{0, 9}, {20, 29}}, true, [](TRanges& s) { EXPECT_EQ(s.TrimToLength(12), 12); }, "0-9 20-21"},
      {"trim at a range end", {{0, 9}, {20, 29}}, true, [](TRanges& s) { EXPECT_EQ(s.TrimToLength(10), 10); }, "0-9"},
      {"trim past the total", {{0, 9}, {20, 29}}, true, [](TRanges& s) { EXPECT_EQ(s.TrimToLength(50), 20); }, "0-9 20-29"},
      {"trim to nothing", {{0, 9}, {20, 29}}, true, [](TRanges& s) { EXPECT_EQ(s.TrimToLength(-5), 0); }, ""},
      {"trim empty", {}, true, [](TRanges& s) { EXPECT_EQ(s.TrimToLength(5), 0); }, ""},
      {"merge nearby", {{0, 9}, {14, 20}, {40, 50}}, true, [](TRanges& s) { s.MergeNearby(5); }, "0-20 40-50"},
      {"merge nearby 1 joins touching", {{0, 9}, {10, 12}, {14, 15}}, false, [](TRanges& s) { s.MergeNearby(1); }, "0-12 14-15"},
      {"shift if overlapping", {{0, 9}, {5, 7}, {8, 20}}, false, [](TRanges& s) { s.ShiftIfOverlapping(); }, "0-9 10-12 13-25"},
      {"shift all", {{0, 9}, {20, 29}}, true, [](TRanges& s) { s.ShiftAll(-5); }, "-5-4 15-24"},
      {"align by trimming", {{5, 6}}, true, [](TRanges& s) { s.AlignByTrimming(4); }, ""},
      {"align by trimming keeps blocks", {{3, 12}, {17, 18}}, true, [](TRanges& s) { s.AlignByTrimming(4); }, "4-11"},
      {"align by extending joins adjacent", {{1, 2}, {5, 6}}, true, [](TRanges& s) { EXPECT_TRUE(s.AlignByExtending(4)); }, "0-7"},
      {"align by extending leaves overlaps", {{0, 5}, {7, 9}}, true, [](TRanges& s) { EXPECT_TRUE(s.AlignByExtending(4)); }, "0-7 4-11"},
      {"aligned already", {{0, 3}, {8, 11}}, true, [](TRanges& s) { EXPECT_FALSE(s.AlignByExtending(4)); }, "0-3 8-11"},
      {"split into blocks", {{2, 9}}, true, [](TRanges& s) { s.SplitIntoBlocks(4); }, "2-3 4-7 8-9"},
      {"split two", {{2, 5}, {7, 8}, {11, 12}}, true, [](TRanges& s) { s.SplitIntoBlocks(4); }, "2-3 4-5 7-7 8-8 11-11 12-12"},
      {"split overlapping", {{2, 9}, {3, 4}}, false, [](TRanges& s) { s.SplitIntoBlocks(4); }, "2-3 3-3 4-7 4-4 8-9"},
      {"to blocks", {{0, 9}, {20, 29}}, true, [](TRanges& s) { s.ToBlocks(10); }, "0-0 2-2"},
      {"filter by blocks", {{5, 34}}, true, [](TRanges& s) { s.FilterByBlocks(List({0, 2}), 10); }, "5-9 20-29"},
      {"filter keeping all", {{5, 8}}, true, [](TRanges& s) { s.FilterByBlocks(List({0}), 10); }, "5-8"},
      {"add the set to itself", {{0, 3}, {9, 9}}, true, [](TRanges& s) { s.AddRanges(s); }, "0-3 9-9"},
      {"remove the set from itself", {{0, 3}, {9, 9}}, true, [](TRanges& s) { s.RemoveRanges(s); }, ""},
  };
  for (const auto& c : cases) {
    auto s = Make(c.start, c.merged);
    c.op(*s);
    EXPECT_EQ(Show(*s), c.expected) << c.what;
  }
}

// A set whose ranges were changed in place so that two touch is merged again by the next
// addition, as a walk over the whole list does.
TEST(TRanges, MergesAfterRangesChangedInPlace) {
  auto s = Make({{0, 3}, {10, 13}});
  s->Ranges(0)->MoveEndTo(9);  // 0-9 touches 10-13
  s->AddByEnd(20, 21);
  EXPECT_EQ(Show(*s), "0-9 10-13 20-21");
  s->AddByEnd(5, 5);
  EXPECT_EQ(Show(*s), "0-13 20-21");
  s->AddByEnd(14, 19);
  EXPECT_EQ(Show(*s), "0-21");
}

TEST(TRanges, Queries) {
  auto s = Make({{0, 9}, {20, 24}, {30, 39}});
  EXPECT_EQ(s->TotalLength(), 25);
  EXPECT_EQ(s->TotalStart(), 0);
  EXPECT_EQ(s->TotalEnd(), 39);
  EXPECT_EQ(s->Longest(), s->Ranges(0));  // the first of two with length 10
  EXPECT_EQ(s->Last(), TRange::ByEnd(30, 39));
  EXPECT_TRUE(s->IsAdjacent(std::make_unique<TRange>(TRange::ByEnd(25, 27)).get()));
  EXPECT_FALSE(s->IsAdjacent(std::make_unique<TRange>(TRange::ByEnd(26, 27)).get()));

  TRanges empty;
  EXPECT_TRUE(empty.IsEmpty());
  EXPECT_EQ(empty.TotalStart(), -1);
  EXPECT_EQ(empty.TotalEnd(), -1);
  EXPECT_EQ(empty.TotalLength(), 0);
  EXPECT_EQ(empty.Longest(), nullptr);

  TRange one = TRange::ByEnd(3, 5);
  TRanges single(one);
  EXPECT_TRUE(single.IsSame(&one));
  EXPECT_FALSE(s->IsSame(&one));
  auto copy = s->Copy();
  EXPECT_TRUE(copy->IsSame(*s));
  copy->RemoveByEnd(0, 0);
  EXPECT_FALSE(copy->IsSame(*s));
  EXPECT_THROW(s->Remove(3), Exception);
  EXPECT_THROW(s->CopyRange(-1), Exception);
}

TEST(TRanges, ExtractAndEmptySet) {
  auto s = Make({{0, 9}, {20, 24}});
  EXPECT_EQ(s->ExtractFirst(), TRange::ByEnd(0, 9));
  EXPECT_EQ(s->ExtractLast(), TRange::ByEnd(20, 24));
  EXPECT_TRUE(s->IsEmpty());
  TRecordedProblems problems;
  s->ExtractFirst();  // reported, not a crash
  s->ExtractLast();
  EXPECT_EQ(problems.size(), 2u);
}

TEST(TRanges, Intersections) {
  auto a = Make({{0, 10}, {20, 30}, {40, 50}});
  auto b = Make({{5, 6}, {8, 25}, {29, 45}});
  EXPECT_EQ(Show(*a->Intersection(*b)), "5-6 8-10 20-25 29-30 40-45");
  EXPECT_EQ(Show(*a->Intersection(TRange::ByEnd(9, 41))), "9-10 20-30 40-41");
  EXPECT_EQ(a->IntersectionAsSingleRange(TRange::ByEnd(25, 60)), TRange::ByEnd(25, 30));
  EXPECT_EQ(a->IntersectionAsSingleRange(TRange::ByEnd(12, 15)).Length(), 0);
}

TEST(TRanges, NonAlignedRanges) {
  struct Case {
    std::int64_t s, e, block;
    const char* expected;
  } cases[] = {
      {5, 6, 4, "5-6"},        // inside one block: the range itself
      {3, 12, 4, "3-3 12-12"}, {4, 11, 4, ""}, {2, 9, 4, "2-3 8-9"}, {0, 5, 8, "0-5"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Show(*TRange::ByEnd(c.s, c.e).NonAlignedRanges(c.block)), c.expected) << c.s << "-" << c.e;
  auto s = Make({{3, 12}, {17, 18}});
  EXPECT_EQ(Show(*s->NonAlignedRanges(4)), "3-3 12-12 17-18");
}

TEST(TRanges, Blocks) {
  auto s = Make({{5, 25}, {28, 29}, {95, 95}});
  TIntegerList blocks;
  s->GetBlockList(blocks, 10);
  EXPECT_EQ(blocks.ToString(), u"0, 1, 2, 9");
  EXPECT_EQ(s->BlocksUsed(10), 4);
  EXPECT_EQ(s->BlocksUsed(1), 24);
}

TEST(TRanges, ToString) {
  auto s = Make({{0, 9}, {20, 24}});
  EXPECT_EQ(s->ToString(), u"[ Count = 2, Total Length: 15 ]\r\n0 - 9 (10)\r\n20 - 24 (5)\r\n");
  TRanges big(TRange::ByLength(1024, 1024));
  EXPECT_EQ(big.ToString(), u"[ Count = 1, Total Length: 1024 ]\r\n1,024 - 2,047 (1,024)\r\n");
}

TEST(TRanges, OverflowRaisesAndKeepsTheSet) {
  auto s = Make({{0, 9}, {kHigh - 9, kHigh - 1}});
  EXPECT_THROW(s->AddByLength(kHigh, 2), EIntOverflow);
  EXPECT_THROW(s->ShiftAll(10), EIntOverflow);
  EXPECT_THROW(s->AddBlock(INT64_MAX / 2, 4), EIntOverflow);
  EXPECT_THROW(s->MergeNearby(kHigh), EIntOverflow);
  EXPECT_EQ(Show(*s), "0-9 " + std::to_string(kHigh - 9) + "-" + std::to_string(kHigh - 1));
}
