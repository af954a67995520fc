#include "params/uFlexArray.h"

#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "ParamsTestSupport.h"
#include "TestSupport.h"
#include "params/uMiscLean.h"

using paramstest::Describe;
using paramstest::StopMessage;

namespace {

TFlexArray Numbered(int n) {
  TFlexArray a;
  for (int i = 0; i < n; ++i) a.SetKeyAndValue(Variant(u"k" + IntToText(i)), Variant(i));
  return a;
}

// A declared array needs no initialisation, also at namespace scope.
TFlexArray DeclaredAtNamespaceScope;

TEST(TFlexArray, NewArrayIsEmpty) {
  TFlexArray lLocal;
  for (const TFlexArray* x : {&DeclaredAtNamespaceScope, &lLocal}) {
    EXPECT_EQ(x->Count(), 0);
    EXPECT_TRUE(x->IsEmpty());
    EXPECT_FALSE(x->IsNotEmpty());
    EXPECT_FALSE(x->IsValuesOnly());
    EXPECT_FALSE(x->AllowDuplicateKeys);
    EXPECT_EQ(x->StorageLength(), 0);
    EXPECT_FALSE(x->Has(Variant(u"x")));
    EXPECT_FALSE(x->Has(Variant()));
    EXPECT_FALSE(x->Has(Variant::Null()));
    EXPECT_EQ(x->IndexOfKey(u""), -1);
    EXPECT_TRUE(x->GetValueByKey(Variant(u"x")).IsEmpty());
    EXPECT_EQ(x->ToString(), u"");
  }
}

// ---- Copies -------------------------------------------------------------------------------

struct Write {
  const char* name;
  std::function<void(TFlexArray&)> apply;
};

const std::vector<Write>& Writes() {
  static const std::vector<Write> w = {
      {"SetKeyAndValue replace", [](TFlexArray& a) { a.SetKeyAndValue(Variant(u"K1"), Variant(u"new")); }},
      {"SetKeyAndValue append", [](TFlexArray& a) { a.SetKeyAndValue(Variant(u"fresh"), Variant(1)); }},
      {"SetKeyAndValue by index", [](TFlexArray& a) { a.SetKeyAndValue(Variant(0), Variant(u"new")); }},
      {"SetKeyByIndex", [](TFlexArray& a) { a.SetKeyByIndex(1, u"renamed"); }},
      {"SetValueByIndex", [](TFlexArray& a) { a.SetValueByIndex(1, Variant(u"new")); }},
      {"SetStringByIndex", [](TFlexArray& a) { a.SetStringByIndex(1, u"True"); }},
      {"AddValueWithNoKey", [](TFlexArray& a) { a.AddValueWithNoKey(Variant(u"v")); }},
      {"Insert", [](TFlexArray& a) { a.Insert(u"ins", Variant(1), 1); }},
      {"DeleteByIndex first", [](TFlexArray& a) { a.DeleteByIndex(0); }},
      {"DeleteByIndex last", [](TFlexArray& a) { a.DeleteByIndex(a.Count() - 1); }},
      {"Delete by key", [](TFlexArray& a) { a.Delete(Variant(u"k2")); }},
      {"Extract", [](TFlexArray& a) { a.Extract(u"k1"); }},
      {"Clear", [](TFlexArray& a) { a.Clear(); }},
      {"MoveAfter", [](TFlexArray& a) { a.MoveAfter(u"k0", u"k2"); }},
      {"KeysAddPrefix", [](TFlexArray& a) { a.KeysAddPrefix(u"p"); }},
      {"KeysReplace", [](TFlexArray& a) { a.KeysReplace(u"k", u"key", rfReplaceAll); }},
      {"TrimValues", [](TFlexArray& a) { a.TrimValues(); }},
      {"SetFromString", [](TFlexArray& a) { a.SetFromString(u"x|1|"); }},
      {"AddFromString", [](TFlexArray& a) { a.AddFromString(u"x|1|"); }},
      {"Add array", [](TFlexArray& a) { a.Add(FlexArrayFromPairs({u"k1", u"other", u"z", 1})); }},
      {"AddNew", [](TFlexArray& a) { a.AddNew(FlexArrayFromPairs({u"z", 1})); }},
      {"DeleteIdenticalKeyValuePairs", [](TFlexArray& a) { a.DeleteIdenticalKeyValuePairs(FlexArrayFromPairs({u"k1", 1})); }},
      {"D2Set", [](TFlexArray& a) { a.D2Set(u"k1", u"State", Variant(u"Done")); }},
      {"SetValuesFromStringSeparated", [](TFlexArray& a) { a.SetValuesFromStringSeparated(u"a,b", u","); }},
      {"SetFromUrlGetParams", [](TFlexArray& a) { a.SetFromUrlGetParams(u"x?a=1"); }},
      {"assign text", [](TFlexArray& a) { a = u"x|1|"; }},
  };
  return w;
}

// Values with blanks around them, so that TrimValues changes something too.
TFlexArray CopySource(int n) {
  TFlexArray a;
  for (int i = 0; i < n; ++i) a.SetKeyAndValue(Variant(u"k" + IntToText(i)), i == 1 ? Variant(1) : Variant(u" v" + IntToText(i) + u" "));
  return a;
}

TEST(TFlexArray, CopiesAreIndependentUnderEveryWrite) {
  // 3 entries: storage exactly as long as the array; 40: room beyond Count, so a write may
  // not reallocate and must still leave the other copy alone.
  for (int n : {3, 40}) {
    for (const Write& w : Writes()) {
      for (bool bWriteOriginal : {true, false}) {
        TFlexArray a = CopySource(n);
        TFlexArray b = a;
        TFlexArray& lWritten = bWriteOriginal ? a : b;
        const TFlexArray& lKept = bWriteOriginal ? b : a;
        std::string lBefore = Describe(lKept);
        int iStorageBefore = lKept.StorageLength();
        w.apply(lWritten);
        SCOPED_TRACE(std::string(w.name) + " n=" + std::to_string(n) + (bWriteOriginal ? " on original" : " on copy"));
        EXPECT_NE(Describe(lWritten), lBefore) << "the write changed nothing, so the case proves nothing";
        EXPECT_EQ(Describe(lKept), lBefore);
        EXPECT_EQ(lKept.StorageLength(), iStorageBefore);
      }
    }
  }
}

TEST(TFlexArray, CopyOfCopyAndSelfAdd) {
  TFlexArray a = FlexArrayFromPairs({u"a", 1});
  TFlexArray b = a;
  TFlexArray c = b;
  c.SetKeyAndValue(Variant(u"b"), Variant(2));
  b.SetKeyAndValue(Variant(u"a"), Variant(9));
  EXPECT_EQ(Describe(a), "a=Int32:1");
  EXPECT_EQ(Describe(b), "a=Int32:9");
  EXPECT_EQ(Describe(c), "a=Int32:1 b=Int32:2");

  // Adding a list to itself reads the entries as they were before the first write.
  TFlexArray lList;
  lList.AddValues({Variant(u"x"), Variant(u"y")});
  lList.Add(lList);
  EXPECT_EQ(Describe(lList), "=Text:y =Text:y");
}

// ---- Keys -------------------------------------------------------------------------------

TEST(TFlexArray, KeysFoldOnlyAsciiCase) {
  struct Case {
    const char16_t* stored;
    const char16_t* looked;
    bool same;
  } cases[] = {
      {u"Key", u"KEY", true},     {u"Hidden", u"hidden", true}, {u"a-b_1", u"A-B_1", true},
      {u"É", u"é", false},        {u"straße", u"STRASSE", false}, {u"Ключ", u"КЛЮЧ", false},
      {u"key", u"key ", false},   {u"", u"", true},
  };
  for (const Case& c : cases) {
    TFlexArray a;
    a.Insert(c.stored, Variant(1), 0);
    SCOPED_TRACE(TextToUtf8(c.stored) + " / " + TextToUtf8(c.looked));
    EXPECT_EQ(a.IndexOfKey(c.looked), c.same ? 0 : -1);
    a.SetKeyAndValue(Variant(c.looked), Variant(2));
    EXPECT_EQ(a.Count(), c.same ? 1 : 2);
    EXPECT_EQ(a.GetKeyByIndex(0), c.stored);  // a replaced entry keeps its spelling
  }
}

TEST(TFlexArray, SetKeyAndValueReplacesOrAppends) {
  TFlexArray a;
  a.SetKeyAndValue(Variant(u"Key"), Variant(1));
  a.SetKeyAndValue(Variant(u"KEY"), Variant(2));
  EXPECT_EQ(Describe(a), "Key=Int32:2");

  TFlexArray d;
  d.AllowDuplicateKeys = true;
  d.SetKeyAndValue(Variant(u"Key"), Variant(1));
  d.SetKeyAndValue(Variant(u"KEY"), Variant(2));
  EXPECT_EQ(Describe(d), "Key=Int32:1 KEY=Int32:2");
  EXPECT_EQ(d.GetValueByKey(Variant(u"key")), Variant(1));  // look-ups find the first
  d.Clear();
  EXPECT_TRUE(d.AllowDuplicateKeys);  // Clear keeps the switch
}

TEST(TFlexArray, NumericKeysAreIndexes) {
  struct Case {
    const char* name;
    Variant key;
    const char* expected;
  } cases[] = {
      {"index 1 replaces, keeps the key", Variant(1), "a=Int32:1 b=Text:x"},
      {"index 0 as Int64", Variant(std::int64_t(0)), "a=Text:x b=Int32:2"},
      {"index beyond the end appends keyless", Variant(5), "a=Int32:1 b=Int32:2 =Text:x"},
      {"index Count appends keyless", Variant(2), "a=Int32:1 b=Int32:2 =Text:x"},
      {"-1 appends keyless", Variant(-1), "a=Int32:1 b=Int32:2 =Text:x"},
      {"double 1.0", Variant(1.0), "a=Int32:1 b=Text:x"},
      {"huge UInt64 appends", Variant(std::uint64_t(-1)), "a=Int32:1 b=Int32:2 =Text:x"},
      {"huge double appends", Variant(1e300), "a=Int32:1 b=Int32:2 =Text:x"},
      {"Boolean true is index 1", Variant(true), "a=Int32:1 b=Text:x"},
      {"text '1' is a key", Variant(u"1"), "a=Int32:1 b=Int32:2 1=Text:x"},
      {"date-time is a key", Variant::FromDateTime(45000), "a=Int32:1 b=Int32:2 2023-03-15=Text:x"},
      {"array key is its lower hex", Variant::FromBytes({0xAB, 0x01}), "a=Int32:1 b=Int32:2 ab01=Text:x"},
  };
  for (const Case& c : cases) {
    TFlexArray a = FlexArrayFromPairs({u"a", 1, u"b", 2});
    a.SetKeyAndValue(c.key, Variant(u"x"));
    EXPECT_EQ(Describe(a), c.expected) << c.name;
  }
  TFlexArray a = FlexArrayFromPairs({u"a", 1});
  EXPECT_EQ(StopMessage([&] { a.SetKeyAndValue(Variant(-2), Variant(1)); }), "Error: TFlexArray: index -2 below -1");
  EXPECT_THROW(a.SetKeyAndValue(Variant(std::numeric_limits<double>::quiet_NaN()), Variant(1)), EDebugStop);
  EXPECT_THROW(a.SetKeyAndValue(Variant::Null(), Variant(1)), EVariantError);
  EXPECT_EQ(Describe(a), "a=Int32:1");
}

TEST(TFlexArray, EmptyKeyReplacesTheFirstKeylessEntry) {
  TFlexArray a = FlexArrayFromPairs({u"k", 1});
  a.SetKeyAndValue(Variant(u""), Variant(u"x"));
  a.SetKeyAndValue(Variant(), Variant(u"y"));  // the empty value is the empty key too
  EXPECT_EQ(Describe(a), "k=Int32:1 =Text:y");

  // So adding one list to another leaves a single keyless entry with the last value.
  TFlexArray lList, lOther;
  lList.AddValues({Variant(u"a"), Variant(u"b")});
  lOther.AddValues({Variant(u"c"), Variant(u"d")});
  lList.Add(lOther);
  EXPECT_EQ(Describe(lList), "=Text:d =Text:b");
}

// ---- Look-ups ---------------------------------------------------------------------------

TEST(TFlexArray, HasOnKeyedArraysAndLists) {
  TFlexArray lKeyed;
  lKeyed.SetKeyAndValue(Variant(u"Hidden"), Variant());
  lKeyed.SetKeyAndValue(Variant(u"5"), Variant(u"b"));
  TFlexArray lList;
  lList.AddValues({Variant(u"a"), Variant(u"b"), Variant(5), Variant(true)});

  struct Case {
    const TFlexArray* array;
    Variant probe;
    bool has;
  } cases[] = {
      {&lKeyed, Variant(u"hidden"), true},  // keys ignore ASCII case
      {&lKeyed, Variant(u"HIDDEN"), true},  {&lKeyed, Variant(u"b"), false},  // values are not looked at
      {&lKeyed, Variant(5), true},          // the standard text form of 5 is the key "5"
      {&lKeyed, Variant(u"x"), false},
      {&lList, Variant(u"b"), true},        {&lList, Variant(u"B"), false},  // values compare exactly
      {&lList, Variant(u"5"), true},        // 5 and "5" have one text
      {&lList, Variant(u"True"), true},     {&lList, Variant(u"true"), false},
      {&lList, Variant(u""), false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.array->Has(c.probe), c.has) << TextToUtf8(FlexValueToText(c.probe)) << " in " << Describe(*c.array);
    EXPECT_EQ(c.array->Missing(c.probe), !c.has);
  }
  EXPECT_TRUE(lList.IsValuesOnly());
  EXPECT_FALSE(lKeyed.IsValuesOnly());
  EXPECT_TRUE(lList.HasStringIgnoreCase(u"B"));
  EXPECT_EQ(lList.IndexOfStringIgnoreCase(u"TRUE"), 3);
  EXPECT_TRUE(lKeyed.HasAny({u"none", u"HIDDEN"}));
  EXPECT_FALSE(lKeyed.HasAny({}));
  EXPECT_FALSE(lKeyed.HasAny({u"none"}));
}

TEST(TFlexArray, HasValueForNeedsANonEmptyValue) {
  struct Case {
    Variant value;
    bool has;
  } cases[] = {
      {Variant(), false}, {Variant::Null(), false}, {Variant(u""), false}, {Variant(u" "), true},
      {Variant(0), true}, {Variant(false), true},   {Variant::FromBytes({}), true},
  };
  for (const Case& c : cases) {
    TFlexArray a;
    a.SetKeyAndValue(Variant(u"Hidden"), c.value);
    EXPECT_TRUE(a.Has(Variant(u"hidden")));
    EXPECT_EQ(a.HasValueFor(u"HIDDEN"), c.has) << TextToUtf8(VarKindName(c.value.Kind()));
  }
  EXPECT_FALSE(TFlexArray().HasValueFor(u"x"));
}

TEST(TFlexArray, ValueLookups) {
  TFlexArray a = FlexArrayFromPairs({u"a", 1, u"b", Variant::Null(), u"c", Variant::FromBytes({0x0A}), u"d", u"x"});
  EXPECT_EQ(a.IndexOfValue(Variant(u"1")), 0);
  EXPECT_EQ(a.IndexOfValue(Variant()), 1);  // null's text is the empty text
  EXPECT_EQ(a.IndexOfValue(Variant(u"0x0A")), 2);
  EXPECT_EQ(a.IndexOfValue(Variant(u"X")), -1);
  EXPECT_EQ(a.GetKeyByValue(Variant(u"x")), u"d");
  EXPECT_EQ(a.GetKeyByValue(Variant(u"nothing")), u"");
  EXPECT_EQ(a.GetValueByKey(Variant(u"D")), Variant(u"x"));
  EXPECT_EQ(a.GetValueByKey(Variant(3)), Variant(u"x"));
  EXPECT_TRUE(a.GetValueByKey(Variant(-1)).IsEmpty());
  EXPECT_TRUE(a.GetValueByKey(Variant(u"missing")).IsEmpty());
  EXPECT_THROW(a.GetValueByKey(Variant(4)), EDebugStop);
  EXPECT_THROW(a.GetValueByKey(Variant(-2)), EDebugStop);
  EXPECT_THROW(a.GetKeyByIndex(4), EDebugStop);
  EXPECT_THROW(a.SetValueByIndex(-1, Variant(1)), EDebugStop);
  EXPECT_EQ(TFlexArray::KeyAsVariantToKeyAsString(Variant::FromBytes({0xDE, 0xAD})), u"dead");
  EXPECT_EQ(TFlexArray::KeyAsVariantToKeyAsString(Variant(true)), u"True");
}

// ---- Adding, inserting, removing ---------------------------------------------------------

TEST(TFlexArray, AddVariants) {
  struct Case {
    const char* name;
    std::function<void(TFlexArray&)> apply;
    const char* expected;
  } cases[] = {
      {"pairs, the last odd element ignored", [](TFlexArray& a) { a.Add({u"x", 1, u"y"}); }, "a=Text:1 x=Int32:1"},
      {"numeric keys in pairs are indexes", [](TFlexArray& a) { a.Add({0, u"z"}); }, "a=Text:z"},
      {"texts are always keys", [](TFlexArray& a) { a.Add(TArrayOfStrings{u"0", u"z"}); }, "a=Text:1 0=Text:z"},
      {"AddValues of texts", [](TFlexArray& a) { a.AddValues(TArrayOfStrings{u"p", u"q"}); }, "a=Text:1 =Text:p =Text:q"},
      {"Add text", [](TFlexArray& a) { a.Add(u"t"); }, "a=Text:1 =Text:t"},
      {"AddNew keeps existing keys", [](TFlexArray& a) { a.AddNew(FlexArrayFromPairs({u"A", 2, u"n", 3})); }, "a=Text:1 n=Int32:3"},
      {"IfNotYetExists (by text)", [](TFlexArray& a) { a.AddValueWithNoKeyIfNotYetExists(Variant(1)); }, "a=Text:1"},
      {"IfNotYetExists new", [](TFlexArray& a) { a.AddValueWithNoKeyIfNotYetExists(Variant(2)); }, "a=Text:1 =Int32:2"},
      {"Insert at 0 shifts", [](TFlexArray& a) { a.Insert(u"i", Variant(0), 0); }, "i=Int32:0 a=Text:1"},
      {"Insert beyond appends", [](TFlexArray& a) { a.Insert(u"i", Variant(0), 99); }, "a=Text:1 i=Int32:0"},
      {"Insert never merges keys", [](TFlexArray& a) { a.Insert(u"A", Variant(0), 1); }, "a=Text:1 A=Int32:0"},
  };
  for (const Case& c : cases) {
    TFlexArray a;
    a.SetKeyAndValue(Variant(u"a"), Variant(u"1"));
    c.apply(a);
    EXPECT_EQ(Describe(a), c.expected) << c.name;
  }
  TFlexArray a;
  EXPECT_THROW(a.Insert(u"k", Variant(1), -1), EDebugStop);
}

TEST(TFlexArray, InsertInTheMiddleOfThree) {
  TFlexArray a = FlexArrayFromPairs({u"a", 1, u"b", 2, u"c", 3});
  a.Insert(u"k", Variant(u"v"), 1);
  EXPECT_EQ(Describe(a), "a=Int32:1 k=Text:v b=Int32:2 c=Int32:3");
  a.Insert(u"e", Variant(u"w"), 4);
  EXPECT_EQ(Describe(a), "a=Int32:1 k=Text:v b=Int32:2 c=Int32:3 e=Text:w");
}

TEST(TFlexArray, Deleting) {
  struct Case {
    const char* name;
    std::function<void(TFlexArray&)> apply;
    const char* expected;
  } cases[] = {
      {"DeleteByIndex -1", [](TFlexArray& a) { a.DeleteByIndex(-1); }, "a=Int32:1 b=Int32:2 A=Int32:3"},
      {"DeleteByIndex Count", [](TFlexArray& a) { a.DeleteByIndex(3); }, "a=Int32:1 b=Int32:2 A=Int32:3"},
      {"DeleteByIndex 1", [](TFlexArray& a) { a.DeleteByIndex(1); }, "a=Int32:1 A=Int32:3"},
      {"Delete key: only the first", [](TFlexArray& a) { a.Delete(Variant(u"A")); }, "b=Int32:2 A=Int32:3"},
      {"Delete index", [](TFlexArray& a) { a.Delete(Variant(2)); }, "a=Int32:1 b=Int32:2"},
      {"Delete index out of range", [](TFlexArray& a) { a.Delete(Variant(7)); }, "a=Int32:1 b=Int32:2 A=Int32:3"},
      {"Delete missing key", [](TFlexArray& a) { a.Delete(Variant(u"zz")); }, "a=Int32:1 b=Int32:2 A=Int32:3"},
      {"identical pairs: kind matters", [](TFlexArray& a) { a.DeleteIdenticalKeyValuePairs(FlexArrayFromPairs({u"a", u"1", u"b", 2})); }, "a=Int32:1 A=Int32:3"},
  };
  for (const Case& c : cases) {
    TFlexArray a;
    a.AllowDuplicateKeys = true;
    a.Add({u"a", 1, u"b", 2, u"A", 3});
    c.apply(a);
    EXPECT_EQ(Describe(a), c.expected) << c.name;
  }
  TFlexArray a = FlexArrayFromPairs({u"a", 1, u"b", 2});
  EXPECT_EQ(a.Extract(u"B"), Variant(2));
  EXPECT_TRUE(a.Extract(u"B").IsEmpty());
  EXPECT_EQ(Describe(a), "a=Int32:1");
}

TEST(TFlexArray, MoveBeforeAndAfter) {
  struct Case {
    const char16_t* move;
    const char16_t* target;
    bool after;
    const char* expected;
  } cases[] = {
      {u"a", u"c", true, "a b c -> b c a"},   {u"c", u"a", false, "a b c -> c a b"},
      {u"a", u"b", false, "a b c -> a b c"},  {u"C", u"B", false, "a b c -> a c b"},
      {u"x", u"a", true, "a b c -> a b c"},   {u"a", u"x", true, "a b c -> a b c"},
      {u"b", u"b", true, "a b c -> a b c"},   {u"b", u"b", false, "a b c -> a b c"},
  };
  for (const Case& c : cases) {
    TFlexArray a = FlexArrayFromPairs({u"a", 1, u"b", 2, u"c", 3});
    a.MoveBeforeOrAfter(c.move, c.target, c.after);
    std::string lKeys;
    for (int i = 0; i < a.Count(); ++i) lKeys += (i ? " " : "") + TextToUtf8(a.GetKeyByIndex(i));
    EXPECT_EQ("a b c -> " + lKeys, c.expected) << TextToUtf8(c.move) << (c.after ? " after " : " before ") << TextToUtf8(c.target);
    EXPECT_EQ(a.GetValueByKey(Variant(u"a")), Variant(1));
  }
}

// ---- Comparing ---------------------------------------------------------------------------

TEST(TFlexArray, IsSameAsAndIsSubsetOf) {
  auto list = [](std::initializer_list<Variant> v) {
    TFlexArray a;
    a.AddValues(v);
    return a;
  };
  struct Case {
    const char* name;
    TFlexArray a, b;
    bool same, subset;
  } cases[] = {
      {"order ignored", FlexArrayFromPairs({u"a", 1, u"b", 2}), FlexArrayFromPairs({u"b", 2, u"a", 1}), true, true},
      {"1 equals '1'", FlexArrayFromPairs({u"a", 1}), FlexArrayFromPairs({u"A", u"1"}), true, true},
      {"empty equals ''", FlexArrayFromPairs({u"a", Variant()}), FlexArrayFromPairs({u"a", u""}), true, true},
      {"null differs from ''", FlexArrayFromPairs({u"a", Variant::Null()}), FlexArrayFromPairs({u"a", u""}), false, false},
      {"null equals null", FlexArrayFromPairs({u"a", Variant::Null()}), FlexArrayFromPairs({u"a", Variant::Null()}), true, true},
      {"text case matters", FlexArrayFromPairs({u"a", u"x"}), FlexArrayFromPairs({u"a", u"X"}), false, false},
      {"Int32 5 equals Int64 5", FlexArrayFromPairs({u"a", 5}), FlexArrayFromPairs({u"a", std::int64_t(5)}), true, true},
      {"counts differ", FlexArrayFromPairs({u"a", 1}), FlexArrayFromPairs({u"a", 1, u"b", 2}), false, true},
      {"bigger is no subset", FlexArrayFromPairs({u"a", 1, u"b", 2}), FlexArrayFromPairs({u"a", 1}), false, false},
      {"lists look up under the empty key", list({u"a", u"b"}), list({u"a", u"c"}), true, true},
      {"list subset", list({u"a", u"x"}), list({u"a", u"y", u"z"}), false, true},
      {"equal byte arrays", FlexArrayFromPairs({u"a", Variant::FromBytes({1, 2})}), FlexArrayFromPairs({u"a", Variant::FromBytes({1, 2})}), true, true},
      {"byte array and its text", FlexArrayFromPairs({u"a", Variant::FromBytes({0xAB})}), FlexArrayFromPairs({u"a", u"0xAB"}), true, true},
      {"different byte arrays", FlexArrayFromPairs({u"a", Variant::FromBytes({1})}), FlexArrayFromPairs({u"a", Variant::FromBytes({2})}), false, false},
      {"both empty", TFlexArray(), TFlexArray(), true, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.a.IsSameAs(c.b), c.same) << c.name;
    EXPECT_EQ(c.a == c.b, c.same) << c.name;
    EXPECT_EQ(c.a != c.b, !c.same) << c.name;
    EXPECT_EQ(c.a.IsSubsetOf(c.b), c.subset) << c.name;
  }
  TFlexArray a = FlexArrayFromPairs({u"a", 1, u"t", u"x"});
  EXPECT_TRUE(a.IsSameAsExcept(FlexArrayFromPairs({u"a", 1, u"t", u"y"}), {Variant(u"t")}));
  EXPECT_FALSE(a.IsSameAsExcept(FlexArrayFromPairs({u"a", 1, u"t", u"y"}), {Variant(u"T")}));  // exceptions compare exactly
  EXPECT_TRUE(a.IsSameAs({u"t", u"x", u"a", u"1"}));
}

TEST(TFlexArray, FlexValuesEqual) {
  struct Case {
    Variant a, b;
    bool equal;
  } cases[] = {
      {Variant(5), Variant(u"5"), true},           {Variant(), Variant(u""), true},
      {Variant(), Variant(), true},                {Variant::Null(), Variant::Null(), true},
      {Variant::Null(), Variant(), false},         {Variant::Null(), Variant(u""), false},
      {Variant(true), Variant(u"True"), true},     {Variant(true), Variant(u"true"), false},
      {Variant(1.5), Variant(u"1.5"), true},       {Variant(u"a"), Variant(u"A"), false},
      {Variant(std::uint8_t(7)), Variant(7), true}, {Variant::FromBytes({}), Variant(u"0x"), true},
      {Variant::FromBytes({1}), Variant::Null(), false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FlexValuesEqual(c.a, c.b), c.equal) << TextToUtf8(FlexValueToText(c.a)) << " / " << TextToUtf8(FlexValueToText(c.b));
    EXPECT_EQ(FlexValuesEqual(c.b, c.a), c.equal);
  }
}

TEST(TFlexArray, ValueTexts) {
  struct Case {
    const char16_t* text;
    const char* parsed;  // kind:FlexValueToText
  } cases[] = {
      {u"0x0A1b", "Array:0x0A1B"}, {u"0xZZ", "Empty:"},  {u"0x", "Array:0x"},     {u"0x1", "Array:0x"},
      {u"0X0A", "Text:0X0A"},      {u"True", "Boolean:True"}, {u"False", "Boolean:False"},
      {u"true", "Text:true"},      {u"", "Empty:"},      {u"5", "Text:5"},          {u" True", "Text: True"},
  };
  for (const Case& c : cases) {
    Variant v = FlexValueFromText(c.text);
    EXPECT_EQ(TextToUtf8(VarKindName(v.Kind())) + ":" + TextToUtf8(FlexValueToText(v)), c.parsed) << TextToUtf8(c.text);
  }
  EXPECT_EQ(FlexValueToText(Variant::Null()), u"");
  EXPECT_EQ(FlexValueToText(Variant(false)), u"False");
  EXPECT_EQ(FlexValueToText(Variant(-12)), u"-12");

  TFlexArray a;
  a.AddValueWithNoKey(Variant(1));
  a.SetStringByIndex(0, u"0xff");
  EXPECT_EQ(Describe(a), "=Array:0xFF");
}

// ---- Sequences and subsets ---------------------------------------------------------------

TEST(TFlexArray, SequencesAndSubsets) {
  TFlexArray a = FlexArrayFromPairs({u"a", 1, u"b", true});
  a.AddValueWithNoKey(Variant::FromBytes({0x0F}));
  TArrayOfVariants v = a;
  ASSERT_EQ(v.size(), 6u);
  EXPECT_EQ(v[0], Variant(u"a"));
  EXPECT_EQ(v[3], Variant(true));
  EXPECT_EQ(v[4], Variant(u""));
  EXPECT_EQ(a.ToArrayOfStrings(), (TArrayOfStrings{u"a", u"1", u"b", u"True", u"", u"0x0F"}));
  TFlexArray b = v;
  EXPECT_EQ(Describe(b), "a=Int32:1 b=Boolean:True =Array:0x0F");

  EXPECT_EQ(Describe(a.CopySubset({u"B", u"missing"})), "B=Boolean:True missing=Empty:");
  TFlexArray c = a.AddToCopy(u"a", Variant(2));
  EXPECT_EQ(a.GetValueByKey(Variant(u"a")), Variant(1));
  EXPECT_EQ(c.GetValueByKey(Variant(u"a")), Variant(2));
}

TEST(TFlexArray, ExtractMultipleItems) {
  TFlexArray a = FlexArrayFromPairs({u"FileCount", 2, u"File0", u"a", u"File1", u"b", u"Other", 1});
  EXPECT_EQ(Describe(a.ExtractMultipleItems(u"File")), "=Text:a =Text:b");
  EXPECT_EQ(a.Count(), 4);
  EXPECT_EQ(Describe(a.ExtractMultipleItems(u"None")), "");
  EXPECT_EQ(Describe(FlexArrayFromPairs({u"FileCount", u"3", u"File1", u"x"}).ExtractMultipleItems(u"File")), "=Empty: =Text:x =Empty:");
  EXPECT_EQ(Describe(FlexArrayFromPairs({u"FileCount", u""}).ExtractMultipleItems(u"File")), "");
  EXPECT_THROW(FlexArrayFromPairs({u"FileCount", u"two"}).ExtractMultipleItems(u"File"), EVariantError);
  EXPECT_THROW(FlexArrayFromPairs({u"FileCount", u"9999999999"}).ExtractMultipleItems(u"File"), EDebugStop);
}

// ---- Storage ------------------------------------------------------------------------------

TEST(TFlexArray, StorageSizePolicy) {
  struct Step {
    int count;
    int storage;
  } steps[] = {{1, 1}, {31, 31}, {32, 64}, {40, 64}, {64, 64}, {65, 130}, {40, 130}, {35, 130}, {32, 130}, {31, 31}, {5, 5}, {0, 0}};
  TFlexArray a;
  for (const Step& s : steps) {
    while (a.Count() < s.count) a.AddValueWithNoKey(Variant(a.Count()));
    while (a.Count() > s.count) a.DeleteByIndex(a.Count() - 1);
    EXPECT_EQ(a.StorageLength(), s.storage) << "at " << s.count;
  }
  // The same through the other writes that change Count.
  TFlexArray b = Numbered(40);
  EXPECT_EQ(b.StorageLength(), 64);
  b.Delete(Variant(u"k0"));
  b.Extract(u"k1");
  EXPECT_EQ(b.StorageLength(), 64);
  b.Clear();
  EXPECT_EQ(b.StorageLength(), 0);
  TFlexArray c = Numbered(31);
  c.Insert(u"x", Variant(1), 0);
  EXPECT_EQ(c.StorageLength(), 64);
  // A copy keeps its length; the writer's storage follows its own count.
  TFlexArray d = Numbered(40);
  TFlexArray e = d;
  for (int i = 0; i < 9; ++i) e.DeleteByIndex(0);
  EXPECT_EQ(e.StorageLength(), 31);
  EXPECT_EQ(d.StorageLength(), 64);
  EXPECT_EQ(d.Count(), 40);
}

TEST(TFlexArray, SlotsFreedAboveCountComeBackEmpty) {
  // From 32 on the storage keeps its slots: a freed slot must not bring back its old key
  // or value when it is used again.
  TFlexArray a = Numbered(40);
  a.DeleteByIndex(39);
  a.AddValueWithNoKey(Variant(u"new"));
  EXPECT_EQ(a.GetKeyByIndex(39), u"");
  a.DeleteByIndex(39);
  a.SetKeyAndValue(Variant(100), Variant(u"by index"));
  EXPECT_EQ(a.GetKeyByIndex(39), u"");
  EXPECT_EQ(a.IndexOfKey(u"k39"), -1);
  a.DeleteByIndex(0);
  a.Insert(u"i", Variant(), 39);
  EXPECT_TRUE(a.GetValueByIndex(39).IsEmpty());
  EXPECT_EQ(a.IndexOfKey(u"k1"), 0);
}

}  // namespace
