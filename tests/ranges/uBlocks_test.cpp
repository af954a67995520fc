#include "ranges/uBlocks.h"

#include "TestSupport.h"

namespace {
TIntegerList ListOf(std::initializer_list<std::int32_t> items) {
  TIntegerList l;
  for (auto v : items) l.Add(v);
  return l;
}
}  // namespace

TEST(TIntegerList, EmptyListExtremes) {
  TIntegerList l;
  EXPECT_EQ(l.Smallest(), 2147483647);
  EXPECT_EQ(l.Largest(), -2147483647 - 1);
  EXPECT_EQ(l.ToString(), u"");
  EXPECT_EQ(l.IndexOf(0), -1);
}

TEST(TIntegerList, AddIndexAndExtremes) {
  TIntegerList l;
  EXPECT_EQ(l.Add(5), 0);
  EXPECT_EQ(l.Add(-3), 1);
  EXPECT_EQ(l.Add(5), 2);
  EXPECT_EQ(l.IndexOf(5), 0) << "the first occurrence";
  EXPECT_EQ(l.IndexOf(7), -1);
  EXPECT_EQ(l.Smallest(), -3);
  EXPECT_EQ(l.Largest(), 5);
  EXPECT_EQ(l.ToString(), u"5, -3, 5");
  l.FItemSet(1, 9);
  EXPECT_EQ(l.Items(1), 9);
}

TEST(TIntegerList, AddListAndSubtract) {
  TIntegerList l = ListOf({1, 2, 3, 2, 4});
  l.Subtract(ListOf({2, 4, 99}));
  EXPECT_EQ(l.ToString(), u"1, 3") << "every occurrence goes";
  l.AddList(ListOf({7, 1}));
  EXPECT_EQ(l.ToString(), u"1, 3, 7, 1");
  l.AddList(l);
  EXPECT_EQ(l.ToString(), u"1, 3, 7, 1, 1, 3, 7, 1") << "adding a list to itself doubles it once";
  l.Subtract(l);
  EXPECT_EQ(l.Count(), 0);
}

TEST(TIntegerList, CountAndDelete) {
  TIntegerList l = ListOf({10, 20, 30});
  l.Delete(1);
  EXPECT_EQ(l.ToString(), u"10, 30");
  l.CountSet(4);
  EXPECT_EQ(l.ToString(), u"10, 30, 0, 0");
  l.CountSet(1);
  EXPECT_EQ(l.ToString(), u"10");
}

TEST(TIntegerList, BadIndexIsAClearError) {
  TIntegerList l = ListOf({1});
  for (int i : {-1, 1, 1000}) {
    EXPECT_THROW((void)l.Items(i), EIntegerListError) << i;
    EXPECT_THROW(l.FItemSet(i, 0), EIntegerListError) << i;
    EXPECT_THROW(l.Delete(i), EIntegerListError) << i;
  }
  EXPECT_THROW(l.CountSet(-1), EIntegerListError);
  try {
    (void)l.Items(3);
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), u"List index out of bounds (3)");
  }
  EXPECT_EQ(l.ToString(), u"1");
}
