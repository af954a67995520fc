#include "params/uFlexArray.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

#include "diag/uMisc.h"
#include "params/uMiscLean.h"

namespace {

// Below this many entries the storage is kept exactly as long as the array.
constexpr int kExactStorageBelow = 32;
// The storage grows to twice the count, which must stay an int.
constexpr int kCountMax = std::numeric_limits<int>::max() / 2;

// Numeric kinds (and Booleans) make a key argument an index. Date-time is not one of them:
// a date-time key is its text.
bool VariantIsIndex(const Variant& aValue) {
  switch (aValue.Kind()) {
    case TVarKind::Boolean:
    case TVarKind::Single:
    case TVarKind::Double:
    case TVarKind::Currency:
      return true;
    default:
      return aValue.IsInteger();
  }
}

// The index a numeric key stands for, saturated to the int range so that any huge index
// means "beyond the end" and any very negative one "below -1"; NaN is no index.
std::int64_t VariantToIndex(const Variant& aValue) {
  constexpr std::int64_t kBig = std::int64_t(1) << 40;
  switch (aValue.Kind()) {
    case TVarKind::Boolean:
      return aValue.ToBool() ? 1 : 0;
    case TVarKind::Single:
    case TVarKind::Double: {
      double d = aValue.ToDouble();
      if (std::isnan(d)) Stop(u"TFlexArray: NaN is no index");
      if (d > double(kBig)) return kBig;
      if (d < -double(kBig)) return -kBig;
      return aValue.ToInt64();
    }
    case TVarKind::UInt64:
      return aValue.ToUInt64() > std::uint64_t(kBig) ? kBig : aValue.ToInt64();
    default:
      return aValue.ToInt64();
  }
}

// The FlexValueToText of aValue equals aText, without building the text of a text value.
bool FlexValueTextIs(const Variant& aValue, TextView aText) {
  if (aValue.IsText()) return aValue.TextRef() == aText;
  if (aValue.IsEmpty() || aValue.IsNull()) return aText.empty();
  return FlexValueToText(aValue) == aText;
}

bool CharIsBlank(char16_t c) { return c <= 32; }

Text TextTrimBlanks(TextView aText) {
  std::size_t b = 0, e = aText.size();
  while (b < e && CharIsBlank(aText[b])) ++b;
  while (e > b && CharIsBlank(aText[e - 1])) --e;
  return Text(aText.substr(b, e - b));
}

Text TextReplace(const Text& aText, const Text& aOld, const Text& aNew, TReplaceFlags aFlags) {
  if (aOld.empty()) return aText;
  bool bIgnoreCase = (aFlags & rfIgnoreCase) != 0;
  Text r;
  std::size_t p = 0;
  for (;;) {
    std::size_t q = bIgnoreCase ? TextFindIgnoreCase(aText, aOld, p) : aText.find(aOld, p);
    if (q == Text::npos) break;
    r.append(aText, p, q - p);
    r += aNew;
    p = q + aOld.size();
    if (!(aFlags & rfReplaceAll)) break;
  }
  r.append(aText, p, Text::npos);
  return r;
}

}  // namespace

// ---- Free functions ---------------------------------------------------------------------

Text FlexValueToText(const Variant& aValue) {
  if (aValue.IsNull()) return Text();
  if (aValue.IsArray()) return u"0x" + TextUpperAscii(BytesToHexText(aValue));
  if (aValue.IsBoolean()) return aValue.ToBool() ? u"True" : u"False";
  return aValue.ToText();
}

Variant FlexValueFromText(TextView aText) {
  if (aText.empty()) return Variant();
  if (aText == u"True") return Variant(true);
  if (aText == u"False") return Variant(false);
  if (aText.substr(0, 2) == u"0x") return HexTextToBytes(aText);
  return Variant(aText);
}

bool FlexValuesEqual(const Variant& a, const Variant& b) {
  if (!a.IsArray() && !b.IsArray() && a.Kind() == b.Kind()) return a == b;
  if (a.IsNull() || b.IsNull()) return false;
  // Arrays have no standard text form; their text-form spelling keeps two equal byte arrays
  // equal instead of raising.
  if (a.IsArray() || b.IsArray()) return FlexValueToText(a) == FlexValueToText(b);
  return a.ToText() == b.ToText();
}

