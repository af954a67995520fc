// TFlexArray: the framework's all-purpose ordered list of (key, value) entries.
//
// Keys are texts compared ignoring ASCII case (an entry may have no key: the empty text);
// values are Variants. Order is insertion order and look-ups return the first match. An
// array whose first entry has no key is a list of values.
//
// TFlexArray is a value type: copies are independent. Copies share one storage until one
// of them writes (copy-on-write), so copying and passing by value are O(1); the first write
// after a copy detaches the writer.
//
// Storage size policy, applied whenever Count changes to n: below 32 the storage holds
// exactly n slots (Clear releases it); from 32 on it grows only when n exceeds its length,
// then to 2n slots, and never shrinks while n stays at 32 or more. StorageLength shows it.
//
// Look-ups never fail: a missing item is -1, false, the empty value or the empty text.
// By-index operations need an index in 0..Count-1; any other index is a stop (EDebugStop).
#pragma once

#include <array>
#include <initializer_list>
#include <memory>
#include <vector>

#include "platform/win32api_types.h"
#include "rtl/Variant.h"

// One slot of the storage: element 0 the key (empty or text), element 1 the value.
using TTwoVariants = std::array<Variant, 2>;
using TArrayOfTwoVariants = std::vector<TTwoVariants>;
using TArrayOfVariants = std::vector<Variant>;
using TArrayOfStrings = std::vector<Text>;

// Flags of KeysReplace.
enum TReplaceFlag : unsigned {
  rfReplaceAll = 1,  // every occurrence, not only the first
  rfIgnoreCase = 2,  // match ignoring ASCII case
};
using TReplaceFlags = unsigned;

class TFlexArray {
 public:
  // A declared array is empty and disallows duplicate keys without any initialisation.
  constexpr TFlexArray() noexcept = default;
  // Empty, then the list read as key, value pairs (as Add of a list of Variants).
  TFlexArray(const TArrayOfVariants& aKeysAndValues);
  // SetFromString of the compact text form.
  TFlexArray(const Text& aText);
  TFlexArray(const char16_t* aText);
  // A text value: SetFromString of it; empty or null: the empty array; any other value:
  // that value as the one entry without key. Explicit, so that a Variant handed to an
  // overload set never turns into an array unnoticed.
  explicit TFlexArray(const Variant& aValue);

  TFlexArray& operator=(const Text& aText);
  TFlexArray& operator=(const char16_t* aText);
  TFlexArray& operator=(const Variant& aValue);

  // The compact text form (ToString) and the flat key, value sequence (ToArrayOfVariants).
  operator Text() const { return ToString(); }
  operator TArrayOfVariants() const { return ToArrayOfVariants(); }

  // IsSameAs and its negation.
  bool operator==(const TFlexArray& aOther) const { return IsSameAs(aOther); }

  // When true, SetKeyAndValue with a text key always appends a new entry.
  bool AllowDuplicateKeys = false;

  // ---- Size and reset ----
  int Count() const noexcept { return FCount; }
  bool IsEmpty() const noexcept { return FCount == 0; }
  bool IsNotEmpty() const noexcept { return FCount > 0; }
  // Count 0, storage released; AllowDuplicateKeys is kept.
  void Clear();
  // Slots in the storage (at least Count); see the size policy above.
  int StorageLength() const noexcept { return Data ? static_cast<int>(Data->size()) : 0; }

  // ---- By index ----
  Text GetKeyByIndex(int aIndex) const;
  Variant GetValueByIndex(int aIndex) const;
  // FlexValueToText of the value.
  Text GetStringByIndex(int aIndex) const;
  // The key is stored as text, also when empty.
  void SetKeyByIndex(int aIndex, const Text& aKey);
  void SetValueByIndex(int aIndex, Variant aValue);
  // The value becomes FlexValueFromText(aValue).
  void SetStringByIndex(int aIndex, const Text& aValue);

  // ---- Look-up ----
  // First entry whose key equals aKey ignoring ASCII case; the empty text finds the first
  // entry without key.
  int IndexOfKey(TextView aKey) const;
  // First entry whose FlexValueToText equals that of aValue exactly.
  int IndexOfValue(const Variant& aValue) const;
  // First entry whose GetStringByIndex equals aValue ignoring ASCII case.
  int IndexOfStringIgnoreCase(TextView aValue) const;
  bool HasKey(TextView aKey) const { return IndexOfKey(aKey) >= 0; }
  bool HasValue(const Variant& aValue) const { return IndexOfValue(aValue) >= 0; }
  bool HasStringIgnoreCase(TextView aValue) const { return IndexOfStringIgnoreCase(aValue) >= 0; }
  // Not empty and entry 0 has no key.
  bool IsValuesOnly() const;
  // A list: HasValue; a keyed array: HasKey of the standard text form. So a bare word
  // from the command line is found whether it was stored as a key or as a value.
  bool Has(const Variant& aKeyOrValue) const;
  bool Missing(const Variant& aKeyOrValue) const { return !Has(aKeyOrValue); }
  bool HasAny(const TArrayOfStrings& aKeysOrValues) const;
  // The key exists and its value is not empty in the sense of VariantIsEmpty.
  bool HasValueFor(TextView aKey) const;
  // A numeric argument (integer, floating, currency or Boolean) is an index: -1 gives the
  // empty value. Otherwise the first entry under KeyAsVariantToKeyAsString(aKeyOrIndex).
  Variant GetValueByKey(const Variant& aKeyOrIndex) const;
  Text GetKeyByValue(const Variant& aValue) const;
  // An array value: its lower-case hexadecimal text; anything else its standard text form
  // (null raises EVariantError).
  static Text KeyAsVariantToKeyAsString(const Variant& aKey);

