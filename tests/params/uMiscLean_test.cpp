#include "params/uMiscLean.h"

#include <cstdint>
#include <vector>

#include "TestSupport.h"

namespace {

TEST(uMiscLean, TextStartsWith) {
  struct Case {
    const char16_t* text;
    const char16_t* prefix;
    bool exact;
    bool ignoreCase;
  } cases[] = {
      {u"//comment", u"//", true, true},
      {u"/x", u"//", false, false},
      {u"abc", u"", false, false},
      {u"", u"", false, false},
      {u"ABC", u"a", false, true},
      {u"ab", u"abc", false, false},
      {u"abc", u"abc", true, true},
      {u"ÉCOLE", u"é", false, false},  // only ASCII letters fold
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TextStartsWith(c.text, c.prefix), c.exact) << TextToUtf8(c.text) << " / " << TextToUtf8(c.prefix);
    EXPECT_EQ(TextStartsWithIgnoreCase(c.text, c.prefix), c.ignoreCase)
        << TextToUtf8(c.text) << " / " << TextToUtf8(c.prefix);
  }
}

TEST(uMiscLean, AsciiCaseFoldingLeavesOtherCharactersAlone) {
  EXPECT_EQ(TextLowerAscii(u"AbC-ÄÉ"), u"abc-ÄÉ");
  EXPECT_EQ(TextUpperAscii(u"aBc-äé"), u"ABC-äé");
  EXPECT_TRUE(TextSameIgnoreCase(u"Program Files", u"PROGRAM files"));
  EXPECT_FALSE(TextSameIgnoreCase(u"é", u"É"));
  EXPECT_FALSE(TextSameIgnoreCase(u"ab", u"abc"));
  EXPECT_EQ(TextCompareIgnoreCase(u"abc", u"ABD"), -1);
  EXPECT_EQ(TextCompareIgnoreCase(u"ABC", u"abc"), 0);
  EXPECT_EQ(TextCompareIgnoreCase(u"abcd", u"ABC"), 1);
  // Upper-case folding: '_' (0x5F) sorts after the letters, as in directory order.
  EXPECT_EQ(TextCompareIgnoreCase(u"a_", u"AZ"), 1);
  EXPECT_EQ(TextFindIgnoreCase(u"xxHello", u"hELLO"), 2u);
  EXPECT_EQ(TextFindIgnoreCase(u"Hel", u"hello"), Text::npos);
}

TEST(uMiscLean, TextGroupDigits) {
  struct Case {
    const char16_t* in;
    const char16_t* out;
  } cases[] = {
      {u"1234567", u"1,234,567"}, {u"123", u"123"},   {u"-123", u"-123"}, {u"-1234", u"-1,234"},
      {u"1234", u"1,234"},        {u"12", u"12"},     {u"", u""},         {u"1", u"1"},
      {u"123456", u"123,456"},    {u"x1234", u"x1,234"}, {u"ab1234", u"ab1,234"}, {u"1.5", u"1.5"},
  };
  for (const Case& c : cases) EXPECT_EQ(TextGroupDigits(c.in, u','), c.out) << TextToUtf8(c.in);
  EXPECT_EQ(VariantToTextGrouped(Variant(std::int64_t(-1234567890))), u"-1,234,567,890");
  EXPECT_EQ(VariantToTextGrouped(Variant(999)), u"999");
}

TEST(uMiscLean, VariantToTextAndVariantIsEmpty) {
  EXPECT_EQ(VariantToText(Variant(42)), u"42");
  EXPECT_EQ(VariantToText(Variant(true)), u"True");
  EXPECT_EQ(VariantToText(Variant::FromBytes({0x00, 0xAB})), u"00ab");
  EXPECT_THROW(VariantToText(Variant::Null()), EVariantError);

  EXPECT_TRUE(VariantIsEmpty(Variant()));
  EXPECT_TRUE(VariantIsEmpty(Variant::Null()));
  EXPECT_TRUE(VariantIsEmpty(Variant(u"")));
  EXPECT_FALSE(VariantIsEmpty(Variant(0)));
  EXPECT_FALSE(VariantIsEmpty(Variant(false)));
  EXPECT_FALSE(VariantIsEmpty(Variant(u" ")));
  EXPECT_FALSE(VariantIsEmpty(Variant::FromBytes({})));
}