TFlexArray FlexArrayFromPairs(const TArrayOfVariants& aKeysAndValues) {
  TFlexArray r;
  r.AddArrayOfKeysAndValues(aKeysAndValues);
  return r;
}

TFlexArray FlexArrayFromText(TextView aText) {
  TFlexArray r;
  r.AddFromString(aText);
  return r;
}

// ---- Construction and conversion --------------------------------------------------------

TFlexArray::TFlexArray(const TArrayOfVariants& aKeysAndValues) { AddArrayOfKeysAndValues(aKeysAndValues); }

TFlexArray::TFlexArray(const Text& aText) { AddFromString(aText); }

TFlexArray::TFlexArray(const char16_t* aText) { AddFromString(aText ? TextView(aText) : TextView()); }

TFlexArray::TFlexArray(const Variant& aValue) {
  if (aValue.IsText())
    AddFromString(aValue.TextRef());
  else if (!aValue.IsEmpty() && !aValue.IsNull())
    AddValueWithNoKey(aValue);
}

// Assignment from a text or a value makes a new array, as the conversion does: the old
// AllowDuplicateKeys goes with the old contents.
TFlexArray& TFlexArray::operator=(const Text& aText) { return *this = TFlexArray(aText); }
TFlexArray& TFlexArray::operator=(const char16_t* aText) { return *this = TFlexArray(aText); }
TFlexArray& TFlexArray::operator=(const Variant& aValue) { return *this = TFlexArray(aValue); }

// ---- Storage ----------------------------------------------------------------------------

void TFlexArray::DataUnshare() {
  if (Data && Data.use_count() > 1) Data = std::make_shared<TArrayOfTwoVariants>(*Data);
}

void TFlexArray::CountSet(int iCount) {
  if (iCount > kCountMax) Stop(u"TFlexArray: too many entries");
  std::size_t len = Data ? Data->size() : 0;
  std::size_t newLen = len;
  if (iCount < kExactStorageBelow)
    newLen = static_cast<std::size_t>(iCount);
  else if (static_cast<std::size_t>(iCount) > len)
    newLen = 2 * static_cast<std::size_t>(iCount);

  if (newLen == 0) {
    Data.reset();
  } else if (!Data) {
    Data = std::make_shared<TArrayOfTwoVariants>(newLen);
  } else if (Data.use_count() > 1) {
    // A shared storage is copied only as far as the new length needs.
    auto lCopy = std::make_shared<TArrayOfTwoVariants>();
    lCopy->reserve(newLen);
    lCopy->assign(Data->begin(), Data->begin() + static_cast<std::ptrdiff_t>(std::min(len, newLen)));
    lCopy->resize(newLen);
    Data = std::move(lCopy);
  } else if (newLen != len) {
    bool bShrinkFromLarge = newLen < len && len >= static_cast<std::size_t>(kExactStorageBelow);
    Data->resize(newLen);
    if (bShrinkFromLarge) Data->shrink_to_fit();
  }
  FCount = iCount;
}

void TFlexArray::IndexCheck(int aIndex) const {
  if (aIndex < 0 || aIndex >= FCount)
    Stop(u"TFlexArray: index " + IntToText(aIndex) + u" outside 0.." + IntToText(FCount - 1));
}

const TTwoVariants& TFlexArray::Slot(int aIndex) const {
  IndexCheck(aIndex);
  return (*Data)[static_cast<std::size_t>(aIndex)];
}

TTwoVariants& TFlexArray::SlotForWrite(int aIndex) {
  IndexCheck(aIndex);
  DataUnshare();
  return (*Data)[static_cast<std::size_t>(aIndex)];
}

TextView TFlexArray::KeyRef(int aIndex) const {
  const Variant& k = (*Data)[static_cast<std::size_t>(aIndex)][0];
  return k.IsText() ? TextView(k.TextRef()) : TextView();
}

const Variant& TFlexArray::ValueRef(int aIndex) const { return (*Data)[static_cast<std::size_t>(aIndex)][1]; }

// The values of entry a of aMine and entry b of aTheirs (-1: no entry, the empty value)
// under FlexValuesEqual.
bool TFlexArray::ValuesEqualAt(const TFlexArray& aMine, int a, const TFlexArray& aTheirs, int b) {
  if (b < 0) return FlexValuesEqual(aMine.ValueRef(a), Variant());
  return FlexValuesEqual(aMine.ValueRef(a), aTheirs.ValueRef(b));
}

