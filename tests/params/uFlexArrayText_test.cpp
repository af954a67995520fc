#include <functional>
#include <string>

#include "ParamsTestSupport.h"
#include "TestSupport.h"
#include "params/uFlexArray.h"
#include "params/uMiscLean.h"

using paramstest::Describe;

namespace {

TFlexArray List(std::initializer_list<Variant> aValues) {
  TFlexArray a;
  a.AddValues(aValues);
  return a;
}

// ---- Compact form -------------------------------------------------------------------------

TEST(TFlexArrayText, CompactFormWritesAndReadsBack) {
  struct Case {
    const char* name;
    TFlexArray array;
    const char16_t* text;
    const char* readBack;
  } cases[] = {
      {"installer parameters", FlexArrayFromPairs({u"Installer", u"C:\\Setup x.exe", u"Hidden", Variant()}),
       u"Installer|C%3A%5CSetup+x.exe|Hidden||", "Installer=Text:C:\\Setup x.exe Hidden=Empty:"},
      {"list", List({u"a", u"b"}), u"|a||b|", "=Text:a =Text:b"},
      {"empty array", TFlexArray(), u"", ""},
      {"one plain value", List({u"abc"}), u"abc", "=Text:abc"},
      {"keyed Boolean", FlexArrayFromPairs({u"b", true}), u"b|True|", "b=Boolean:True"},
      {"keyless Boolean reads back as text", List({true}), u"True", "=Text:True"},
      {"integer reads back as text", FlexArrayFromPairs({u"n", 5}), u"n|5|", "n=Text:5"},
      {"byte array", FlexArrayFromPairs({u"h", Variant::FromBytes({0x0A, 0xFF})}), u"h|0x0AFF|", "h=Array:0x0AFF"},
      {"null writes as empty", FlexArrayFromPairs({u"z", Variant::Null()}), u"z||", "z=Empty:"},
      {"separators and escapes are encoded", FlexArrayFromPairs({u"a|b", u"50% ~+"}), u"a%7Cb|50%25+%7E%2B|", "a|b=Text:50% ~+"},
      {"non-ASCII as UTF-8", FlexArrayFromPairs({u"k", u"é€😀"}), u"k|%C3%A9%E2%82%AC%ED%A0%BD%ED%B8%80|", "k=Text:é€😀"},
      {"one keyed entry is no simple string", FlexArrayFromPairs({u"k", u"v"}), u"k|v|", "k=Text:v"},
      // A lone value whose text would read back as something else goes in the full form.
      {"lone value ending in |", List({u"x|"}), u"|x%7C|", "=Text:x|"},
      {"lone empty text", List({u""}), u"||", "=Text:"},
      {"lone empty value", List({Variant()}), u"||", "=Text:"},
      {"nested array", FlexArrayFromPairs({u"n", u"a|1|"}), u"n|a%7C1%7C|", "n=Text:a|1|"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TextToUtf8(c.array.ToString()), TextToUtf8(c.text)) << c.name;
    TFlexArray r;
    r.SetFromString(c.array.ToString());
    EXPECT_EQ(Describe(r), c.readBack) << c.name;
    EXPECT_EQ(Describe(FlexArrayFromText(c.text)), c.readBack) << c.name;
  }
}

TEST(TFlexArrayText, ReadingTexts) {
  struct Case {
    const char16_t* text;
    const char* parsed;
  } cases[] = {
      {u"k|%ZZ|m|1|", "m=Text:1"},                 // malformed escape: that entry only
      {u"k|a%|m|1|", "m=Text:1"},                  // truncated escape
      {u"k|a%4|m|1|", "m=Text:1"},
      {u"%Z|v|m|1|", "m=Text:1"},                  // malformed key
      {u"k|%FF|m|1|", "m=Text:1"},                 // bytes that are no UTF-8
      {u"k|a%%b|", "k=Text:a%b"},
      {u"k|v|rest", "=Text:k|v|rest"},             // no final "|": one plain value
      {u"k|v|rest|", "k=Text:v"},                  // an incomplete last entry is dropped
      {u"x|", ""},
      {u"|", ""},
      {u"||", "=Text:"},
      {u"a|1|A|2|", "a=Text:2"},                   // a repeated key replaces, keeping its first spelling
      {u"|True||0x01|", "=Text:True =Text:0x01"},  // keyless values are not converted
      {u"t|True|f|False|h|0x0a|bad|0xZZ|", "t=Boolean:True f=Boolean:False h=Array:0x0A bad=Empty:"},
      {u"sp|a+b|", "sp=Text:a b"},
      {u"a|1|%E2%82%AC|euro|", "a=Text:1 €=Text:euro"},
  };
  for (const Case& c : cases) EXPECT_EQ(Describe(FlexArrayFromText(c.text)), c.parsed) << TextToUtf8(c.text);

  // SetFromString replaces, AddFromString adds.
  TFlexArray a = FlexArrayFromPairs({u"old", 1});
  a.AddFromString(u"new|2|");
  EXPECT_EQ(Describe(a), "old=Int32:1 new=Text:2");
  a.SetFromString(u"x|3|");
  EXPECT_EQ(Describe(a), "x=Text:3");
}

TEST(TFlexArrayText, Conversions) {
  TFlexArray a = Text(u"a|1|");
  EXPECT_EQ(Describe(a), "a=Text:1");
  Text t = a;
  EXPECT_EQ(t, u"a|1|");

  struct Case {
    Variant value;
    const char* array;
  } cases[] = {
      {Variant(u"k|v|"), "k=Text:v"}, {Variant(u"plain"), "=Text:plain"}, {Variant(), ""},
      {Variant::Null(), ""},          {Variant(7), "=Int32:7"},           {Variant(u""), ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Describe(TFlexArray(c.value)), c.array);
    TFlexArray b = FlexArrayFromPairs({u"old", 1});
    b.AllowDuplicateKeys = true;
    b = c.value;  // a new array: the old switch goes with the old contents
    EXPECT_EQ(Describe(b), c.array);
    EXPECT_FALSE(b.AllowDuplicateKeys);
  }
}

// ---- Display form -------------------------------------------------------------------------

TEST(TFlexArrayText, DisplayForm) {
  struct Case {
    const char* name;
    TFlexArray array;
    const char16_t* display;
  } cases[] = {
      {"two entries", FlexArrayFromPairs({u"Hidden", Variant(), u"Installer", u"C:\\x.exe"}),
       u"Hidden: \"\", \r\nInstaller: \"C:\\x.exe\"\r\n"},
      {"nested", FlexArrayFromPairs({u"n", u"a|1|"}), u"n (1):\r\n  a: \"1\"\r\n"},
      {"nested twice, then a value", FlexArrayFromPairs({u"o", FlexArrayFromPairs({u"n", u"a|1|", u"b", 2}).ToString(), u"z", 0}),
       u"o (2):\r\n  n (1):\r\n    a: \"1\"\r\n  b: \"2\"\r\nz: \"0\"\r\n"},
      {"multi-line value", FlexArrayFromPairs({u"m", u"l1\r\nl2", u"z", true}), u"m:\r\nl1\r\nl2, \r\nz: \"True\"\r\n"},
      {"keyless", List({u"a"}), u": \"a\"\r\n"},
      {"empty", TFlexArray(), u""},
      {"nested empty", FlexArrayFromPairs({u"n", u"x|"}), u"n (0):\r\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(TextToUtf8(c.array.AsStringForDisplay()), TextToUtf8(c.display)) << c.name;

  TArrayOfStrings lLines{u"kept"};
  FlexArrayFromPairs({u"a", 1, u"b", 2}).IntoStringsListForDisplay(lLines);
  EXPECT_EQ(lLines, (TArrayOfStrings{u"kept", u"a: \"1\", ", u"b: \"2\""}));
}

// ---- Separated texts, URLs, keys and values -------------------------------------------------

TEST(TFlexArrayText, SeparatedTexts) {
  struct Case {
    const char16_t* text;
    const char16_t* separator;
    const char* values;
  } cases[] = {
      {u"a|b||c", u"|", "=Text:a =Text:b =Text: =Text:c"},
      {u"a, b", u", ", "=Text:a =Text:b"},
      {u"", u",", "=Text:"},
      {u",", u",", "=Text: =Text:"},
      {u"abc", u"", "=Text:abc"},  // an empty separator occurs nowhere
      {u"aXXbXX", u"XX", "=Text:a =Text:b =Text:"},
  };
  for (const Case& c : cases) {
    TFlexArray a = FlexArrayFromPairs({u"old", 1});
    a.SetValuesFromStringSeparated(c.text, c.separator);
    EXPECT_EQ(Describe(a), c.values) << TextToUtf8(c.text);
    if (!Text(c.separator).empty()) {
      EXPECT_EQ(a.ToStringSeparated(c.separator), c.text);
    }
  }
  EXPECT_EQ(TFlexArray().ToStringSeparated(u","), u"");
  EXPECT_EQ(FlexArrayFromPairs({u"a", 1, u"b", true, u"c", Variant::Null()}).ToStringSeparated(u";"), u"1;True;");
}

TEST(TFlexArrayText, UrlGetParams) {
  struct Case {
    const char16_t* url;
    const char* params;
  } cases[] = {
      {u"path?a=1&b=x%20y", "a=Text:1 b=Text:x y"},
      {u"path", ""},
      {u"path?", ""},
      {u"p?a=1?b=2", "a=Text:1?b"},       // only the first "?" counts
      {u"p?flag&a=1", "flag=Text:a"},     // no "=" shifts the pairing
  };
  for (const Case& c : cases) {
    TFlexArray a = FlexArrayFromPairs({u"old", 1});
    a.SetFromUrlGetParams(c.url);
    EXPECT_EQ(Describe(a), c.params) << TextToUtf8(c.url);
  }
}

TEST(TFlexArrayText, TrimAndKeyRewrites) {
  TFlexArray a = FlexArrayFromPairs({u"a", u" \t x y\r\n", u"b", 5, u"c", Variant(), u"d", true});
  a.TrimValues();
  EXPECT_EQ(Describe(a), "a=Text:x y b=Text:5 c=Text: d=Text:True");
  TFlexArray lNull = FlexArrayFromPairs({u"n", Variant::Null()});
  EXPECT_THROW(lNull.TrimValues(), EVariantError);

  TFlexArray k = FlexArrayFromPairs({u"a", 1});
  k.AddValueWithNoKey(Variant(2));
  k.KeysAddPrefix(u"Old");
  EXPECT_EQ(Describe(k), "Olda=Int32:1 Old=Int32:2");

  struct Case {
    TReplaceFlags flags;
    const char* keys;
  } cases[] = {
      {0, "xab-x-AB-="},
      {rfReplaceAll, "xx-x-AB-="},
      {rfIgnoreCase, "xab-x-x-="},
      {rfReplaceAll | rfIgnoreCase, "xx-x-x-="},
  };
  for (const Case& c : cases) {
    TFlexArray r;
    r.Insert(u"abab", Variant(), 0);
    r.Insert(u"ab", Variant(), 1);
    r.Insert(u"AB", Variant(), 2);
    r.Insert(u"", Variant(), 3);
    r.KeysReplace(u"ab", u"x", c.flags);
    std::string lKeys;
    for (int i = 0; i < r.Count(); ++i) lKeys += TextToUtf8(r.GetKeyByIndex(i)) + (i + 1 < r.Count() ? "-" : "=");
    EXPECT_EQ(lKeys, c.keys) << c.flags;
  }
}

// ---- Two dimensions ---------------------------------------------------------------------

TEST(TFlexArrayText, TwoDimensions) {
  TFlexArray a;
  a.D2Set(u"Job1", u"State", Variant(u"Done"));
  EXPECT_EQ(Describe(a), "Job1=Text:State|Done|");
  EXPECT_EQ(Describe(a.D2(Variant(u"job1"))), "State=Text:Done");
  EXPECT_EQ(a.D2Find({u"State", u"Done"}), 0);
  EXPECT_EQ(a.D2Find({u"State", u"done"}), -1);

  a.D2Set(u"Job1", u"Tries", Variant(2));
  a.D2Add(u"Job2", {u"State", u"Waiting", u"Tries", 0});
  a.D2AddValue({u"State", u"Done", u"Tries", 3});
  EXPECT_EQ(Describe(a), "Job1=Text:State|Done|Tries|2| Job2=Text:State|Waiting|Tries|0| =Text:State|Done|Tries|3|");
  EXPECT_EQ(a.D2Find({u"Tries", 0}), 1);        // 0 and "0" are equal
  EXPECT_EQ(a.D2Find({u"Tries", u"3"}), 2);
  EXPECT_EQ(a.D2Find({u"State", u"Done", u"Tries", 3}), 2);
  EXPECT_EQ(a.D2Find({}), 0);                   // the empty pattern is everywhere
  EXPECT_EQ(Describe(a.D2(Variant(2))), "State=Text:Done Tries=Text:3");
  EXPECT_EQ(Describe(a.D2(Variant(u"missing"))), "");
  EXPECT_EQ(a.D2(Variant(u"missing")).Count(), 0);
  EXPECT_EQ(TFlexArray().D2Find({u"a", 1}), -1);

  TFlexArray lNull = FlexArrayFromPairs({u"n", Variant::Null()});
  EXPECT_THROW(lNull.D2(Variant(u"n")), EVariantError);
  EXPECT_THROW(lNull.D2Set(u"n", u"x", Variant(1)), EVariantError);
  EXPECT_EQ(Describe(lNull), "n=Null:");
}

}  // namespace