TEST(uMiscLean, HexTexts) {
  Variant b = HexTextToBytes(u"0x00ff");
  ASSERT_TRUE(b.IsArray());
  EXPECT_EQ(b.ArrayBytes(), (std::vector<std::uint8_t>{0x00, 0xFF}));
  EXPECT_EQ(BytesToHexText(b), u"00ff");
  EXPECT_TRUE(HexTextToBytes(u"0X00").IsEmpty());  // the prefix is case-sensitive
  EXPECT_TRUE(HexTextToBytes(u"12g4").IsEmpty());
  EXPECT_TRUE(HexTextToBytes(u"12 4").IsEmpty());
  EXPECT_EQ(HexTextToBytes(u"AbC").ArrayBytes(), std::vector<std::uint8_t>{0xAB});  // odd digit ignored
  Variant none = HexTextToBytes(u"");
  ASSERT_TRUE(none.IsArray());
  EXPECT_EQ(none.ArrayCount(), 0u);
  EXPECT_EQ(HexTextToBytes(u"0x").ArrayCount(), 0u);

  EXPECT_EQ(BytesToHexText(Variant::Null()), u"");
  EXPECT_THROW(BytesToHexText(Variant(5)), EVariantError);
  // Wider elements keep the first two digits of their hexadecimal text.
  Variant w = Variant::ArrayCreate(TVarKind::UInt16, 3);
  w.ArraySet(0, Variant(0x1234));
  w.ArraySet(1, Variant(0x5));
  w.ArraySet(2, Variant(0xAB));
  EXPECT_EQ(BytesToHexText(w), u"1205ab");

  EXPECT_EQ(HexTextByteCount(u"00ff1"), 2);
  EXPECT_EQ(HexDigitValue(u'7'), 7);
  EXPECT_EQ(HexDigitValue(u'c'), 12);
  EXPECT_EQ(HexDigitValue(u'F'), 15);
  EXPECT_THROW(HexDigitValue(u'g'), EConvertError);
  EXPECT_THROW(HexDigitValue(u'\0'), EConvertError);

  EXPECT_EQ(IntToHexText(32, 255), u"$000000FF");
  EXPECT_EQ(IntToHexText(8, 0x1234), u"$1234");
  EXPECT_EQ(IntToHexText(64, 0xDEADBEEFull), u"$00000000DEADBEEF");
  EXPECT_EQ(PointerToText(nullptr).size(), 1 + sizeof(void*) * 2);
}

TEST(uMiscLean, TextToInt64) {
  EXPECT_EQ(TextToInt64(u""), 0);
  EXPECT_EQ(TextToInt64(u"123"), 123);
  EXPECT_EQ(TextToInt64(u"-5"), -5);
  EXPECT_EQ(TextToInt64(u"$FF"), 255);
  EXPECT_EQ(TextToInt64(u"0x10"), 16);
  EXPECT_EQ(TextToInt64(u"$FFFFFFFFFFFFFFFF"), -1);
  for (const char16_t* bad : {u"abc", u"12x", u"99999999999999999999", u"1.5", u" 1", u"$"})
    EXPECT_THROW(TextToInt64(bad), EConvertError) << TextToUtf8(bad);
  EXPECT_EQ(TextToPointer(u"$10"), std::uintptr_t(16));
}

TEST(uMiscLean, TextPieces) {
  EXPECT_TRUE(TextContains(u"lo W", u"Hello World", true));
  EXPECT_FALSE(TextContains(u"lo w", u"Hello World", true));
  EXPECT_TRUE(TextContains(u"lo w", u"Hello World", false));
  EXPECT_FALSE(TextContains(u"", u"Hello", false));

  std::vector<Text> list{u"One", u"Two"};
  EXPECT_TRUE(TextIsInList(u"Two", list, true));
  EXPECT_FALSE(TextIsInList(u"two", list, true));
  EXPECT_TRUE(TextIsInListIgnoreCase(u"two", list));
  EXPECT_FALSE(TextIsInListIgnoreCase(u"Three", list));
  EXPECT_FALSE(TextIsInListIgnoreCase(u"", {}));
  EXPECT_TRUE(IntegerIsInList(3, {1, 2, 3}));
  EXPECT_FALSE(IntegerIsInList(4, {1, 2, 3}));
  EXPECT_FALSE(IntegerIsInList(0, {}));

  EXPECT_EQ(TextAfter(u"=", u"key=value=x"), u"value=x");
  EXPECT_EQ(TextAfter(u"#", u"key=value"), u"key=value");
  EXPECT_EQ(TextAfter(u"value", u"key=value"), u"");
  EXPECT_EQ(TextFirstChar(u"abc"), u'a');
  EXPECT_EQ(TextLastChar(u"abc"), u'c');
  EXPECT_EQ(TextFirstChar(u""), char16_t(0));
  EXPECT_EQ(TextLastChar(u""), char16_t(0));
  EXPECT_EQ(WideTextByteLength(u"abc"), 6);
  EXPECT_EQ(WideTextByteLength(u""), 0);
}