int TFlexArray::SlotAppend() {
  int i = FCount;
  CountSet(FCount + 1);
  return i;
}

void TFlexArray::Clear() { CountSet(0); }

// ---- By index ---------------------------------------------------------------------------

Text TFlexArray::GetKeyByIndex(int aIndex) const {
  IndexCheck(aIndex);
  return Text(KeyRef(aIndex));
}

Variant TFlexArray::GetValueByIndex(int aIndex) const { return Slot(aIndex)[1]; }

Text TFlexArray::GetStringByIndex(int aIndex) const { return FlexValueToText(Slot(aIndex)[1]); }

void TFlexArray::SetKeyByIndex(int aIndex, const Text& aKey) { SlotForWrite(aIndex)[0] = Variant(aKey); }

void TFlexArray::SetValueByIndex(int aIndex, Variant aValue) { SlotForWrite(aIndex)[1] = std::move(aValue); }

void TFlexArray::SetStringByIndex(int aIndex, const Text& aValue) {
  SlotForWrite(aIndex)[1] = FlexValueFromText(aValue);
}

// ---- Look-up ----------------------------------------------------------------------------

int TFlexArray::IndexOfKey(TextView aKey) const {
  for (int i = 0; i < FCount; ++i)
    if (TextSameIgnoreCase(KeyRef(i), aKey)) return i;
  return -1;
}

int TFlexArray::IndexOfValue(const Variant& aValue) const {
  if (FCount == 0) return -1;
  Text t = FlexValueToText(aValue);
  for (int i = 0; i < FCount; ++i)
    if (FlexValueTextIs((*Data)[static_cast<std::size_t>(i)][1], t)) return i;
  return -1;
}

int TFlexArray::IndexOfStringIgnoreCase(TextView aValue) const {
  for (int i = 0; i < FCount; ++i) {
    const Variant& v = (*Data)[static_cast<std::size_t>(i)][1];
    if (v.IsText() ? TextSameIgnoreCase(v.TextRef(), aValue) : TextSameIgnoreCase(FlexValueToText(v), aValue))
      return i;
  }
  return -1;
}

bool TFlexArray::IsValuesOnly() const { return FCount > 0 && KeyRef(0).empty(); }

bool TFlexArray::Has(const Variant& aKeyOrValue) const {
  if (IsValuesOnly()) return HasValue(aKeyOrValue);
  if (FCount == 0) return false;
  return HasKey(aKeyOrValue.ToText());
}

bool TFlexArray::HasAny(const TArrayOfStrings& aKeysOrValues) const {
  for (const Text& t : aKeysOrValues)
    if (Has(Variant(t))) return true;
  return false;
}

bool TFlexArray::HasValueFor(TextView aKey) const {
  int i = IndexOfKey(aKey);
  return i >= 0 && !VariantIsEmpty((*Data)[static_cast<std::size_t>(i)][1]);
}

Variant TFlexArray::GetValueByKey(const Variant& aKeyOrIndex) const {
  if (VariantIsIndex(aKeyOrIndex)) {
    std::int64_t i = VariantToIndex(aKeyOrIndex);
    if (i == -1) return Variant();
    if (i < 0 || i >= FCount) IndexCheck(static_cast<int>(std::clamp<std::int64_t>(i, -2, kCountMax + 1)));
    return (*Data)[static_cast<std::size_t>(i)][1];
  }
  int i = IndexOfKey(KeyAsVariantToKeyAsString(aKeyOrIndex));
  return i >= 0 ? (*Data)[static_cast<std::size_t>(i)][1] : Variant();
}

Text TFlexArray::GetKeyByValue(const Variant& aValue) const {
  int i = IndexOfValue(aValue);
  return i >= 0 ? Text(KeyRef(i)) : Text();
}

Text TFlexArray::KeyAsVariantToKeyAsString(const Variant& aKey) {
  if (aKey.IsArray()) return BytesToHexText(aKey);
  return aKey.ToText();
}

// ---- Adding and replacing ---------------------------------------------------------------

