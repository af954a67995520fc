#include "installer/uInstallScript.h"

#include <array>
#include <utility>

namespace {

// Code page 1252 for 0x80..0x9F; the five unassigned bytes map to the C1 controls of the same
// value, as Windows maps them.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

Text AnsiDecode(std::string_view b) {
  Text t;
  t.reserve(b.size());
  for (char ch : b) {
    auto c = static_cast<unsigned char>(ch);
    t.push_back(c >= 0x80 && c < 0xA0 ? kCp1252High[c - 0x80] : static_cast<char16_t>(c));
  }
  return t;
}

// Malformed sequences, overlong forms, surrogates and values past U+10FFFF give one U+FFFD
// per bad byte.
Text Utf8Decode(std::string_view b) {
  Text t;
  t.reserve(b.size());
  std::size_t i = 0;
  while (i < b.size()) {
    auto c = static_cast<unsigned char>(b[i]);
    if (c < 0x80) {
      t.push_back(c);
      ++i;
      continue;
    }
    int n = c >= 0xF0 && c <= 0xF4 ? 3 : c >= 0xE0 ? (c <= 0xEF ? 2 : 0) : c >= 0xC2 && c <= 0xDF ? 1 : 0;
    char32_t cp = n == 3 ? (c & 0x07) : n == 2 ? (c & 0x0F) : (c & 0x1F);
    bool ok = n > 0;
    for (int k = 1; ok && k <= n; ++k) {
      if (i + k >= b.size()) {
        ok = false;
        break;
      }
      auto cc = static_cast<unsigned char>(b[i + k]);
      if ((cc & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    if (ok) {
      if ((n == 2 && cp < 0x800) || (n == 3 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF))
        ok = false;
    }
    if (!ok) {
      t.push_back(0xFFFD);
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      t.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      t.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      t.push_back(static_cast<char16_t>(cp));
    }
    i += static_cast<std::size_t>(n) + 1;
  }
  return t;
}

// An odd last byte cannot form a character: U+FFFD.
Text Utf16Decode(std::string_view b, bool bBigEndian) {
  Text t;
  t.reserve(b.size() / 2 + 1);
  std::size_t i = 0;
  for (; i + 1 < b.size(); i += 2) {
    auto lo = static_cast<unsigned char>(b[i]), hi = static_cast<unsigned char>(b[i + 1]);
    if (bBigEndian) std::swap(lo, hi);
    t.push_back(static_cast<char16_t>(lo | (hi << 8)));
  }
  if (i < b.size()) t.push_back(0xFFFD);
  return t;
}

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

char16_t UpAscii(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

bool IsReservedDeviceName(TextView aPart) {
  // The device name counts with any extension ("NUL.txt" is still NUL).
  TextView base = aPart.substr(0, aPart.find(u'.'));
  while (!base.empty() && base.back() == u' ') base.remove_suffix(1);
  Text up;
  for (char16_t c : base) up.push_back(UpAscii(c));
  if (up == u"CON" || up == u"PRN" || up == u"AUX" || up == u"NUL" || up == u"CONIN$" || up == u"CONOUT$")
    return true;
  // Windows takes the superscript digits of Latin-1 for digits here too: COM¹ is COM1.
  if (up.size() == 4 && (up.compare(0, 3, u"COM") == 0 || up.compare(0, 3, u"LPT") == 0) &&
      ((up[3] >= u'1' && up[3] <= u'9') || up[3] == u'\u00B9' || up[3] == u'\u00B2' || up[3] == u'\u00B3'))
    return true;
  return false;
}

}  // namespace

Text InstallScriptTextDecode(std::string_view aBytes) {
  if (aBytes.size() >= 3 && aBytes.substr(0, 3) == "\xEF\xBB\xBF") return Utf8Decode(aBytes.substr(3));
  if (aBytes.size() >= 2 && aBytes.substr(0, 2) == "\xFF\xFE") return Utf16Decode(aBytes.substr(2), false);
  if (aBytes.size() >= 2 && aBytes.substr(0, 2) == "\xFE\xFF") return Utf16Decode(aBytes.substr(2), true);
  return AnsiDecode(aBytes);
}

std::vector<Text> InstallScriptLinesSplit(TextView aText) {
  std::vector<Text> lines;
  std::size_t start = 0, i = 0;
  while (i < aText.size()) {
    char16_t c = aText[i];
    if (c == u'\r' || c == u'\n') {
      lines.emplace_back(aText.substr(start, i - start));
      i += (c == u'\r' && i + 1 < aText.size() && aText[i + 1] == u'\n') ? 2 : 1;
      start = i;
    } else {
      ++i;
    }
  }
  if (start < aText.size()) lines.emplace_back(aText.substr(start));
  return lines;
}

std::vector<TInstallScriptEntry> InstallScriptParse(std::string_view aBytes) {
  std::vector<TInstallScriptEntry> entries;
  std::vector<Text> lines = InstallScriptLinesSplit(InstallScriptTextDecode(aBytes));
  for (std::size_t k = 0; k < lines.size(); ++k) {
    const Text& l = lines[k];
    if (l.empty() || (l.size() >= 2 && l[0] == u'/' && l[1] == u'/')) continue;
    entries.push_back({l, static_cast<int>(k + 1)});
  }
  return entries;
}

Text InstallScriptEntryCheck(TextView aEntry) {
  if (aEntry.empty()) return u"the name is empty";
  if (IsSeparator(aEntry[0])) return u"the name is a rooted path";
  if (aEntry.find(u':') != TextView::npos)
    return aEntry.size() >= 2 && aEntry[1] == u':' ? u"the name is a drive path" : u"the name holds a ':' (a stream)";
  std::size_t start = 0;
  while (true) {
    std::size_t end = start;
    while (end < aEntry.size() && !IsSeparator(aEntry[end])) ++end;
    TextView part = aEntry.substr(start, end - start);
    if (part.empty()) return u"the name has an empty part";
    if (part == u"..") return u"the name has a '..' part, which leaves the install folder";
    if (part == u".") return u"the name has a '.' part";
    if (part.back() == u'.' || part.back() == u' ')
      return u"the part '" + Text(part) + u"' ends with a dot or a space, which Windows drops";
    if (IsReservedDeviceName(part)) return u"the part '" + Text(part) + u"' is a reserved device name";
    for (char16_t c : part) {
      if (c < 0x20 || c == u'<' || c == u'>' || c == u'"' || c == u'|' || c == u'?' || c == u'*')
        return u"the name holds a character that Windows file names cannot hold";
    }
    if (end == aEntry.size()) break;
    start = end + 1;
  }
  return Text();
}