TEST(uMiscLean, UrlEncode) {
  struct Case {
    Text in;
    const char16_t* out;
  } cases[] = {
      {u"a b~", u"a+b%7E"},
      {u"\u00E9", u"%C3%A9"},
      {u"|", u"%7C"},
      {u"!$'()*-.@_azAZ09", u"!$'()*-.@_azAZ09"},
      {u"+%&=/\\\"#", u"%2B%25%26%3D%2F%5C%22%23"},
      {Text(1, u'\0') + u"\r\n\x7F", u"%00%0D%0A%7F"},
      {u"\u20AC", u"%E2%82%AC"},
      {u"\U0001F600", u"%ED%A0%BD%ED%B8%80"},  // each surrogate on its own
      {u"", u""},
  };
  for (const Case& c : cases) EXPECT_EQ(UrlEncode(c.in), c.out) << TextToUtf8(c.out);
}

TEST(uMiscLean, UrlDecode) {
  struct Case {
    const char16_t* in;
    Text out;
  } cases[] = {
      {u"%41%%+", u"A% "},
      {u"%C3%A9", u"\u00E9"},
      {u"%c3%a9", u"\u00E9"},
      {u"a+b%7E", u"a b~"},
      {u"\u00E9x", u"\u00E9x"},                  // raw characters pass through
      {u"%F0%9F%98%80", u"\U0001F600"},          // four-byte form of other encoders
      {u"%ED%A0%BD%ED%B8%80", u"\U0001F600"},    // our own form of a pair
      {u"%00", Text(1, u'\0')},
      {u"", u""},
  };
  for (const Case& c : cases) EXPECT_EQ(UrlDecode(c.in), c.out) << TextToUtf8(c.in);

  for (const char16_t* bad : {u"%4", u"%", u"a%", u"%G1", u"%4G", u"%FF", u"%C3", u"%C3%41", u"%C0%80", u"%80",
                              u"%F4%90%80%80"}) {
    try {
      UrlDecode(bad);
      ADD_FAILURE() << "no error for " << TextToUtf8(bad);
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), u"EConvertError") << TextToUtf8(bad);
    }
  }
}

TEST(uMiscLean, UrlEncodeThenDecodeKeepsEveryText) {
  Text all;
  for (char16_t c = 0; c < 0x800; ++c) all.push_back(c);
  all += u"\uFFFF\U0010FFFF";
  all.push_back(char16_t(0xD800));  // unpaired surrogates too
  all += u"x";
  all.push_back(char16_t(0xDFFF));
  EXPECT_EQ(UrlDecode(UrlEncode(all)), all);
}

TEST(uMiscLean, MethodTexts) {
  int object = 0;
  TMethod m{reinterpret_cast<void*>(std::uintptr_t(0x12345678)), &object};
  Text t = MethodToText(m);
  EXPECT_EQ(t.size(), 2 * (1 + sizeof(void*) * 2));
  EXPECT_EQ(t.substr(0, 1 + sizeof(void*) * 2), PointerToText(m.Code));
  TMethod back = TextToMethod(t);
  EXPECT_TRUE(MethodsEqual(back, m));
  EXPECT_FALSE(MethodIsEmpty(back));

  TMethod empty;
  EXPECT_TRUE(MethodIsEmpty(empty));
  EXPECT_TRUE(MethodsEqual(TextToMethod(MethodToText(empty)), empty));
  EXPECT_FALSE(MethodsEqual(empty, TMethod{nullptr, &object}));
  EXPECT_THROW(TextToMethod(u"$1234$zz"), EConvertError);
}

TEST(uMiscLean, DateTimeTexts) {
  TDateTime t = DateTimeEncode(2024, 5, 6, 7, 8, 9);
  EXPECT_EQ(DateTimeToText(t), u"2024-05-06 07:08:09");
  EXPECT_EQ(DateTimeToFileNameText(t), u"2024-05-06 07-08-09");
  EXPECT_EQ(DateTimeToText(DateTimeNever()), u"9999-01-01 00:00:00");
  EXPECT_EQ(DateTimeToText(0), u"1899-12-30 00:00:00");
  // The last half millisecond of a day rounds into the next day.
  EXPECT_EQ(DateTimeToText(DateTimeEncode(2023, 12, 31) + 0.9999999999), u"2024-01-01 00:00:00");
  EXPECT_GT(DateTimeNever(), DateTimeEncode(2100, 1, 1));
  EXPECT_THROW(DateTimeToText(1e300), EConvertError);
}

TEST(uMiscLean, ObjectFreeAndNil) {
  struct TCounted {
    int* FCount;
    ~TCounted() { ++*FCount; }
  };
  int destroyed = 0;
  auto* p = new TCounted{&destroyed};
  ObjectFreeAndNil(p);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(destroyed, 1);
  ObjectFreeAndNil(p);  // a null reference is fine
  EXPECT_EQ(destroyed, 1);
}

}  // namespace
