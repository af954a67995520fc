#include "rtl/Variant.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <string>

struct Variant::TArrayData {
  TVarKind ElementKind = TVarKind::UInt8;
  std::size_t Count = 0;
  std::vector<std::uint8_t> Data;  // Count elements of the element kind, native layout
};

namespace {

constexpr std::int64_t kCurrencyScale = 10000;

std::size_t ElementSize(TVarKind aKind) {
  switch (aKind) {
    case TVarKind::Int8:
    case TVarKind::UInt8:
      return 1;
    case TVarKind::Int16:
    case TVarKind::UInt16:
      return 2;
    case TVarKind::Int32:
    case TVarKind::UInt32:
      return 4;
    default:
      return 8;
  }
}

bool KindIsSigned(TVarKind aKind) {
  return aKind == TVarKind::Int8 || aKind == TVarKind::Int16 || aKind == TVarKind::Int32 ||
         aKind == TVarKind::Int64;
}

Text AsciiToText(const char* aBegin, const char* aEnd) {
  Text r;
  r.reserve(static_cast<std::size_t>(aEnd - aBegin));
  for (const char* p = aBegin; p != aEnd; ++p) r.push_back(static_cast<char16_t>(*p));
  return r;
}

// Texts that are numbers are ASCII; anything else fails the parse.
bool TextToAscii(TextView aText, std::string& aOut) {
  aOut.clear();
  aOut.reserve(aText.size());
  for (char16_t c : aText) {
    if (c == 0 || c >= 128) return false;
    aOut.push_back(static_cast<char>(c));
  }
  return true;
}

Text FloatText(double aValue, bool bSingle) {
  if (std::isnan(aValue)) return u"NAN";
  if (std::isinf(aValue)) return aValue < 0 ? u"-INF" : u"INF";
  char buf[64];
  std::to_chars_result r = bSingle ? std::to_chars(buf, buf + sizeof buf, static_cast<float>(aValue))
                                   : std::to_chars(buf, buf + sizeof buf, aValue);
  // "1e+20" -> "1E20", "1e-05" -> "1E-5".
  std::string s(buf, r.ptr);
  std::size_t e = s.find('e');
  if (e != std::string::npos) {
    std::string mant = s.substr(0, e);
    std::string exp = s.substr(e + 1);
    bool neg = !exp.empty() && exp[0] == '-';
    if (!exp.empty() && (exp[0] == '+' || exp[0] == '-')) exp.erase(0, 1);
    while (exp.size() > 1 && exp[0] == '0') exp.erase(0, 1);
    s = mant + "E" + (neg ? "-" : "") + exp;
  }
  return AsciiToText(s.data(), s.data() + s.size());
}

Text CurrencyText(std::int64_t aScaled) {
  bool neg = aScaled < 0;
  std::uint64_t mag = neg ? 0 - static_cast<std::uint64_t>(aScaled) : static_cast<std::uint64_t>(aScaled);
  std::string s = std::to_string(mag / kCurrencyScale);
  std::uint64_t frac = mag % kCurrencyScale;
  if (frac) {
    std::string f = std::to_string(frac);
    f.insert(0, 4 - f.size(), '0');
    while (!f.empty() && f.back() == '0') f.pop_back();
    s += "." + f;
  }
  if (neg) s.insert(0, 1, '-');
  return AsciiToText(s.data(), s.data() + s.size());
}

Text TwoDigits(int aValue) {
  Text r;
  r.push_back(static_cast<char16_t>(u'0' + aValue / 10));
  r.push_back(static_cast<char16_t>(u'0' + aValue % 10));
  return r;
}

Text IntToTextPadded(int aValue, std::size_t iWidth) {
  Text r;
  std::string s = std::to_string(aValue);
  if (s.size() < iWidth) r.assign(iWidth - s.size(), u'0');
  for (char c : s) r.push_back(static_cast<char16_t>(c));
  return r;
}

// Parses a sign and a decimal or hexadecimal magnitude.
bool ParseInteger(TextView aText, bool& bNegative, std::uint64_t& aMagnitude, bool& bHex) {
  std::size_t i = 0;
  bNegative = false;
  bHex = false;
  if (i < aText.size() && (aText[i] == u'-' || aText[i] == u'+')) {
    bNegative = aText[i] == u'-';
    ++i;
  }
  if (i < aText.size() && aText[i] == u'$') {
    bHex = true;
    ++i;
  } else if (i + 1 < aText.size() && aText[i] == u'0' && (aText[i + 1] == u'x' || aText[i + 1] == u'X')) {
    bHex = true;
    i += 2;
  }
  if (i >= aText.size()) return false;
  std::uint64_t v = 0;
  if (bHex) {
    if (aText.size() - i > 16) return false;
    for (; i < aText.size(); ++i) {
      char16_t c = aText[i];
      int d;
      if (c >= u'0' && c <= u'9') d = c - u'0';
      else if (c >= u'A' && c <= u'F') d = c - u'A' + 10;
      else if (c >= u'a' && c <= u'f') d = c - u'a' + 10;
      else return false;
      v = (v << 4) | static_cast<std::uint64_t>(d);
    }
  } else {
    for (; i < aText.size(); ++i) {
      char16_t c = aText[i];
      if (c < u'0' || c > u'9') return false;
      std::uint64_t d = static_cast<std::uint64_t>(c - u'0');
      if (v > (std::numeric_limits<std::uint64_t>::max() - d) / 10) return false;
      v = v * 10 + d;
    }
  }
  aMagnitude = v;
  return true;
}

// Civil calendar <-> day number (days since 1970-01-01), proleptic Gregorian.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t yy = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yy + (m <= 2));
}