void TFlexArray::SetKeyAndValue(const Variant& aKeyOrIndex, Variant aValue) {
  std::int64_t i;
  Text lKey;
  if (VariantIsIndex(aKeyOrIndex)) {
    i = VariantToIndex(aKeyOrIndex);
    if (i < -1) Stop(u"TFlexArray: index " + IntToText(i) + u" below -1");
  } else {
    lKey = KeyAsVariantToKeyAsString(aKeyOrIndex);
    i = AllowDuplicateKeys ? -1 : IndexOfKey(lKey);
  }
  if (i == -1 || i >= FCount) {
    // Beyond the end appends: an index never makes gaps.
    i = SlotAppend();
    if (!lKey.empty()) (*Data)[static_cast<std::size_t>(i)][0] = Variant(std::move(lKey));
  } else {
    DataUnshare();
  }
  (*Data)[static_cast<std::size_t>(i)][1] = std::move(aValue);
}

void TFlexArray::AddValueWithNoKey(Variant aValue) {
  int i = SlotAppend();
  (*Data)[static_cast<std::size_t>(i)][1] = std::move(aValue);
}

void TFlexArray::AddValueWithNoKeyIfNotYetExists(Variant aValue) {
  if (IndexOfValue(aValue) < 0) AddValueWithNoKey(std::move(aValue));
}

void TFlexArray::Add(const Text& aValue) { AddValueWithNoKey(Variant(aValue)); }

void TFlexArray::Add(const TFlexArray& aFlexArray) {
  // A copy (O(1)), so that adding an array to itself reads the entries as they were.
  TFlexArray lSource = aFlexArray;
  for (int i = 0; i < lSource.FCount; ++i) SetKeyAndValue(Variant(lSource.KeyRef(i)), lSource.Slot(i)[1]);
}

void TFlexArray::Add(std::initializer_list<Variant> aKeysAndValues) { AddArrayOfKeysAndValues(aKeysAndValues); }

void TFlexArray::AddArrayOfKeysAndValues(const TArrayOfVariants& aKeysAndValues) {
  for (std::size_t i = 0; i + 1 < aKeysAndValues.size(); i += 2) SetKeyAndValue(aKeysAndValues[i], aKeysAndValues[i + 1]);
}

void TFlexArray::AddArrayOfKeysAndValues(std::initializer_list<Variant> aKeysAndValues) {
  const Variant* p = aKeysAndValues.begin();
  for (std::size_t i = 0; i + 1 < aKeysAndValues.size(); i += 2) SetKeyAndValue(p[i], p[i + 1]);
}

void TFlexArray::AddArrayOfKeysAndValues(const TArrayOfStrings& aKeysAndValues) {
  for (std::size_t i = 0; i + 1 < aKeysAndValues.size(); i += 2)
    SetKeyAndValue(Variant(aKeysAndValues[i]), Variant(aKeysAndValues[i + 1]));
}

void TFlexArray::AddValues(const TArrayOfVariants& aValues) {
  for (const Variant& v : aValues) AddValueWithNoKey(v);
}

void TFlexArray::AddValues(std::initializer_list<Variant> aValues) {
  for (const Variant& v : aValues) AddValueWithNoKey(v);
}

void TFlexArray::AddValues(const TArrayOfStrings& aStrings) {
  for (const Text& t : aStrings) AddValueWithNoKey(Variant(t));
}

void TFlexArray::AddNew(const TFlexArray& aFlexArray) {
  TFlexArray lSource = aFlexArray;
  for (int i = 0; i < lSource.FCount; ++i) {
    Variant lKey(lSource.KeyRef(i));
    if (!Has(lKey)) SetKeyAndValue(lKey, lSource.Slot(i)[1]);
  }
}

TFlexArray TFlexArray::AddToCopy(const Text& aKey, Variant aValue) const {
  TFlexArray r = *this;
  r.SetKeyAndValue(Variant(aKey), std::move(aValue));
  return r;
}

void TFlexArray::Insert(const Text& aKey, Variant aValue, int aIndex) {
  if (aIndex < 0) Stop(u"TFlexArray: insert at index " + IntToText(aIndex));
  if (aIndex > FCount) aIndex = FCount;
  SlotAppend();
  auto b = Data->begin();
  std::move_backward(b + aIndex, b + (FCount - 1), b + FCount);
  TTwoVariants& s = (*Data)[static_cast<std::size_t>(aIndex)];
  s[0] = Variant(aKey);
  s[1] = std::move(aValue);
}

