#include "crashreport/SymbolNames.h"

#include <cxxabi.h>

#include <cstdlib>
#include <vector>

#include "platform/utf.h"

namespace {

std::string Demangled(const char* aName) {
  int status = 0;
  char* d = abi::__cxa_demangle(aName, nullptr, nullptr, &status);
  if (status != 0 || !d) return aName;
  std::string out = d;
  std::free(d);
  return out;
}

bool IsIdentChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Index after the bracket group that opens at aAt ("(...)", "<...>", "{...}", "[...]").
std::size_t GroupEnd(const std::string& s, std::size_t aAt) {
  int depth = 0;
  for (std::size_t j = aAt; j < s.size(); ++j) {
    char c = s[j];
    if (c == '(' || c == '<' || c == '{' || c == '[')
      ++depth;
    else if ((c == ')' || c == '>' || c == '}' || c == ']') && --depth == 0)
      return j + 1;
  }
  return s.size();
}

bool StartsAt(const std::string& s, std::size_t i, const char* aWord) {
  return s.compare(i, std::char_traits<char>::length(aWord), aWord) == 0;
}

// The scope parts of a demangled name ("ns", "TClass", "Method"), without a return type in
// front and without the routine's argument list and qualifiers behind.
std::vector<std::string> ScopeParts(const std::string& s) {
  std::vector<std::string> parts;
  std::string cur;
  std::size_t i = 0, n = s.size();
  while (i < n) {
    char c = s[i];
    if (StartsAt(s, i, "operator") && (i == 0 || !IsIdentChar(s[i - 1])) && (i + 8 >= n || !IsIdentChar(s[i + 8]))) {
      std::size_t j = i + 8;
      if (StartsAt(s, j, "()"))
        j += 2;
      else
        while (j < n && s[j] != '(') ++j;
      cur.append(s, i, j - i);
      i = j;
      continue;
    }
    if (c == '(') {
      std::size_t j = GroupEnd(s, i);
      if (cur.empty()) {  // "(anonymous namespace)"
        cur.append(s, i, j - i);
        i = j;
        continue;
      }
      // An argument list: the routine's own, or that of a routine holding a local entity
      // ("Run()::{lambda()#1}"), which "::" follows after any qualifiers.
      std::size_t k = j;
      for (;;) {
        while (k < n && s[k] == ' ') ++k;
        if (StartsAt(s, k, "const") || StartsAt(s, k, "volatile"))
          k += StartsAt(s, k, "const") ? 5 : 8;
        else if (k < n && s[k] == '&')
          ++k;
        else
          break;
      }
      if (StartsAt(s, k, "::")) {
        i = k;
        continue;
      }
      break;
    }
    if (c == '<' || c == '{' || c == '[') {
      std::size_t j = GroupEnd(s, i);
      cur.append(s, i, j - i);
      i = j;
      continue;
    }
    if (c == ':' && i + 1 < n && s[i + 1] == ':') {
      parts.push_back(cur);
      cur.clear();
      i += 2;
      continue;
    }
    if (c == ' ') {  // what came before was a return type
      parts.clear();
      cur.clear();
      ++i;
      continue;
    }
    cur += c;
    ++i;
  }
  if (!cur.empty()) parts.push_back(cur);
  for (std::string& p : parts)
    if (StartsAt(p, 0, "{lambda")) p = "{lambda}";
  // A lambda's body is its closure's call operator: the lambda says it all.
  if (parts.size() >= 2 && parts.back() == "operator()" && parts[parts.size() - 2] == "{lambda}") parts.pop_back();
  return parts;
}

// Namespaces are written in lower case here and in the libraries we meet (std, win, sim);
// classes are not (TThreadEx, EDebugStop). A symbol alone cannot tell the two apart.
bool IsNamespaceLike(const std::string& aPart) {
  if (aPart == "(anonymous namespace)") return true;
  if (aPart.empty()) return true;
  for (char c : aPart)
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')) return false;
  return true;
}

}  // namespace

Text RoutineNameOfSymbol(const std::string& aSymbol) {
  if (aSymbol.empty()) return Text();
  std::string name = StartsAt(aSymbol, 0, "_Z") ? Demangled(aSymbol.c_str()) : aSymbol;
  std::vector<std::string> parts = ScopeParts(name);
  if (parts.empty()) return Utf8ToText(name);
  std::string out = parts.back();
  bool lambda = out == "{lambda}";
  for (std::size_t i = parts.size() - 1; i-- > 0;) {
    if (!lambda && IsNamespaceLike(parts[i])) break;
    lambda = parts[i] == "{lambda}";
    out = parts[i] + "." + out;
  }
  return Utf8ToText(out);
}

Text ClassNameOfType(const std::type_info& aType) {
  std::string name = Demangled(aType.name());
  std::vector<std::string> parts = ScopeParts(name);
  return Utf8ToText(parts.empty() ? name : parts.back());
}
