// The framework's tagged value.
//
// A Variant holds one value of a fixed kind: empty (the initial state), null, Boolean,
// signed/unsigned 8/16/32/64-bit integers, single/double floating, currency, date-time,
// text, or a one-dimensional zero-based array of integer elements (in practice bytes).
// It is a regular value type: copies are independent, == compares kind and content.
//
// Construction:
//   Variant v;                      empty
//   Variant::Null()                 null
//   Variant(true)                   Boolean
//   Variant(5)                      signed 32-bit: a plain int is never packed narrower
//   Variant(std::uint8_t(5))        unsigned 8-bit; any integer type keeps its own width
//   Variant(1.5) / Variant(1.5f)    double / single
//   Variant(u"text"), Variant(Text) text
//   Variant::FromCurrency(12.34)    currency (fixed point, 4 decimals)
//   Variant::FromDateTime(45000.5)  date-time (days since 1899-12-30, fraction = time)
//   Variant::FromBytes({1, 2})      array of unsigned 8-bit elements
//   Variant::ArrayCreate(TVarKind::UInt64, n)
//
// Conversions (ToText, ToInt64, ToUInt64, ToBool, ToDouble) follow the value system's
// rules: empty converts to the empty text / 0 / false; null, arrays and texts that are no
// number raise EVariantError.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <type_traits>
#include <vector>

#include "platform/win32api_types.h"
#include "rtl/Exception.h"

// The value system's conversion error: a value that does not convert to the requested kind
// (null to text, a non-numeric text to a number, an index outside an array ...).
class EVariantError : public Exception {
 public:
  using Exception::Exception;
};

// Days since 1899-12-30; the fraction is the time of day (for dates before that day the
// fraction counts forward from the start of the day, as the runtime library does).
using TDateTime = double;

enum class TVarKind : std::uint8_t {
  Empty,
  Null,
  Boolean,
  Int8,
  Int16,
  Int32,
  Int64,
  UInt8,
  UInt16,
  UInt32,
  UInt64,
  Single,
  Double,
  Currency,
  DateTime,
  Text,
  Array,
};

// The kind's name for messages: "Empty", "Null", "Int32", "Text" ...
const char16_t* VarKindName(TVarKind aKind);
// True for the eight integer kinds.
bool VarKindIsInteger(TVarKind aKind);

class Variant {
 public:
  Variant() noexcept : FKind(TVarKind::Empty) { FUInt = 0; }
  Variant(bool aValue) noexcept : FKind(TVarKind::Boolean) { FUInt = 0; FBool = aValue; }

  // Any integer type keeps its width and signedness (int: Int32, std::uint64_t: UInt64).
  // Character types are not integers here.
  template <class I>
    requires(std::is_integral_v<I> && !std::is_same_v<I, bool> && !std::is_same_v<I, char> &&
             !std::is_same_v<I, char8_t> && !std::is_same_v<I, char16_t> &&
             !std::is_same_v<I, char32_t> && !std::is_same_v<I, wchar_t>)
  Variant(I aValue) noexcept {
    if constexpr (std::is_signed_v<I>) {
      FKind = sizeof(I) == 1 ? TVarKind::Int8
              : sizeof(I) == 2 ? TVarKind::Int16
              : sizeof(I) == 4 ? TVarKind::Int32
                               : TVarKind::Int64;
      FInt = static_cast<std::int64_t>(aValue);
    } else {
      FKind = sizeof(I) == 1 ? TVarKind::UInt8
              : sizeof(I) == 2 ? TVarKind::UInt16
              : sizeof(I) == 4 ? TVarKind::UInt32
                               : TVarKind::UInt64;
      FUInt = static_cast<std::uint64_t>(aValue);
    }
  }
  Variant(float aValue) noexcept : FKind(TVarKind::Single) { FUInt = 0; FSingle = aValue; }
  Variant(double aValue) noexcept : FKind(TVarKind::Double) { FDouble = aValue; }
  Variant(const Text& aValue);
  Variant(Text&& aValue) noexcept;
  Variant(TextView aValue);
  Variant(const char16_t* aValue);
  // Narrow texts and other pointers would silently become Booleans: refused.
  Variant(const char*) = delete;
  template <class P>
  Variant(P*) = delete;

  static Variant Null() noexcept;
  static Variant FromCurrency(double aValue);
  // aScaled is the amount times 10000.
  static Variant FromCurrencyScaled(std::int64_t aScaled) noexcept;
  static Variant FromDateTime(TDateTime aValue) noexcept;
  static Variant FromBytes(const std::vector<std::uint8_t>& aBytes);
  static Variant FromBytes(const std::uint8_t* aBytes, std::size_t aCount);
  // An array of aCount elements of the integer kind aElementKind, all 0.
  static Variant ArrayCreate(TVarKind aElementKind, std::size_t aCount);