constexpr std::int64_t kUnixDelta = 25569;  // 1970-01-01 in days since 1899-12-30
constexpr std::int64_t kMinDay = -693593;   // 0001-01-01
constexpr std::int64_t kMaxDay = 2958465;   // 9999-12-31
constexpr std::int64_t kMsPerDay = 86400000;

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
int DaysInMonth(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

}  // namespace

const char16_t* VarKindName(TVarKind aKind) {
  switch (aKind) {
    case TVarKind::Empty: return u"Empty";
    case TVarKind::Null: return u"Null";
    case TVarKind::Boolean: return u"Boolean";
    case TVarKind::Int8: return u"Int8";
    case TVarKind::Int16: return u"Int16";
    case TVarKind::Int32: return u"Int32";
    case TVarKind::Int64: return u"Int64";
    case TVarKind::UInt8: return u"UInt8";
    case TVarKind::UInt16: return u"UInt16";
    case TVarKind::UInt32: return u"UInt32";
    case TVarKind::UInt64: return u"UInt64";
    case TVarKind::Single: return u"Single";
    case TVarKind::Double: return u"Double";
    case TVarKind::Currency: return u"Currency";
    case TVarKind::DateTime: return u"DateTime";
    case TVarKind::Text: return u"Text";
    case TVarKind::Array: return u"Array";
  }
  return u"Unknown";
}

bool VarKindIsInteger(TVarKind aKind) {
  switch (aKind) {
    case TVarKind::Int8:
    case TVarKind::Int16:
    case TVarKind::Int32:
    case TVarKind::Int64:
    case TVarKind::UInt8:
    case TVarKind::UInt16:
    case TVarKind::UInt32:
    case TVarKind::UInt64:
      return true;
    default:
      return false;
  }
}

// ---- Construction ----------------------------------------------------------------------

Variant::Variant(const Text& aValue) : FKind(TVarKind::Text) { new (&FText) Text(aValue); }
Variant::Variant(Text&& aValue) noexcept : FKind(TVarKind::Text) { new (&FText) Text(std::move(aValue)); }
Variant::Variant(TextView aValue) : FKind(TVarKind::Text) { new (&FText) Text(aValue); }
Variant::Variant(const char16_t* aValue) : FKind(TVarKind::Text) {
  new (&FText) Text(aValue ? aValue : u"");
}

