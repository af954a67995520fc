#include "logtransport/LogConnections.h"

#include <limits>
#include <set>

#include "platform/utf.h"

ELogConnectionsError::ELogConnectionsError(const Text& aProblem, size_t aPosition)
    : Exception(u"Log connections: " + aProblem + u" at offset " + T(std::to_string(aPosition))),
      Position(aPosition) {}

namespace {

char16_t Lower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

Text Folded(TextView t) {
  Text out(t);
  for (auto& c : out) c = Lower(c);
  return out;
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }
bool IsNameChar(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_' || c == u'.';
}

Text Quoted(TextView t) { return u"\"" + Text(t) + u"\""; }

class TParser {
 public:
  explicit TParser(const Text& aText) : FText(aText) {}

  std::vector<TLogConnection> Run() {
    std::vector<TLogConnection> out;
    SkipBlanks();
    if (AtEnd()) return out;
    for (;;) {
      out.push_back(Item());
      SkipBlanks();
      if (AtEnd()) break;
      if (FText[FPos] != u',') Fail(u"\",\" or the end expected, found " + Found());
      ++FPos;
      SkipBlanks();
      if (AtEnd()) Fail(u"a protocol expected after \",\"");
    }
    return out;
  }

 private:
  [[noreturn]] void Fail(const Text& aProblem) { throw ELogConnectionsError(aProblem, FPos); }
  [[noreturn]] void FailAt(const Text& aProblem, size_t aPos) { throw ELogConnectionsError(aProblem, aPos); }
  bool AtEnd() const { return FPos >= FText.size(); }
  void SkipBlanks() {
    while (!AtEnd() && IsBlank(FText[FPos])) ++FPos;
  }
  Text Found() const { return AtEnd() ? Text(u"the end") : Quoted(TextView(FText).substr(FPos, 1)); }

  Text Name() {
    size_t start = FPos;
    while (!AtEnd() && IsNameChar(FText[FPos])) ++FPos;
    return FText.substr(start, FPos - start);
  }

  TLogConnection Item() {
    TLogConnection c;
    c.Position = FPos;
    Text protocol = Name();
    if (protocol.empty()) Fail(u"a protocol name expected, found " + Found());
    Text folded = Folded(protocol);
    if (folded == u"pipe") {
      c.Protocol = TLogProtocol::Pipe;
    } else if (folded == u"file") {
      c.Protocol = TLogProtocol::File;
    } else {
      FailAt(u"unknown protocol " + Quoted(protocol) + u" (pipe or file)", c.Position);
    }
    SkipBlanks();
    if (AtEnd() || FText[FPos] != u'(') Fail(u"\"(\" expected after " + Quoted(protocol) + u", found " + Found());
    ++FPos;
    SkipBlanks();
    std::set<Text> seen;
    if (!AtEnd() && FText[FPos] == u')') {
      ++FPos;
    } else {
      for (;;) {
        Option(c, folded, seen);
        SkipBlanks();
        if (AtEnd()) FailAt(u"\")\" missing for " + Quoted(protocol), c.Position);
        if (FText[FPos] == u')') {
          ++FPos;
          break;
        }
        if (FText[FPos] != u',') Fail(u"\",\" or \")\" expected, found " + Found());
        ++FPos;
        SkipBlanks();
      }
    }
    if (c.Protocol == TLogProtocol::File) {
      if (c.FileName.empty()) FailAt(u"\"filename\" missing in \"file\"", c.Position);
      if (!seen.count(u"encrypt") && seen.count(u"key")) c.Encrypt = true;  // a key asks for encryption
      if (c.Encrypt && c.Key.empty()) FailAt(u"\"key\" missing in \"file\" with encrypt=\"true\"", c.Position);
    }
    return c;
  }

  // Reads a value: quoted or bare. aPos gets the offset of its first character.
  Text Value(size_t& aPos) {
    SkipBlanks();
    aPos = FPos;
    if (AtEnd()) Fail(u"a value expected, found the end");
    if (FText[FPos] == u'"') {
      size_t close = FText.find(u'"', FPos + 1);
      if (close == Text::npos) Fail(u"unterminated quoted value");
      Text v = FText.substr(FPos + 1, close - FPos - 1);
      FPos = close + 1;
      return v;
    }
    size_t start = FPos;
    while (!AtEnd() && FText[FPos] != u',' && FText[FPos] != u')') {
      if (FText[FPos] == u'"' || FText[FPos] == u'(') Fail(Quoted(TextView(FText).substr(FPos, 1)) + u" inside an unquoted value");
      ++FPos;
    }
    size_t end = FPos;
    while (end > start && IsBlank(FText[end - 1])) --end;
    if (end == start) Fail(u"a value expected, found " + Found());
    return FText.substr(start, end - start);
  }