// ---- Removing and moving ----------------------------------------------------------------

void TFlexArray::DeleteByIndex(int aIndex) {
  if (aIndex < 0 || aIndex >= FCount) return;
  DataUnshare();
  auto b = Data->begin();
  std::move(b + aIndex + 1, b + FCount, b + aIndex);
  // Slots past Count stay empty, so that values are released and appends start clean.
  (*Data)[static_cast<std::size_t>(FCount - 1)] = TTwoVariants();
  CountSet(FCount - 1);
}

void TFlexArray::Delete(const Variant& aKeyOrIndex) {
  if (VariantIsIndex(aKeyOrIndex)) {
    std::int64_t i = VariantToIndex(aKeyOrIndex);
    if (i >= 0 && i < FCount) DeleteByIndex(static_cast<int>(i));
    return;
  }
  DeleteByIndex(IndexOfKey(aKeyOrIndex.ToText()));
}

Variant TFlexArray::Extract(const Text& aKey) {
  Variant lKey(aKey);
  Variant r = GetValueByKey(lKey);
  Delete(lKey);
  return r;
}

void TFlexArray::DeleteIdenticalKeyValuePairs(const TFlexArray& aKeysAndValuesToRemove) {
  TFlexArray lRemove = aKeysAndValuesToRemove;
  for (int i = 0; i < lRemove.FCount; ++i) {
    Variant lKey(lRemove.KeyRef(i));
    if (Has(lKey) && GetValueByKey(lKey) == lRemove.Slot(i)[1]) Delete(lKey);
  }
}

void TFlexArray::MoveBeforeOrAfter(const Text& aEntryToMove, const Text& aEntryBeforeWhichToPut, bool aIsAfter) {
  int iMove = IndexOfKey(aEntryToMove);
  int iTarget = IndexOfKey(aEntryBeforeWhichToPut);
  // Moving an entry next to itself changes nothing (and the target would be gone once the
  // entry is taken out).
  if (iMove < 0 || iTarget < 0 || iMove == iTarget) return;
  Text lKey(KeyRef(iMove));
  Variant lValue = Slot(iMove)[1];
  DeleteByIndex(iMove);
  iTarget = IndexOfKey(aEntryBeforeWhichToPut);
  if (aIsAfter) ++iTarget;
  Insert(lKey, std::move(lValue), iTarget);
}

// ---- Comparing, subsets, sequences ------------------------------------------------------

bool TFlexArray::IsSameAsExcept(const TFlexArray& aAnother, const TArrayOfVariants& aExceptKeys) const {
  if (FCount != aAnother.FCount) return false;
  TArrayOfStrings lExcept;
  lExcept.reserve(aExceptKeys.size());
  for (const Variant& k : aExceptKeys) lExcept.push_back(FlexValueToText(k));
  for (int i = 0; i < FCount; ++i) {
    TextView lKey = KeyRef(i);
    if (std::find(lExcept.begin(), lExcept.end(), lKey) != lExcept.end()) continue;
    // Both sides by key: entries without key are all looked up under the empty key.
    int iMine = IndexOfKey(lKey);
    int iTheirs = aAnother.IndexOfKey(lKey);
    if (!ValuesEqualAt(*this, iMine, aAnother, iTheirs)) return false;
  }
  return true;
}

bool TFlexArray::IsSameAs(const TArrayOfVariants& aKeysAndValues) const {
  return IsSameAs(FlexArrayFromPairs(aKeysAndValues));
}

bool TFlexArray::IsSubsetOf(const TFlexArray& aAnother) const {
  if (aAnother.FCount < FCount) return false;
  for (int i = 0; i < FCount; ++i) {
    TextView lKey = KeyRef(i);
    int iMine = IndexOfKey(lKey);
    int iTheirs = aAnother.IndexOfKey(lKey);
    if (!ValuesEqualAt(*this, iMine, aAnother, iTheirs)) return false;
  }
  return true;
}

TFlexArray TFlexArray::CopySubset(const TArrayOfStrings& aKeys) const {
  TFlexArray r;
  for (const Text& k : aKeys) {
    Variant lKey(k);
    r.SetKeyAndValue(lKey, GetValueByKey(lKey));
  }
  return r;
}