Variant Variant::Null() noexcept {
  Variant v;
  v.FKind = TVarKind::Null;
  return v;
}

Variant Variant::FromCurrency(double aValue) {
  double scaled = std::nearbyint(aValue * static_cast<double>(kCurrencyScale));
  if (!(scaled >= -9223372036854775808.0 && scaled < 9223372036854775808.0))
    throw EVariantError(u"Currency value out of range");
  return FromCurrencyScaled(static_cast<std::int64_t>(scaled));
}

Variant Variant::FromCurrencyScaled(std::int64_t aScaled) noexcept {
  Variant v;
  v.FKind = TVarKind::Currency;
  v.FInt = aScaled;
  return v;
}

Variant Variant::FromDateTime(TDateTime aValue) noexcept {
  Variant v;
  v.FKind = TVarKind::DateTime;
  v.FDouble = aValue;
  return v;
}

Variant Variant::FromBytes(const std::vector<std::uint8_t>& aBytes) {
  return FromBytes(aBytes.data(), aBytes.size());
}

Variant Variant::FromBytes(const std::uint8_t* aBytes, std::size_t aCount) {
  Variant v = ArrayCreate(TVarKind::UInt8, 0);
  v.FArray->Count = aCount;
  if (aCount) v.FArray->Data.assign(aBytes, aBytes + aCount);
  return v;
}

Variant Variant::ArrayCreate(TVarKind aElementKind, std::size_t aCount) {
  if (!VarKindIsInteger(aElementKind))
    throw EVariantError(Text(u"Array elements of kind ") + VarKindName(aElementKind) +
                        u" are not supported");
  auto* data = new TArrayData();
  data->ElementKind = aElementKind;
  data->Count = aCount;
  try {
    data->Data.assign(aCount * ElementSize(aElementKind), 0);
  } catch (...) {
    delete data;
    throw;
  }
  Variant v;
  v.FKind = TVarKind::Array;
  v.FArray = data;
  return v;
}

// ---- Value semantics -------------------------------------------------------------------

void Variant::Release() noexcept {
  if (FKind == TVarKind::Text) {
    FText.~Text();
  } else if (FKind == TVarKind::Array) {
    delete FArray;
  }
  FKind = TVarKind::Empty;
  FUInt = 0;
}

void Variant::CopyFrom(const Variant& aOther) {
  // Allocate first, so that a failure leaves this value empty and valid.
  if (aOther.FKind == TVarKind::Text) {
    new (&FText) Text(aOther.FText);
  } else if (aOther.FKind == TVarKind::Array) {
    FArray = new TArrayData(*aOther.FArray);
  } else {
    std::memcpy(static_cast<void*>(&FUInt), static_cast<const void*>(&aOther.FUInt), sizeof FUInt);
  }
  FKind = aOther.FKind;
}

void Variant::MoveFrom(Variant& aOther) noexcept {
  if (aOther.FKind == TVarKind::Text) {
    new (&FText) Text(std::move(aOther.FText));
    aOther.FText.~Text();
  } else {
    std::memcpy(static_cast<void*>(&FUInt), static_cast<const void*>(&aOther.FUInt), sizeof FUInt);
  }
  FKind = aOther.FKind;
  aOther.FKind = TVarKind::Empty;
  aOther.FUInt = 0;
}

Variant::Variant(const Variant& aOther) : FKind(TVarKind::Empty) {
  FUInt = 0;
  CopyFrom(aOther);
}

Variant::Variant(Variant&& aOther) noexcept : FKind(TVarKind::Empty) {
  FUInt = 0;
  MoveFrom(aOther);
}

Variant& Variant::operator=(const Variant& aOther) {
  if (this != &aOther) {
    Variant copy(aOther);
    Release();
    MoveFrom(copy);
  }
  return *this;
}