  Variant(const Variant& aOther);
  Variant(Variant&& aOther) noexcept;
  Variant& operator=(const Variant& aOther);
  Variant& operator=(Variant&& aOther) noexcept;
  ~Variant();

  TVarKind Kind() const noexcept { return FKind; }
  bool IsEmpty() const noexcept { return FKind == TVarKind::Empty; }
  bool IsNull() const noexcept { return FKind == TVarKind::Null; }
  bool IsBoolean() const noexcept { return FKind == TVarKind::Boolean; }
  bool IsInteger() const noexcept { return VarKindIsInteger(FKind); }
  bool IsFloat() const noexcept {
    return FKind == TVarKind::Single || FKind == TVarKind::Double || FKind == TVarKind::Currency ||
           FKind == TVarKind::DateTime;
  }
  // Integer, floating, currency or date-time.
  bool IsNumeric() const noexcept { return IsInteger() || IsFloat(); }
  bool IsText() const noexcept { return FKind == TVarKind::Text; }
  bool IsArray() const noexcept { return FKind == TVarKind::Array; }

  // The standard text form. Empty: ""; Boolean: "True"/"False"; integers: decimal;
  // floating and currency: shortest decimal with '.', exponent as "1E20"; date-time:
  // "yyyy-mm-dd" and, when the time is not midnight, " hh:nn:ss"; text: itself.
  // Null and arrays raise EVariantError.
  Text ToText() const;
  // Integers as they are (UInt64 above the Int64 range raises); floating values rounded to
  // the nearest integer, halves to even; Boolean true 1; text parsed as TextToInt64 does
  // (decimal, or hexadecimal after "$" or "0x"); empty 0. Null, arrays, non-numeric text and
  // values out of range raise EVariantError.
  std::int64_t ToInt64() const;
  // As ToInt64 for the unsigned range; negative values raise EVariantError.
  std::uint64_t ToUInt64() const;
  // Numbers: not zero; text: "True"/"False" (ASCII case ignored) or a number; empty: false.
  bool ToBool() const;
  // Numbers as double (currency as its amount, date-time as its day count); text parsed
  // as a decimal number; empty 0.
  double ToDouble() const;
  // The stored text of a text value; EVariantError for any other kind. No copy.
  const Text& TextRef() const;
  // Currency amount times 10000 (currency kind only, else EVariantError).
  std::int64_t CurrencyScaled() const;

  // Arrays. Element access outside 0..ArrayCount()-1 raises EVariantError, and so does any
  // of these on a value that is no array.
  TVarKind ArrayElementKind() const;
  std::size_t ArrayCount() const;
  // The element as a value of the element kind.
  Variant ArrayGet(std::size_t aIndex) const;
  // Converts aValue to the element kind; a value outside that kind's range raises.
  void ArraySet(std::size_t aIndex, const Variant& aValue);
  // The elements of an UInt8 or Int8 array as bytes (no copy); other kinds raise.
  const std::vector<std::uint8_t>& ArrayBytes() const;

  // Same kind and same content: texts case-sensitively, numbers by value, arrays element by
  // element. Two empty values are equal, two nulls are equal; values of different kinds
  // never are (Int32 5 differs from Int64 5).
  friend bool operator==(const Variant& a, const Variant& b) noexcept;

 private:
  struct TArrayData;

  void Release() noexcept;
  void CopyFrom(const Variant& aOther);
  void MoveFrom(Variant& aOther) noexcept;
  [[noreturn]] void RaiseConvert(const char16_t* aTarget) const;

  TVarKind FKind;
  // The text lives in the union too: a Variant is the size of a Text plus its kind.
  union {
    bool FBool;
    std::int64_t FInt;
    std::uint64_t FUInt;
    float FSingle;
    double FDouble;  // Double and DateTime
    TArrayData* FArray;
    Text FText;
  };
};

// Text to number as the value system reads it: decimal with an optional sign, or
// hexadecimal after "$", "0x" or "0X" (up to 16 digits, a 64-bit pattern). No spaces.
bool TextToInt64Try(TextView aText, std::int64_t& aValue);
bool TextToUInt64Try(TextView aText, std::uint64_t& aValue);
// A decimal number with '.' and an optional exponent, or any TextToInt64Try form.
bool TextToDoubleTry(TextView aText, double& aValue);

// Calendar conversions of TDateTime, independent of locale and time zone.
// Encode raises EConvertError for an invalid date or time (month 13, hour 24 ...).
TDateTime DateTimeEncode(int aYear, int aMonth, int aDay, int aHour = 0, int aMinute = 0,
                         int aSecond = 0, int aMilliSecond = 0);
struct TDateTimeParts {
  int Year, Month, Day, Hour, Minute, Second, MilliSecond;
};
// Raises EConvertError for a value outside 0001-01-01 .. 9999-12-31 or not a number.
TDateTimeParts DateTimeDecode(TDateTime aValue);