TArrayOfVariants TFlexArray::ToArrayOfVariants() const {
  TArrayOfVariants r;
  r.reserve(2 * static_cast<std::size_t>(FCount));
  for (int i = 0; i < FCount; ++i) {
    r.emplace_back(KeyRef(i));
    r.push_back((*Data)[static_cast<std::size_t>(i)][1]);
  }
  return r;
}

TArrayOfStrings TFlexArray::ToArrayOfStrings() const {
  TArrayOfStrings r;
  r.reserve(2 * static_cast<std::size_t>(FCount));
  for (int i = 0; i < FCount; ++i) {
    r.emplace_back(KeyRef(i));
    r.push_back(FlexValueToText((*Data)[static_cast<std::size_t>(i)][1]));
  }
  return r;
}

TFlexArray TFlexArray::ExtractMultipleItems(const Text& aItemPrefix) const {
  Variant lCount = GetValueByKey(Variant(aItemPrefix + u"Count"));
  std::int64_t n = VariantIsEmpty(lCount) ? 0 : lCount.ToInt64();
  if (n > kCountMax) Stop(u"TFlexArray: " + aItemPrefix + u"Count " + IntToText(n) + u" is more than an array can hold");
  TFlexArray r;
  for (std::int64_t j = 0; j < n; ++j) r.AddValueWithNoKey(GetValueByKey(Variant(aItemPrefix + IntToText(j))));
  return r;
}

// ---- Text forms -------------------------------------------------------------------------

bool TFlexArray::IsSimpleString() const { return FCount == 1 && KeyRef(0).empty(); }

Text TFlexArray::ToString() const {
  if (IsSimpleString()) {
    // The bare value only where it reads back as itself: an empty text would read back as
    // no entry, and one ending in "|" as a compact form.
    Text s = GetStringByIndex(0);
    if (!s.empty() && s.back() != u'|') return s;
  }
  Text r;
  for (int i = 0; i < FCount; ++i) {
    r += UrlEncode(KeyRef(i));
    r += u'|';
    const Variant& v = (*Data)[static_cast<std::size_t>(i)][1];
    r += v.IsText() ? UrlEncode(v.TextRef()) : UrlEncode(FlexValueToText(v));
    r += u'|';
  }
  return r;
}

void TFlexArray::SetFromString(TextView sString) {
  Clear();
  AddFromString(sString);
}

void TFlexArray::AddFromString(TextView sString) {
  if (sString.empty()) return;
  if (sString.back() != u'|') {
    AddValueWithNoKey(Variant(sString));
    return;
  }
  std::size_t p = 0;
  for (;;) {
    std::size_t k = sString.find(u'|', p);
    if (k == TextView::npos) break;
    std::size_t v = sString.find(u'|', k + 1);
    if (v == TextView::npos) break;  // a key without its closing pair: ignored
    TextView lKeyBuffer = sString.substr(p, k - p);
    TextView lValueBuffer = sString.substr(k + 1, v - k - 1);
    p = v + 1;

    Text lValue, lKey;
    try {
      lValue = UrlDecode(lValueBuffer);
      if (!lKeyBuffer.empty()) lKey = UrlDecode(lKeyBuffer);
    } catch (const EConvertError&) {
      continue;  // a malformed escape drops this entry only
    }
    if (!lKey.empty())
      SetKeyAndValue(Variant(std::move(lKey)), FlexValueFromText(lValue));
    else
      AddValueWithNoKey(Variant(std::move(lValue)));
  }
}

void TFlexArray::DisplayLinesAdd(TArrayOfStrings& aStrings, const Text& aIndent) const {
  for (int i = 0; i < FCount; ++i) {
    TextView lKey = KeyRef(i);
    Text lValue = GetStringByIndex(i);
    if (!lValue.empty() && lValue.back() == u'|') {
      TFlexArray lNested(lValue);
 aStrings.push_back(aIndent + Text(lKey) + u" (" + IntToText(lNested.Count()) + u"):");
      lNested.DisplayLinesAdd(aStrings, aIndent + u"  ");
      continue;
    }
    Text lLine = aIndent;
    lLine += lKey;
    if (lValue.find(u"\r\n") != Text::npos)
      lLine += u":\r\n" + lValue;
    else
      lLine += u": \"" + lValue + u"\"";
    if (i != FCount - 1) lLine += u", ";
    aStrings.push_back(std::move(lLine));
  }
}