Variant& Variant::operator=(Variant&& aOther) noexcept {
  if (this != &aOther) {
    Release();
    MoveFrom(aOther);
  }
  return *this;
}

Variant::~Variant() { Release(); }

bool operator==(const Variant& a, const Variant& b) noexcept {
  if (a.FKind != b.FKind) return false;
  switch (a.FKind) {
    case TVarKind::Empty:
    case TVarKind::Null:
      return true;
    case TVarKind::Boolean:
      return a.FBool == b.FBool;
    case TVarKind::Single:
      return a.FSingle == b.FSingle;
    case TVarKind::Double:
    case TVarKind::DateTime:
      return a.FDouble == b.FDouble;
    case TVarKind::Text:
      return a.FText == b.FText;
    case TVarKind::Array:
      return a.FArray->ElementKind == b.FArray->ElementKind && a.FArray->Count == b.FArray->Count &&
             a.FArray->Data == b.FArray->Data;
    default:  // integers and currency
      return a.FUInt == b.FUInt;
  }
}

// ---- Conversions -----------------------------------------------------------------------

void Variant::RaiseConvert(const char16_t* aTarget) const {
  throw EVariantError(Text(u"Could not convert variant of type (") + VarKindName(FKind) +
                      u") into type (" + aTarget + u")");
}

Text Variant::ToText() const {
  switch (FKind) {
    case TVarKind::Empty:
      return Text();
    case TVarKind::Boolean:
      return FBool ? u"True" : u"False";
    case TVarKind::Int8:
    case TVarKind::Int16:
    case TVarKind::Int32:
    case TVarKind::Int64: {
      char buf[24];
      auto r = std::to_chars(buf, buf + sizeof buf, FInt);
      return AsciiToText(buf, r.ptr);
    }
    case TVarKind::UInt8:
    case TVarKind::UInt16:
    case TVarKind::UInt32:
    case TVarKind::UInt64: {
      char buf[24];
      auto r = std::to_chars(buf, buf + sizeof buf, FUInt);
      return AsciiToText(buf, r.ptr);
    }
    case TVarKind::Single:
      return FloatText(FSingle, true);
    case TVarKind::Double:
      return FloatText(FDouble, false);
    case TVarKind::Currency:
      return CurrencyText(FInt);
    case TVarKind::DateTime: {
      TDateTimeParts p;
      try {
        p = DateTimeDecode(FDouble);
      } catch (const EConvertError&) {
        RaiseConvert(u"Text");
      }
      Text r = IntToTextPadded(p.Year, 4) + u"-" + TwoDigits(p.Month) + u"-" + TwoDigits(p.Day);
      if (p.Hour || p.Minute || p.Second || p.MilliSecond)
        r += u" " + TwoDigits(p.Hour) + u":" + TwoDigits(p.Minute) + u":" + TwoDigits(p.Second);
      return r;
    }
    case TVarKind::Text:
      return FText;
    case TVarKind::Null:
    case TVarKind::Array:
      break;
  }
  RaiseConvert(u"Text");
}

std::int64_t Variant::ToInt64() const {
  switch (FKind) {
    case TVarKind::Empty:
      return 0;
    case TVarKind::Boolean:
      return FBool ? 1 : 0;
    case TVarKind::Int8:
    case TVarKind::Int16:
    case TVarKind::Int32:
    case TVarKind::Int64:
      return FInt;
    case TVarKind::UInt8:
    case TVarKind::UInt16:
    case TVarKind::UInt32:
    case TVarKind::UInt64:
      if (FUInt > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) break;
      return static_cast<std::int64_t>(FUInt);
    case TVarKind::Currency: {
      double r = std::nearbyint(static_cast<double>(FInt) / kCurrencyScale);
      return static_cast<std::int64_t>(r);
    }
    case TVarKind::Single:
    case TVarKind::Double:
    case TVarKind::DateTime: {
      double r = std::nearbyint(ToDouble());
      if (!(r >= -9223372036854775808.0 && r < 9223372036854775808.0)) break;
      return static_cast<std::int64_t>(r);
    }
    case TVarKind::Text: {
      std::int64_t v;
      if (TextToInt64Try(FText, v)) return v;
      double d;
      if (TextToDoubleTry(FText, d)) return Variant(d).ToInt64();
      break;
    }
    case TVarKind::Null:
    case TVarKind::Array:
      break;
  }
  RaiseConvert(u"Int64");
}

