#include <cmath>
#include <cstdint>
#include <limits>

#include "TestSupport.h"
#include "rtl/Variant.h"

namespace {

// The flex array stores these by the thousand.
static_assert(sizeof(Variant) <= sizeof(Text) + 8, "a Variant is a Text plus its kind");

TEST(Variant, ConstructorsChooseTheKindOfTheirType) {
  struct Case {
    Variant value;
    TVarKind kind;
  } cases[] = {
      {Variant(), TVarKind::Empty},
      {Variant::Null(), TVarKind::Null},
      {Variant(true), TVarKind::Boolean},
      {Variant(5), TVarKind::Int32},  // a plain integer is never packed narrower
      {Variant(std::int8_t(5)), TVarKind::Int8},
      {Variant(std::int16_t(5)), TVarKind::Int16},
      {Variant(std::int64_t(5)), TVarKind::Int64},
      {Variant(5LL), TVarKind::Int64},
      {Variant(std::uint8_t(5)), TVarKind::UInt8},
      {Variant(std::uint16_t(5)), TVarKind::UInt16},
      {Variant(5u), TVarKind::UInt32},
      {Variant(std::uint64_t(5)), TVarKind::UInt64},
      {Variant(1.5f), TVarKind::Single},
      {Variant(1.5), TVarKind::Double},
      {Variant::FromCurrency(1.5), TVarKind::Currency},
      {Variant::FromDateTime(1.5), TVarKind::DateTime},
      {Variant(u"x"), TVarKind::Text},
      {Variant(Text(u"x")), TVarKind::Text},
      {Variant(TextView(u"x")), TVarKind::Text},
      {Variant::FromBytes({1, 2}), TVarKind::Array},
  };
  for (const Case& c : cases) EXPECT_EQ(c.value.Kind(), c.kind) << TextToUtf8(VarKindName(c.kind));
}

TEST(Variant, StandardTextForm) {
  struct Case {
    Variant value;
    const char16_t* text;
  } cases[] = {
      {Variant(), u""},
      {Variant(true), u"True"},
      {Variant(false), u"False"},
      {Variant(-5), u"-5"},
      {Variant(std::numeric_limits<std::int64_t>::min()), u"-9223372036854775808"},
      {Variant(std::numeric_limits<std::uint64_t>::max()), u"18446744073709551615"},
      {Variant(std::int8_t(-128)), u"-128"},
      {Variant(1.5), u"1.5"},
      {Variant(0.1f), u"0.1"},
      {Variant(1e20), u"1E20"},
      {Variant(1e-5), u"1E-5"},
      {Variant(-2.0), u"-2"},
      {Variant::FromCurrency(12.34), u"12.34"},
      {Variant::FromCurrency(-0.5), u"-0.5"},
      {Variant::FromCurrencyScaled(70000), u"7"},
      {Variant::FromDateTime(DateTimeEncode(2024, 5, 6)), u"2024-05-06"},
      {Variant::FromDateTime(DateTimeEncode(2024, 5, 6, 7, 8, 9)), u"2024-05-06 07:08:09"},
      {Variant(u"Text with ~ and é"), u"Text with ~ and é"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.value.ToText(), c.text) << TextToUtf8(c.text);
}

TEST(Variant, NullAndArraysHaveNoTextForm) {
  EXPECT_THROW(Variant::Null().ToText(), EVariantError);
  EXPECT_THROW(Variant::FromBytes({1}).ToText(), EVariantError);
  EXPECT_THROW(Variant::FromDateTime(NAN).ToText(), EVariantError);
  try {
    Variant::Null().ToText();
  } catch (const EVariantError& e) {
    EXPECT_NE(e.Message().find(u"Null"), Text::npos);
  }
}

TEST(Variant, ToInt64) {
  struct Case {
    Variant value;
    std::int64_t expected;
  } cases[] = {
      {Variant(), 0},
      {Variant(true), 1},
      {Variant(std::uint32_t(0xFFFFFFFF)), 0xFFFFFFFFLL},
      {Variant(-7), -7},
      {Variant(2.5), 2},  // halves to even
      {Variant(3.5), 4},
      {Variant(-2.6), -3},
      {Variant::FromCurrency(12.5), 12},
      {Variant(u"123"), 123},
      {Variant(u"-12"), -12},
      {Variant(u"$FF"), 255},
      {Variant(u"0x10"), 16},
      {Variant(u"1.5"), 2},
  };
  for (const Case& c : cases) EXPECT_EQ(c.value.ToInt64(), c.expected) << TextToUtf8(VarKindName(c.value.Kind()));

  const Variant bad[] = {Variant::Null(), Variant(u"abc"), Variant(u""), Variant(u" 1"),
                         Variant(std::numeric_limits<std::uint64_t>::max()), Variant(1e30), Variant(NAN),
                         Variant::FromBytes({1})};
  for (const Variant& v : bad) EXPECT_THROW(v.ToInt64(), EVariantError) << TextToUtf8(VarKindName(v.Kind()));
}

TEST(Variant, ToUInt64KeepsTheWholeUnsignedRange) {
  EXPECT_EQ(Variant(std::numeric_limits<std::uint64_t>::max()).ToUInt64(), std::numeric_limits<std::uint64_t>::max());
  EXPECT_EQ(Variant(u"18446744073709551615").ToUInt64(), std::numeric_limits<std::uint64_t>::max());
  EXPECT_EQ(Variant(7).ToUInt64(), 7u);
  EXPECT_THROW(Variant(-1).ToUInt64(), EVariantError);
  EXPECT_THROW(Variant(u"-1").ToUInt64(), EVariantError);
}

TEST(Variant, ToBoolAndToDouble) {
  EXPECT_TRUE(Variant(u"TRUE").ToBool());
  EXPECT_FALSE(Variant(u"false").ToBool());
  EXPECT_FALSE(Variant(u"0").ToBool());
  EXPECT_TRUE(Variant(2).ToBool());
  EXPECT_FALSE(Variant(0.0).ToBool());
  EXPECT_FALSE(Variant().ToBool());
  EXPECT_THROW(Variant(u"yes").ToBool(), EVariantError);
  EXPECT_THROW(Variant::Null().ToBool(), EVariantError);

  EXPECT_DOUBLE_EQ(Variant(u"1.25e2").ToDouble(), 125.0);
  EXPECT_DOUBLE_EQ(Variant::FromCurrencyScaled(12345).ToDouble(), 1.2345);
  EXPECT_DOUBLE_EQ(Variant(std::uint8_t(200)).ToDouble(), 200.0);
  EXPECT_THROW(Variant(u"1,5").ToDouble(), EVariantError);
  EXPECT_THROW(Variant(u"inf").ToDouble(), EVariantError);
}

TEST(Variant, PlainComparisonNeedsSameKindAndContent) {
  EXPECT_EQ(Variant(), Variant());
  EXPECT_EQ(Variant::Null(), Variant::Null());
  EXPECT_NE(Variant(), Variant::Null());
  EXPECT_EQ(Variant(5), Variant(5));
  EXPECT_NE(Variant(5), Variant(std::int64_t(5)));
  EXPECT_NE(Variant(5), Variant(u"5"));
  EXPECT_EQ(Variant(u"abc"), Variant(Text(u"abc")));
  EXPECT_NE(Variant(u"abc"), Variant(u"ABC"));
  EXPECT_NE(Variant(true), Variant(1));
  EXPECT_EQ(Variant::FromBytes({1, 2}), Variant::FromBytes({1, 2}));
  EXPECT_NE(Variant::FromBytes({1, 2}), Variant::FromBytes({1, 3}));
  EXPECT_NE(Variant::FromBytes({1}), Variant::FromBytes({1, 0}));
  EXPECT_NE(Variant::FromBytes({1}), Variant::ArrayCreate(TVarKind::Int8, 1));
}

TEST(Variant, CopiesAreIndependentAndMovesLeaveEmpty) {
  Variant a = Variant::FromBytes({1, 2, 3});
  Variant b = a;
  b.ArraySet(0, Variant(9));
  EXPECT_EQ(a.ArrayGet(0), Variant(std::uint8_t(1)));
  EXPECT_EQ(b.ArrayGet(0), Variant(std::uint8_t(9)));

  Variant t(u"a long text that does not fit any small buffer of the string");
  Variant u = t;
  u = Variant(3);
  EXPECT_EQ(t.ToText(), u"a long text that does not fit any small buffer of the string");
  Variant moved = std::move(t);
  EXPECT_TRUE(t.IsEmpty());
  EXPECT_EQ(moved.ToText(), u"a long text that does not fit any small buffer of the string");

  Variant& self = moved;
  moved = self;
  EXPECT_TRUE(moved.IsText());
  moved = std::move(a);
  EXPECT_EQ(moved.ArrayCount(), 3u);
}

TEST(Variant, ArraysOfEveryIntegerKind) {
  Variant q = Variant::ArrayCreate(TVarKind::UInt64, 2);
  q.ArraySet(1, Variant(std::numeric_limits<std::uint64_t>::max()));
  EXPECT_EQ(q.ArrayElementKind(), TVarKind::UInt64);
  EXPECT_EQ(q.ArrayGet(0), Variant(std::uint64_t(0)));
  EXPECT_EQ(q.ArrayGet(1), Variant(std::numeric_limits<std::uint64_t>::max()));

  Variant s = Variant::ArrayCreate(TVarKind::Int16, 1);
  s.ArraySet(0, Variant(-300));
  EXPECT_EQ(s.ArrayGet(0), Variant(std::int16_t(-300)));
  EXPECT_THROW(s.ArraySet(0, Variant(40000)), EVariantError);

  Variant b = Variant::FromBytes({});
  EXPECT_EQ(b.ArrayCount(), 0u);
  EXPECT_THROW(b.ArrayGet(0), EVariantError);
  Variant one = Variant::FromBytes({7});
  EXPECT_THROW(one.ArraySet(0, Variant(256)), EVariantError);
  EXPECT_THROW(one.ArraySet(0, Variant(-1)), EVariantError);
  EXPECT_THROW(one.ArraySet(1, Variant(1)), EVariantError);
  EXPECT_EQ(one.ArrayBytes(), std::vector<std::uint8_t>{7});
  EXPECT_THROW(Variant(5).ArrayCount(), EVariantError);
  EXPECT_THROW(Variant::ArrayCreate(TVarKind::Text, 1), EVariantError);
}

TEST(Variant, DateTimeCalendar) {
  EXPECT_EQ(DateTimeEncode(1899, 12, 30), 0.0);
  EXPECT_EQ(DateTimeEncode(1900, 1, 1, 12), 2.5);
  EXPECT_EQ(DateTimeEncode(1899, 12, 29, 6), -1.25);  // the fraction counts forward
  EXPECT_EQ(DateTimeEncode(2000, 2, 29), 36585.0);

  struct Case {
    int y, m, d, h, n, s, ms;
  } cases[] = {{1, 1, 1, 0, 0, 0, 0}, {1899, 12, 29, 6, 0, 0, 0}, {2024, 2, 29, 23, 59, 59, 999},
               {9999, 12, 31, 12, 30, 0, 1}, {1970, 1, 1, 0, 0, 1, 0}};
  for (const Case& c : cases) {
    TDateTimeParts p = DateTimeDecode(DateTimeEncode(c.y, c.m, c.d, c.h, c.n, c.s, c.ms));
    EXPECT_EQ(p.Year, c.y);
    EXPECT_EQ(p.Month, c.m);
    EXPECT_EQ(p.Day, c.d);
    EXPECT_EQ(p.Hour, c.h);
    EXPECT_EQ(p.Minute, c.n);
    EXPECT_EQ(p.Second, c.s);
    EXPECT_EQ(p.MilliSecond, c.ms);
  }

  EXPECT_THROW(DateTimeEncode(2023, 2, 29), EConvertError);
  EXPECT_THROW(DateTimeEncode(2023, 13, 1), EConvertError);
  EXPECT_THROW(DateTimeEncode(2023, 1, 1, 24), EConvertError);
  EXPECT_THROW(DateTimeEncode(0, 1, 1), EConvertError);
  EXPECT_THROW(DateTimeDecode(NAN), EConvertError);
  EXPECT_THROW(DateTimeDecode(1e12), EConvertError);
  EXPECT_THROW(DateTimeDecode(DateTimeEncode(1, 1, 1) - 1), EConvertError);
}

TEST(Variant, TextToNumberForms) {
  std::int64_t i = 0;
  EXPECT_TRUE(TextToInt64Try(u"$FFFFFFFFFFFFFFFF", i));
  EXPECT_EQ(i, -1);
  EXPECT_TRUE(TextToInt64Try(u"-9223372036854775808", i));
  EXPECT_EQ(i, std::numeric_limits<std::int64_t>::min());
  EXPECT_FALSE(TextToInt64Try(u"9223372036854775808", i));
  EXPECT_FALSE(TextToInt64Try(u"$10000000000000000", i));
  EXPECT_FALSE(TextToInt64Try(u"$", i));
  EXPECT_FALSE(TextToInt64Try(u"-", i));
  EXPECT_FALSE(TextToInt64Try(u"１", i));  // full-width digit
  double d = 0;
  EXPECT_FALSE(TextToDoubleTry(u"1e", d));
  EXPECT_FALSE(TextToDoubleTry(u"nan", d));
  EXPECT_TRUE(TextToDoubleTry(u"+.5", d));
  EXPECT_EQ(d, 0.5);
}

}  // namespace