void TFlexArray::IntoStringsListForDisplay(TArrayOfStrings& aStrings) const { DisplayLinesAdd(aStrings, Text()); }

Text TFlexArray::AsStringForDisplay() const {
  TArrayOfStrings lLines;
  IntoStringsListForDisplay(lLines);
  Text r;
  for (const Text& l : lLines) {
    r += l;
    r += u"\r\n";
  }
  return r;
}

Text TFlexArray::ToStringSeparated(TextView aSeparator) const {
  Text r;
  for (int i = 0; i < FCount; ++i) {
    if (i > 0) r += aSeparator;
    const Variant& v = (*Data)[static_cast<std::size_t>(i)][1];
    r += v.IsText() ? v.TextRef() : FlexValueToText(v);
  }
  return r;
}

void TFlexArray::SetValuesFromStringSeparated(TextView aString, TextView aSeparator) {
  Clear();
  std::size_t p = 0;
  if (!aSeparator.empty()) {
    for (std::size_t q; (q = aString.find(aSeparator, p)) != TextView::npos; p = q + aSeparator.size())
      AddValueWithNoKey(Variant(aString.substr(p, q - p)));
  }
  AddValueWithNoKey(Variant(aString.substr(p)));
}

void TFlexArray::SetFromUrlGetParams(TextView aUrl) {
  std::size_t q = aUrl.find(u'?');
  if (q == TextView::npos) {
    Clear();
    return;
  }
  Text s(aUrl.substr(q + 1));
  std::replace(s.begin(), s.end(), u'=', u'|');
  std::replace(s.begin(), s.end(), u'&', u'|');
  s += u'|';
  SetFromString(s);
}

void TFlexArray::TrimValues() {
  for (int i = 0; i < FCount; ++i) {
    Variant& v = SlotForWrite(i)[1];
    v = Variant(TextTrimBlanks(v.IsText() ? TextView(v.TextRef()) : TextView(v.ToText())));
  }
}

void TFlexArray::KeysAddPrefix(const Text& aPrefix) {
  for (int i = 0; i < FCount; ++i) {
    Text lKey = aPrefix;
    lKey += KeyRef(i);
    SlotForWrite(i)[0] = Variant(std::move(lKey));
  }
}

void TFlexArray::KeysReplace(const Text& aOldKeyPart, const Text& aNewKeyPart, TReplaceFlags aFlags) {
  for (int i = 0; i < FCount; ++i) {
    Text lKey = TextReplace(Text(KeyRef(i)), aOldKeyPart, aNewKeyPart, aFlags);
    if (lKey != KeyRef(i)) SlotForWrite(i)[0] = Variant(std::move(lKey));
  }
}

// ---- Two dimensions ---------------------------------------------------------------------

void TFlexArray::D2Add(const Text& aKey, const TArrayOfVariants& aKeysAndValues) {
  SetKeyAndValue(Variant(aKey), Variant(FlexArrayFromPairs(aKeysAndValues).ToString()));
}

void TFlexArray::D2AddValue(const TArrayOfVariants& aKeysAndValues) {
  AddValueWithNoKey(Variant(FlexArrayFromPairs(aKeysAndValues).ToString()));
}

TFlexArray TFlexArray::D2(const Variant& aKeyOrIndex) const {
  Variant v = GetValueByKey(aKeyOrIndex);
  return v.IsText() ? FlexArrayFromText(v.TextRef()) : FlexArrayFromText(v.ToText());
}

void TFlexArray::D2Set(const Text& aLevel1Key, const Text& aLevel2Key, Variant aValue) {
  Variant lKey1(aLevel1Key);
  TFlexArray lNested = D2(lKey1);
  lNested.SetKeyAndValue(Variant(aLevel2Key), std::move(aValue));
  SetKeyAndValue(lKey1, Variant(lNested.ToString()));
}

int TFlexArray::D2Find(const TArrayOfVariants& aLevel2KeysAndValues) const {
  TFlexArray lPattern = FlexArrayFromPairs(aLevel2KeysAndValues);
  for (int i = 0; i < FCount; ++i)
    if (lPattern.IsSubsetOf(D2(Variant(i)))) return i;
  return -1;
}