std::uint64_t Variant::ToUInt64() const {
  switch (FKind) {
    case TVarKind::UInt8:
    case TVarKind::UInt16:
    case TVarKind::UInt32:
    case TVarKind::UInt64:
      return FUInt;
    case TVarKind::Single:
    case TVarKind::Double:
    case TVarKind::DateTime: {
      double r = std::nearbyint(ToDouble());
      if (!(r >= 0 && r < 18446744073709551616.0)) break;
      return static_cast<std::uint64_t>(r);
    }
    case TVarKind::Text: {
      std::uint64_t v;
      if (TextToUInt64Try(FText, v)) return v;
      double d;
      if (TextToDoubleTry(FText, d)) return Variant(d).ToUInt64();
      break;
    }
    case TVarKind::Null:
    case TVarKind::Array:
      break;
    default: {
      std::int64_t v = ToInt64();
      if (v < 0) break;
      return static_cast<std::uint64_t>(v);
    }
  }
  RaiseConvert(u"UInt64");
}

bool Variant::ToBool() const {
  switch (FKind) {
    case TVarKind::Empty:
      return false;
    case TVarKind::Boolean:
      return FBool;
    case TVarKind::Single:
      return FSingle != 0;
    case TVarKind::Double:
    case TVarKind::DateTime:
      return FDouble != 0;
    case TVarKind::Text: {
      auto same = [this](const char16_t* aWord) {
        TextView w(aWord);
        if (w.size() != FText.size()) return false;
        for (std::size_t i = 0; i < w.size(); ++i) {
          char16_t c = FText[i];
          if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
          if (c != w[i]) return false;
        }
        return true;
      };
      if (same(u"true")) return true;
      if (same(u"false")) return false;
      double d;
      if (TextToDoubleTry(FText, d)) return d != 0;
      break;
    }
    case TVarKind::Null:
    case TVarKind::Array:
      break;
    default:  // integers and currency
      return FUInt != 0;
  }
  RaiseConvert(u"Boolean");
}

double Variant::ToDouble() const {
  switch (FKind) {
    case TVarKind::Empty:
      return 0;
    case TVarKind::Boolean:
      return FBool ? 1 : 0;
    case TVarKind::Int8:
    case TVarKind::Int16:
    case TVarKind::Int32:
    case TVarKind::Int64:
      return static_cast<double>(FInt);
    case TVarKind::UInt8:
    case TVarKind::UInt16:
    case TVarKind::UInt32:
    case TVarKind::UInt64:
      return static_cast<double>(FUInt);
    case TVarKind::Single:
      return FSingle;
    case TVarKind::Double:
    case TVarKind::DateTime:
      return FDouble;
    case TVarKind::Currency:
      return static_cast<double>(FInt) / kCurrencyScale;
    case TVarKind::Text: {
      double d;
      if (TextToDoubleTry(FText, d)) return d;
      break;
    }
    case TVarKind::Null:
    case TVarKind::Array:
      break;
  }
  RaiseConvert(u"Double");
}

const Text& Variant::TextRef() const {
  if (FKind != TVarKind::Text) RaiseConvert(u"Text");
  return FText;
}

std::int64_t Variant::CurrencyScaled() const {
  if (FKind != TVarKind::Currency) RaiseConvert(u"Currency");
  return FInt;
}

// ---- Arrays ----------------------------------------------------------------------------