  // ---- Adding and replacing ----
  // The central write: a numeric aKeyOrIndex is an index (at or beyond Count appends a
  // keyless entry); a key replaces the value of its first entry (keeping its spelling) or
  // appends a new entry, always appending when AllowDuplicateKeys.
  void SetKeyAndValue(const Variant& aKeyOrIndex, Variant aValue);
  void AddValueWithNoKey(Variant aValue);
  void AddValueWithNoKeyIfNotYetExists(Variant aValue);
  // AddValueWithNoKey of the text.
  void Add(const Text& aValue);
  void Add(const char16_t* aValue) { Add(Text(aValue)); }
  // SetKeyAndValue of every entry of aFlexArray, its key as text: keyless entries replace
  // this array's first keyless entry.
  void Add(const TFlexArray& aFlexArray);
  // The list read as key, value, key, value ...; a final element without partner is ignored.
  // Numeric keys are indexes; text keys of a list of texts are always keys.
  void Add(const TArrayOfVariants& aKeysAndValues) { AddArrayOfKeysAndValues(aKeysAndValues); }
  void Add(std::initializer_list<Variant> aKeysAndValues);
  void Add(const TArrayOfStrings& aKeysAndValues) { AddArrayOfKeysAndValues(aKeysAndValues); }
  void AddArrayOfKeysAndValues(const TArrayOfVariants& aKeysAndValues);
  void AddArrayOfKeysAndValues(std::initializer_list<Variant> aKeysAndValues);
  void AddArrayOfKeysAndValues(const TArrayOfStrings& aKeysAndValues);
  // AddValueWithNoKey of each element in order (texts as text values).
  void AddValues(const TArrayOfVariants& aValues);
  void AddValues(std::initializer_list<Variant> aValues);
  void AddValues(const TArrayOfStrings& aStrings);
  // The entries of aFlexArray whose key this array does not yet Has.
  void AddNew(const TFlexArray& aFlexArray);
  // A copy after SetKeyAndValue(aKey, aValue); this array is unchanged.
  TFlexArray AddToCopy(const Text& aKey, Variant aValue) const;
  // Puts (aKey, aValue) at aIndex (above Count: at the end), moving later entries up. Never
  // looks for an existing key.
  void Insert(const Text& aKey, Variant aValue, int aIndex);

  // ---- Removing and moving ----
  // Nothing happens for an index outside 0..Count-1.
  void DeleteByIndex(int aIndex);
  // A numeric argument is an index; otherwise the first entry with that key goes.
  void Delete(const Variant& aKeyOrIndex);
  // GetValueByKey, then Delete.
  Variant Extract(const Text& aKey);
  // Deletes each (key, value) of the argument that this array holds with an equal value.
  void DeleteIdenticalKeyValuePairs(const TFlexArray& aKeysAndValuesToRemove);
  // Only when both keys exist: the entry moves before (or after) the target entry.
  void MoveBeforeOrAfter(const Text& aEntryToMove, const Text& aEntryBeforeWhichToPut, bool aIsAfter);
  void MoveBefore(const Text& aEntryToMove, const Text& aEntryBeforeWhichToPut) {
    MoveBeforeOrAfter(aEntryToMove, aEntryBeforeWhichToPut, false);
  }
  void MoveAfter(const Text& aEntryToMove, const Text& aEntryAfterWhichToPut) {
    MoveBeforeOrAfter(aEntryToMove, aEntryAfterWhichToPut, true);
  }

