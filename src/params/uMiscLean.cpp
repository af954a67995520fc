#include "params/uMiscLean.h"

#include <string>

#include "platform/win32api.h"

namespace {

const char16_t kHexUpper[] = u"0123456789ABCDEF";
const char16_t kHexLower[] = u"0123456789abcdef";

Text HexDigits(std::uint64_t aValue, const char16_t* aDigits) {
  Text r;
  do {
    r.insert(r.begin(), aDigits[aValue & 0xF]);
    aValue >>= 4;
  } while (aValue);
  return r;
}

void AppendUtf8OfUnit(std::string& aBytes, char16_t c) {
  if (c < 0x80) {
    aBytes.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    aBytes.push_back(static_cast<char>(0xC0 | (c >> 6)));
    aBytes.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    aBytes.push_back(static_cast<char>(0xE0 | (c >> 12)));
    aBytes.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    aBytes.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

[[noreturn]] void RaiseUrlDecode() { throw EConvertError(u"EConvertError"); }

// UTF-8 with single surrogates allowed (three bytes each), as UrlEncode writes them, so
// that unpaired surrogates and pairs encoded unit by unit come back unchanged.
Text DecodeUtf8Units(const std::string& aBytes) {
  Text r;
  r.reserve(aBytes.size());
  std::size_t i = 0;
  const std::size_t n = aBytes.size();
  auto cont = [&](std::size_t k) -> std::uint32_t {
    if (k >= n) RaiseUrlDecode();
    auto b = static_cast<unsigned char>(aBytes[k]);
    if ((b & 0xC0) != 0x80) RaiseUrlDecode();
    return b & 0x3F;
  };
  while (i < n) {
    auto b = static_cast<unsigned char>(aBytes[i]);
    if (b < 0x80) {
      r.push_back(b);
      i += 1;
    } else if (b >= 0xC2 && b <= 0xDF) {
      r.push_back(static_cast<char16_t>(((b & 0x1F) << 6) | cont(i + 1)));
      i += 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
      std::uint32_t v = ((b & 0x0Fu) << 12) | (cont(i + 1) << 6) | cont(i + 2);
      if (v < 0x800) RaiseUrlDecode();
      r.push_back(static_cast<char16_t>(v));
      i += 3;
    } else if (b >= 0xF0 && b <= 0xF4) {
      std::uint32_t v = ((b & 0x07u) << 18) | (cont(i + 1) << 12) | (cont(i + 2) << 6) | cont(i + 3);
      if (v < 0x10000 || v > 0x10FFFF) RaiseUrlDecode();
      v -= 0x10000;
      r.push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
      r.push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
      i += 4;
    } else {
      RaiseUrlDecode();
    }
  }
  return r;
}

bool IsUrlKept(char16_t c) {
  if ((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z')) return true;
  switch (c) {
    case u'!': case u'$': case u'\'': case u'(': case u')': case u'*':
    case u'-': case u'.': case u'@': case u'_':
      return true;
    default:
      return false;
  }
}

}  // namespace

// ---- ASCII case folding ----------------------------------------------------------------

char16_t CharLowerAscii(char16_t aChar) {
  return aChar >= u'A' && aChar <= u'Z' ? static_cast<char16_t>(aChar + 32) : aChar;
}

char16_t CharUpperAscii(char16_t aChar) {
  return aChar >= u'a' && aChar <= u'z' ? static_cast<char16_t>(aChar - 32) : aChar;
}

Text TextLowerAscii(TextView aText) {
  Text r(aText);
  for (char16_t& c : r) c = CharLowerAscii(c);
  return r;
}

Text TextUpperAscii(TextView aText) {
  Text r(aText);
  for (char16_t& c : r) c = CharUpperAscii(c);
  return r;
}

bool TextSameIgnoreCase(TextView a, TextView b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (CharUpperAscii(a[i]) != CharUpperAscii(b[i])) return false;
  return true;
}

int TextCompareIgnoreCase(TextView a, TextView b) {
  std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    char16_t x = CharUpperAscii(a[i]);
    char16_t y = CharUpperAscii(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

std::size_t TextFindIgnoreCase(TextView aText, TextView aPart, std::size_t aFrom) {
  if (aPart.size() > aText.size()) return Text::npos;
  for (std::size_t i = aFrom; i + aPart.size() <= aText.size(); ++i)
    if (TextSameIgnoreCase(aText.substr(i, aPart.size()), aPart)) return i;
  return Text::npos;
}

Text IntToText(std::int64_t aValue) { return Variant(aValue).ToText(); }
Text UIntToText(std::uint64_t aValue) { return Variant(aValue).ToText(); }

// ---- Values to text --------------------------------------------------------------------

Text VariantToText(const Variant& aValue) {
  if (aValue.IsArray()) return BytesToHexText(aValue);
  return aValue.ToText();
}

Text VariantToTextGrouped(const Variant& aValue) { return TextGroupDigits(VariantToText(aValue), u','); }

Text TextGroupDigits(TextView aText, char16_t aSeparator) {
  Text r(aText);
  // One-based insertion points L-2, L-5, ... while above 1; zero-based index p-1.
  std::int64_t p = static_cast<std::int64_t>(r.size()) - 2;
  while (p > 1) {
    char16_t left = r[static_cast<std::size_t>(p - 2)];
    if (left < u'0' || left > u'9') break;
    r.insert(r.begin() + (p - 1), aSeparator);
    p -= 3;
  }
  return r;
}

bool VariantIsEmpty(const Variant& aValue) {
  if (aValue.IsEmpty() || aValue.IsNull()) return true;
  return aValue.IsText() && aValue.TextRef().empty();
}

// ---- Hexadecimal -----------------------------------------------------------------------

Text BytesToHexText(const Variant& aArray) {
  if (aArray.IsNull() || aArray.IsEmpty()) return Text();
  std::size_t n = aArray.ArrayCount();  // raises for any other non-array value
  Text r;
  r.reserve(n * 2);
  if (aArray.ArrayElementKind() == TVarKind::UInt8) {
    for (std::uint8_t b : aArray.ArrayBytes()) {
      r.push_back(kHexLower[b >> 4]);
      r.push_back(kHexLower[b & 0xF]);
    }
    return r;
  }
  for (std::size_t i = 0; i < n; ++i) {
    Variant e = aArray.ArrayGet(i);
    std::uint64_t u = e.Kind() == TVarKind::UInt64 ? e.ToUInt64() : static_cast<std::uint64_t>(e.ToInt64());
    Text h = HexDigits(u, kHexLower);
    if (h.size() < 2) h.insert(h.begin(), u'0');
    r += h.substr(0, 2);
  }
  return r;
}

Variant HexTextToBytes(TextView aText) {
  if (aText.substr(0, 2) == u"0x") aText.remove_prefix(2);
  for (char16_t c : aText) {
    bool hex = (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f');
    if (!hex) return Variant();
  }
  std::vector<std::uint8_t> bytes(aText.size() / 2);
  for (std::size_t j = 0; j < bytes.size(); ++j)
    bytes[j] = static_cast<std::uint8_t>(HexDigitValue(aText[2 * j]) * 16 + HexDigitValue(aText[2 * j + 1]));
  return Variant::FromBytes(bytes);
}

std::int64_t HexTextByteCount(TextView aText) { return static_cast<std::int64_t>(aText.size() / 2); }

int HexDigitValue(char16_t aChar) {
  if (aChar >= u'0' && aChar <= u'9') return aChar - u'0';
  if (aChar >= u'A' && aChar <= u'F') return aChar - u'A' + 10;
  if (aChar >= u'a' && aChar <= u'f') return aChar - u'a' + 10;
  throw EConvertError(Text(u"'") + Text(1, aChar) + u"' is not a hexadecimal digit");
}

Text IntToHexText(int iBitCount, std::uint64_t aValue) {
  Text h = HexDigits(aValue, kHexUpper);
  std::size_t width = iBitCount > 0 ? static_cast<std::size_t>(iBitCount / 4) : 0;
  if (h.size() < width) h.insert(0, width - h.size(), u'0');
  return u"$" + h;
}

Text PointerToText(const void* aPointer) {
  return IntToHexText(static_cast<int>(sizeof(void*) * 8),
                      static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(aPointer)));
}

std::int64_t TextToInt64(TextView aText) {
  if (aText.empty()) return 0;
  std::int64_t v;
  if (!TextToInt64Try(aText, v)) throw EConvertError(u"'" + Text(aText) + u"' is not a valid integer value");
  return v;
}

std::uintptr_t TextToPointer(TextView aText) {
  return static_cast<std::uintptr_t>(static_cast<std::uint64_t>(TextToInt64(aText)));
}

// ---- Text tests and pieces -------------------------------------------------------------

bool TextStartsWith(TextView aText, TextView aPrefix) {
  return !aPrefix.empty() && aPrefix.size() <= aText.size() && aText.substr(0, aPrefix.size()) == aPrefix;
}

bool TextStartsWithIgnoreCase(TextView aText, TextView aPrefix) {
  return !aPrefix.empty() && aPrefix.size() <= aText.size() &&
         TextSameIgnoreCase(aText.substr(0, aPrefix.size()), aPrefix);
}

bool TextContains(TextView aPart, TextView aText, bool bCaseSensitive) {
  if (aPart.empty()) return false;
  if (bCaseSensitive) return aText.find(aPart) != TextView::npos;
  return TextFindIgnoreCase(aText, aPart) != Text::npos;
}

bool TextIsInList(TextView aText, const std::vector<Text>& aList, bool bCaseSensitive) {
  for (const Text& e : aList)
    if (bCaseSensitive ? TextView(e) == aText : TextSameIgnoreCase(e, aText)) return true;
  return false;
}

bool TextIsInListIgnoreCase(TextView aText, const std::vector<Text>& aList) {
  return TextIsInList(aText, aList, false);
}

bool IntegerIsInList(std::int64_t aValue, const std::vector<std::int64_t>& aList) {
  for (std::int64_t e : aList)
    if (e == aValue) return true;
  return false;
}

Text TextAfter(TextView aPart, TextView aText) {
  if (aPart.empty()) return Text(aText);
  std::size_t p = aText.find(aPart);
  if (p == TextView::npos) return Text(aText);
  return Text(aText.substr(p + aPart.size()));
}

char16_t TextFirstChar(TextView aText) { return aText.empty() ? char16_t(0) : aText.front(); }
char16_t TextLastChar(TextView aText) { return aText.empty() ? char16_t(0) : aText.back(); }

std::int64_t WideTextByteLength(TextView aText) { return static_cast<std::int64_t>(aText.size()) * 2; }

// ---- URL encoding ----------------------------------------------------------------------

Text UrlEncode(TextView aText) {
  Text r;
  r.reserve(aText.size());
  auto escape = [&r](unsigned aByte) {
    r.push_back(u'%');
    r.push_back(kHexUpper[(aByte >> 4) & 0xF]);
    r.push_back(kHexUpper[aByte & 0xF]);
  };
  for (char16_t c : aText) {
    if (IsUrlKept(c)) {
      r.push_back(c);
    } else if (c == u' ') {
      r.push_back(u'+');
    } else if (c < 128) {
      escape(c);
    } else {
      std::string bytes;
      AppendUtf8OfUnit(bytes, c);
      for (char b : bytes) escape(static_cast<unsigned char>(b));
    }
  }
  return r;
}

Text UrlDecode(TextView aText) {
  std::string bytes;
  bytes.reserve(aText.size());
  try {
    for (std::size_t i = 0; i < aText.size(); ++i) {
      char16_t c = aText[i];
      if (c == u'%') {
        if (i + 1 < aText.size() && aText[i + 1] == u'%') {
          bytes.push_back('%');
          i += 1;
        } else {
          if (i + 2 >= aText.size()) throw EConvertError(u"Null char");
          int hi = HexDigitValue(aText[i + 1]);
          int lo = HexDigitValue(aText[i + 2]);
          bytes.push_back(static_cast<char>(hi * 16 + lo));
          i += 2;
        }
      } else if (c == u'+') {
        bytes.push_back(' ');
      } else {
        AppendUtf8OfUnit(bytes, c);
      }
    }
  } catch (const Exception&) {
    RaiseUrlDecode();
  }
  return DecodeUtf8Units(bytes);
}

// ---- Method references -----------------------------------------------------------------

Text MethodToText(const TMethod& aMethod) { return PointerToText(aMethod.Code) + PointerToText(aMethod.Data); }

TMethod TextToMethod(TextView aText) {
  std::size_t half = aText.size() / 2;
  TMethod m;
  m.Code = reinterpret_cast<void*>(TextToPointer(aText.substr(0, half)));
  m.Data = reinterpret_cast<void*>(TextToPointer(aText.substr(half)));
  return m;
}

bool MethodsEqual(const TMethod& a, const TMethod& b) { return a.Code == b.Code && a.Data == b.Data; }
bool MethodIsEmpty(const TMethod& aMethod) { return aMethod.Code == nullptr; }

// ---- Dates and times -------------------------------------------------------------------

Text DateTimeToText(TDateTime aValue) {
  TDateTimeParts p = DateTimeDecode(aValue);
  auto digits = [](int aNumber, std::size_t iWidth) {
    Text r = IntToText(aNumber);
    if (r.size() < iWidth) r.insert(0, iWidth - r.size(), u'0');
    return r;
  };
  return digits(p.Year, 4) + u"-" + digits(p.Month, 2) + u"-" + digits(p.Day, 2) + u" " + digits(p.Hour, 2) +
         u":" + digits(p.Minute, 2) + u":" + digits(p.Second, 2);
}

Text DateTimeToFileNameText(TDateTime aValue) {
  Text r = DateTimeToText(aValue);
  for (char16_t& c : r)
    if (c == u':') c = u'-';
  return r;
}

TDateTime DateTimeNever() {
  static const TDateTime kNever = DateTimeEncode(9999, 1, 1);  // schedulers ask on every pass
  return kNever;
}

// ---- Other -----------------------------------------------------------------------------

TDateTime Now() {
  win::SYSTEMTIME t{};
  win::GetLocalTime(&t);
  return DateTimeEncode(t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
}

std::uint32_t MemoryAllocatedGet() {
  const std::uint64_t bytes = win::HeapBytesInUseGet();
  return bytes > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(bytes);
}