  void Option(TLogConnection& c, const Text& aProtocol, std::set<Text>& aSeen) {
    size_t at = FPos;
    Text name = Name();
    if (name.empty()) Fail(u"an option name expected, found " + Found());
    Text key = Folded(name);
    SkipBlanks();
    if (AtEnd() || FText[FPos] != u'=') Fail(u"\"=\" expected after " + Quoted(name) + u", found " + Found());
    ++FPos;
    size_t valueAt = 0;
    Text value = Value(valueAt);
    bool isFile = c.Protocol == TLogProtocol::File;
    auto bad = [&](const Text& aWhat) -> void {
      FailAt(Quoted(name) + u": " + Quoted(value) + u" is not " + aWhat, valueAt);
    };
    if (key == u"async.enabled") {
      if (!Bool(value, c.AsyncEnabled)) bad(u"true or false");
    } else if (key == u"async.queue") {
      if (!Size(value, c.AsyncQueue) || c.AsyncQueue == 0) bad(u"a size above 0 (such as \"10 MB\")");
    } else if (isFile && key == u"filename") {
      c.FileName = value;
    } else if (isFile && key == u"maxparts") {
      std::uint64_t n = 0;
      if (!Number(value, n) || n < 1 || n > kLogMaxPartsMax) bad(u"a number from 1 to " + T(std::to_string(kLogMaxPartsMax)));
      c.MaxParts = static_cast<std::uint32_t>(n);
    } else if (isFile && key == u"maxsize") {
      if (!Size(value, c.MaxSize) || c.MaxSize < kLogMaxSizeMin) bad(u"a size of at least 1 KB (such as \"50 MB\")");
    } else if (isFile && key == u"encrypt") {
      if (!Bool(value, c.Encrypt)) bad(u"true or false");
    } else if (isFile && key == u"key") {
      c.Key = value;
    } else if (!isFile && key == u"reconnect") {
      if (!Bool(value, c.Reconnect)) bad(u"true or false");
    } else if (!isFile && key == u"reconnect.interval") {
      if (!Duration(value, c.ReconnectIntervalMs)) bad(u"a duration (such as \"1s\" or \"500ms\")");
    } else if (!isFile && key == u"pipename") {
      c.PipeName = value;
    } else {
      FailAt(u"unknown option " + Quoted(name) + u" for " + Quoted(aProtocol), at);
    }
    if (!aSeen.insert(key).second) FailAt(u"option " + Quoted(name) + u" given twice", at);
  }

  static bool Bool(const Text& v, bool& aOut) {
    Text f = Folded(v);
    if (f == u"true") aOut = true;
    else if (f == u"false") aOut = false;
    else return false;
    return true;
  }

  // Decimal digits, then (after optional blanks) a unit; the digits' value and the unit.
  static bool NumberAndUnit(const Text& v, std::uint64_t& aNumber, Text& aUnit) {
    size_t i = 0;
    aNumber = 0;
    while (i < v.size() && v[i] >= u'0' && v[i] <= u'9') {
      std::uint64_t d = static_cast<std::uint64_t>(v[i] - u'0');
      if (aNumber > (std::numeric_limits<std::uint64_t>::max() - d) / 10) return false;
      aNumber = aNumber * 10 + d;
      ++i;
    }
    if (i == 0) return false;
    while (i < v.size() && IsBlank(v[i])) ++i;
    aUnit = Folded(TextView(v).substr(i));
    return true;
  }

  static bool Number(const Text& v, std::uint64_t& aOut) {
    Text unit;
    return NumberAndUnit(v, aOut, unit) && unit.empty();
  }

  static bool Size(const Text& v, std::uint64_t& aOut) {
    std::uint64_t n = 0;
    Text unit;
    if (!NumberAndUnit(v, n, unit)) return false;
    std::uint64_t factor = 0;
    if (unit.empty() || unit == u"b" || unit == u"byte" || unit == u"bytes") factor = 1;
    else if (unit == u"kb") factor = 1ull << 10;
    else if (unit == u"mb") factor = 1ull << 20;
    else if (unit == u"gb") factor = 1ull << 30;
    else return false;
    if (n > std::numeric_limits<std::uint64_t>::max() / factor) return false;
    aOut = n * factor;
    return true;
  }

  static bool Duration(const Text& v, std::uint32_t& aOutMs) {
    std::uint64_t n = 0;
    Text unit;
    if (!NumberAndUnit(v, n, unit)) return false;
    std::uint64_t factor = 0;
    if (unit.empty() || unit == u"ms") factor = 1;
    else if (unit == u"s") factor = 1000;
    else if (unit == u"min") factor = 60000;
    else return false;
    if (n > std::numeric_limits<std::uint32_t>::max() / factor) return false;
    aOutMs = static_cast<std::uint32_t>(n * factor);
    return true;
  }

  const Text& FText;
  size_t FPos = 0;
};

}  // namespace

std::vector<TLogConnection> LogConnectionsParse(const Text& aConnections) {
  std::vector<TLogConnection> out = TParser(aConnections).Run();
  // Two outputs on one file would fight over it: the second could never open it.
  std::set<Text> files;
  for (const auto& c : out) {
    if (c.Protocol != TLogProtocol::File) continue;
    if (!files.insert(Folded(c.FileName)).second)
      throw ELogConnectionsError(u"file " + Quoted(c.FileName) + u" named by two outputs", c.Position);
  }
  return out;
}