TVarKind Variant::ArrayElementKind() const {
  if (FKind != TVarKind::Array) RaiseConvert(u"Array");
  return FArray->ElementKind;
}

std::size_t Variant::ArrayCount() const {
  if (FKind != TVarKind::Array) RaiseConvert(u"Array");
  return FArray->Count;
}

Variant Variant::ArrayGet(std::size_t aIndex) const {
  if (FKind != TVarKind::Array) RaiseConvert(u"Array");
  if (aIndex >= FArray->Count) throw EVariantError(u"Variant array index out of bounds");
  const std::uint8_t* p = FArray->Data.data() + aIndex * ElementSize(FArray->ElementKind);
  switch (FArray->ElementKind) {
    case TVarKind::Int8: { std::int8_t v; std::memcpy(&v, p, sizeof v); return Variant(v); }
    case TVarKind::Int16: { std::int16_t v; std::memcpy(&v, p, sizeof v); return Variant(v); }
    case TVarKind::Int32: { std::int32_t v; std::memcpy(&v, p, sizeof v); return Variant(v); }
    case TVarKind::Int64: { std::int64_t v; std::memcpy(&v, p, sizeof v); return Variant(v); }
    case TVarKind::UInt8: return Variant(*p);
    case TVarKind::UInt16: { std::uint16_t v; std::memcpy(&v, p, sizeof v); return Variant(v); }
    case TVarKind::UInt32: { std::uint32_t v; std::memcpy(&v, p, sizeof v); return Variant(v); }
    default: { std::uint64_t v; std::memcpy(&v, p, sizeof v); return Variant(v); }
  }
}

void Variant::ArraySet(std::size_t aIndex, const Variant& aValue) {
  if (FKind != TVarKind::Array) RaiseConvert(u"Array");
  if (aIndex >= FArray->Count) throw EVariantError(u"Variant array index out of bounds");
  TVarKind kind = FArray->ElementKind;
  std::size_t size = ElementSize(kind);
  std::uint8_t* p = FArray->Data.data() + aIndex * size;
  if (KindIsSigned(kind)) {
    std::int64_t v = aValue.ToInt64();
    std::int64_t lo = size == 8 ? std::numeric_limits<std::int64_t>::min() : -(std::int64_t(1) << (size * 8 - 1));
    std::int64_t hi = size == 8 ? std::numeric_limits<std::int64_t>::max() : (std::int64_t(1) << (size * 8 - 1)) - 1;
    if (v < lo || v > hi) throw EVariantError(u"Value out of range for the array's elements");
    switch (size) {
      case 1: { auto x = static_cast<std::int8_t>(v); std::memcpy(p, &x, size); break; }
      case 2: { auto x = static_cast<std::int16_t>(v); std::memcpy(p, &x, size); break; }
      case 4: { auto x = static_cast<std::int32_t>(v); std::memcpy(p, &x, size); break; }
      default: std::memcpy(p, &v, size);
    }
  } else {
    std::uint64_t v = aValue.ToUInt64();
    if (size < 8 && v >= (std::uint64_t(1) << (size * 8)))
      throw EVariantError(u"Value out of range for the array's elements");
    switch (size) {
      case 1: { auto x = static_cast<std::uint8_t>(v); std::memcpy(p, &x, size); break; }
      case 2: { auto x = static_cast<std::uint16_t>(v); std::memcpy(p, &x, size); break; }
      case 4: { auto x = static_cast<std::uint32_t>(v); std::memcpy(p, &x, size); break; }
      default: std::memcpy(p, &v, size);
    }
  }
}

const std::vector<std::uint8_t>& Variant::ArrayBytes() const {
  if (FKind != TVarKind::Array || ElementSize(FArray->ElementKind) != 1) RaiseConvert(u"Bytes");
  return FArray->Data;
}

// ---- Text to number --------------------------------------------------------------------