  // ---- Comparing, subsets, sequences ----
  // Same Count, and every entry's value (looked up by its key in both arrays) equal under
  // FlexValuesEqual, except the listed keys. Order does not matter for keyed arrays.
  bool IsSameAsExcept(const TFlexArray& aAnother, const TArrayOfVariants& aExceptKeys) const;
  bool IsSameAs(const TFlexArray& aAnother) const { return IsSameAsExcept(aAnother, {}); }
  bool IsSameAs(const TArrayOfVariants& aKeysAndValues) const;
  bool IsSameAs(std::initializer_list<Variant> aKeysAndValues) const {
    return IsSameAs(TArrayOfVariants(aKeysAndValues));
  }
  // aAnother has at least as many entries and holds an equal value under each key of this.
  bool IsSubsetOf(const TFlexArray& aAnother) const;
  // The listed keys with their values (a missing key gives an empty value).
  TFlexArray CopySubset(const TArrayOfStrings& aKeys) const;
  // 2 x Count elements: key i (as text) at 2i, value i at 2i+1.
  TArrayOfVariants ToArrayOfVariants() const;
  // 2 x Count texts: key i at 2i, GetStringByIndex(i) at 2i+1.
  TArrayOfStrings ToArrayOfStrings() const;
  // The list kept flat under aItemPrefix + "Count" and aItemPrefix + "0", "1" ..., as values
  // without key. A non-numeric count raises EVariantError.
  TFlexArray ExtractMultipleItems(const Text& aItemPrefix) const;

  // ---- Text forms ----
  // Compact form: one keyless entry is its value text as it stands (when that reads back as
  // itself); anything else UrlEncode(key) + "|" + UrlEncode(value text) + "|" per entry.
  Text ToString() const;
  bool IsSimpleString() const;
  // Clear, then AddFromString.
  void SetFromString(TextView sString);
  // Adds the entries of a compact form. A text that does not end in "|" is one plain value;
  // an entry with a malformed escape is skipped; a trailing incomplete entry is ignored.
  void AddFromString(TextView sString);
  // The display lines, each followed by CR LF.
  Text AsStringForDisplay() const;
  // Appends the display lines: 'key: "value"' (", " after all but the last), a value with
  // CR LF as 'key:' CR LF value, a nested array as 'key (n):' and its lines indented.
  void IntoStringsListForDisplay(TArrayOfStrings& aStrings) const;
  // The values' texts joined with aSeparator; keys are ignored.
  Text ToStringSeparated(TextView aSeparator) const;
  // Clear, then one text value per piece between separators (n separators, n + 1 values).
  // An empty separator occurs nowhere: the whole text is the one value.
  void SetValuesFromStringSeparated(TextView aString, TextView aSeparator);
  // The parameters after the first "?" of a URL; no "?" empties the array.
  void SetFromUrlGetParams(TextView aUrl);
  // Every value becomes its standard text form without leading and trailing blanks and
  // control characters (null raises EVariantError).
  void TrimValues();
  void KeysAddPrefix(const Text& aPrefix);
  void KeysReplace(const Text& aOldKeyPart, const Text& aNewKeyPart, TReplaceFlags aFlags);

  // ---- Two dimensions: an entry's value holds a nested array in compact form ----
  void D2Add(const Text& aKey, const TArrayOfVariants& aKeysAndValues);
  void D2AddValue(const TArrayOfVariants& aKeysAndValues);
  // The nested array under aKeyOrIndex; a missing key gives an empty array.
  TFlexArray D2(const Variant& aKeyOrIndex) const;
  void D2Set(const Text& aLevel1Key, const Text& aLevel2Key, Variant aValue);
  // The first entry whose nested array holds the pattern (IsSubsetOf); -1 when none.
  int D2Find(const TArrayOfVariants& aLevel2KeysAndValues) const;

 private:
  // Storage shared between copies until one of them writes.
  std::shared_ptr<TArrayOfTwoVariants> Data;
  int FCount = 0;

  // Makes the storage private to this array before a write.
  void DataUnshare();
  // Count becomes iCount under the size policy; the storage is private afterwards.
  void CountSet(int iCount);
  // Slot aIndex for writing (index checked, storage private).
  TTwoVariants& SlotForWrite(int aIndex);
  const TTwoVariants& Slot(int aIndex) const;
  // Unchecked: aIndex must be in 0..Count-1.
  TextView KeyRef(int aIndex) const;
  const Variant& ValueRef(int aIndex) const;
  static bool ValuesEqualAt(const TFlexArray& aMine, int a, const TFlexArray& aTheirs, int b);
  void IndexCheck(int aIndex) const;
  // Appends an empty slot and returns its index.
  int SlotAppend();
  void DisplayLinesAdd(TArrayOfStrings& aStrings, const Text& aIndent) const;
};

// A new array filled as Add (list of Variants).
TFlexArray FlexArrayFromPairs(const TArrayOfVariants& aKeysAndValues);
// SetFromString of the text.
TFlexArray FlexArrayFromText(TextView aText);

// The text of a value in the text forms: null "", an array "0x" + upper-case hexadecimal,
// Booleans "True"/"False", anything else its standard text form.
Text FlexValueToText(const Variant& aValue);
// The inverse: "" the empty value, exactly "True"/"False" Booleans, "0x..." a byte array
// (the empty value when not hexadecimal), anything else the text itself.
Variant FlexValueFromText(TextView aText);
// Same non-array kind: plain comparison; else a null differs from everything but null;
// else equal standard text forms (so 5 equals "5" and empty equals ""). Arrays compare by
// their FlexValueToText forms.
bool FlexValuesEqual(const Variant& a, const Variant& b);