bool TextToInt64Try(TextView aText, std::int64_t& aValue) {
  bool neg, hex;
  std::uint64_t mag;
  if (!ParseInteger(aText, neg, mag, hex)) return false;
  if (hex) {
    // A hexadecimal text is a 64-bit pattern: "$FFFFFFFFFFFFFFFF" is -1.
    std::uint64_t pattern = neg ? 0 - mag : mag;
    aValue = static_cast<std::int64_t>(pattern);
    return true;
  }
  if (neg) {
    if (mag > std::uint64_t(1) << 63) return false;
    aValue = static_cast<std::int64_t>(0 - mag);
  } else {
    if (mag > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return false;
    aValue = static_cast<std::int64_t>(mag);
  }
  return true;
}

bool TextToUInt64Try(TextView aText, std::uint64_t& aValue) {
  bool neg, hex;
  std::uint64_t mag;
  if (!ParseInteger(aText, neg, mag, hex)) return false;
  if (neg && mag != 0) return false;
  aValue = mag;
  return true;
}

bool TextToDoubleTry(TextView aText, double& aValue) {
  std::int64_t i;
  if (TextToInt64Try(aText, i)) {
    aValue = static_cast<double>(i);
    return true;
  }
  std::string s;
  if (aText.empty() || !TextToAscii(aText, s)) return false;
  // Only plain decimal forms: no "inf", "nan" or hexadecimal floats.
  for (char c : s) {
    bool ok = (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E';
    if (!ok) return false;
  }
  const char* b = s.data();
  const char* e = s.data() + s.size();
  if (*b == '+') ++b;
  double d = 0;
  auto r = std::from_chars(b, e, d, std::chars_format::general);
  if (r.ec != std::errc() || r.ptr != e) return false;
  aValue = d;
  return true;
}

// ---- Dates -----------------------------------------------------------------------------

TDateTime DateTimeEncode(int aYear, int aMonth, int aDay, int aHour, int aMinute, int aSecond,
                         int aMilliSecond) {
  if (aYear < 1 || aYear > 9999 || aMonth < 1 || aMonth > 12 || aDay < 1 ||
      aDay > DaysInMonth(aYear, aMonth) || aHour < 0 || aHour > 23 || aMinute < 0 || aMinute > 59 ||
      aSecond < 0 || aSecond > 59 || aMilliSecond < 0 || aMilliSecond > 999)
    throw EConvertError(u"Invalid argument to date encode");
  double days = static_cast<double>(DaysFromCivil(aYear, static_cast<unsigned>(aMonth),
                                                   static_cast<unsigned>(aDay)) + kUnixDelta);
  double time = (((aHour * 60.0 + aMinute) * 60.0 + aSecond) * 1000.0 + aMilliSecond) / kMsPerDay;
  return days < 0 ? days - time : days + time;
}

TDateTimeParts DateTimeDecode(TDateTime aValue) {
  if (!std::isfinite(aValue) || aValue <= static_cast<double>(kMinDay - 1) ||
      aValue >= static_cast<double>(kMaxDay + 1))
    throw EConvertError(u"Invalid date-time value");
  double whole = std::trunc(aValue);
  std::int64_t days = static_cast<std::int64_t>(whole);
  std::int64_t ms = static_cast<std::int64_t>(std::llround(std::fabs(aValue - whole) * kMsPerDay));
  if (ms >= kMsPerDay) {
    ms -= kMsPerDay;
    ++days;
  }
  if (days < kMinDay || days > kMaxDay) throw EConvertError(u"Invalid date-time value");
  TDateTimeParts p{};
  CivilFromDays(days - kUnixDelta, p.Year, p.Month, p.Day);
  p.Hour = static_cast<int>(ms / 3600000);
  p.Minute = static_cast<int>(ms / 60000 % 60);
  p.Second = static_cast<int>(ms / 1000 % 60);
  p.MilliSecond = static_cast<int>(ms % 1000);
  return p;
}
