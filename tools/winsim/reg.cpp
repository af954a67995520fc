// winsim reg and reg-set. The machine's registry store is read and written directly, under
// the machine's lock, with the view and the merged HKEY_CLASSES_ROOT applied as the
// simulated Reg* functions apply them.
#include "reg.h"

#include <cctype>
#include <cstdint>
#include <cstring>
#include <optional>
#include <stdexcept>

#include "platform/sim/machine.h"
#include "platform/sim/registry.h"
#include "platform/utf.h"
#include "platform/win32api.h"

namespace winsimreg {

namespace {

struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};


// KEY with its root in short or long form -> the logical path (HKLM\..., HKU\..., HKCR\...).
Text Logical(const std::string& aKey) {
  Text key = Utf8ToText(aKey);
  while (!key.empty() && key.back() == u'\\') key.pop_back();
  size_t slash = key.find(u'\\');
  Text root = sim::UpcaseText(key.substr(0, slash));
  Text rest = slash == Text::npos ? Text() : key.substr(slash);  // with its leading backslash
  if (rest.find(u"\\\\") != Text::npos) throw Failure("empty key name in " + aKey);
  for (size_t start = 1; start < rest.size();) {
    size_t next = rest.find(u'\\', start);
    if (next == Text::npos) next = rest.size();
    if (next - start > 255) throw Failure("a key name has 255 characters at most: " + aKey);
    start = next + 1;
  }
  if (root == u"HKLM" || root == u"HKEY_LOCAL_MACHINE") return u"HKLM" + rest;
  if (root == u"HKCU" || root == u"HKEY_CURRENT_USER") return Text(u"HKU\\") + sim::kUserSid + rest;
  if (root == u"HKU" || root == u"HKEY_USERS") return u"HKU" + rest;
  if (root == u"HKCR" || root == u"HKEY_CLASSES_ROOT") return u"HKCR" + rest;
  if (root == u"HKCC" || root == u"HKEY_CURRENT_CONFIG")
    return u"HKLM\\SYSTEM\\CurrentControlSet\\Hardware Profiles\\Current" + rest;
  throw Failure("KEY begins with a root: HKLM, HKCU, HKCR, HKU, HKCC or their long names, not: " + aKey);
}


bool View32(int aView, const std::string& aMachine) {
  if (aView != 64 && aView != 32) throw Failure("--view is 64 or 32");
  return aView == 32 && sim::MachineConfigRead(aMachine).Bits == 64;  // 32-bit Windows has one view
}

std::string TypeName(win::DWORD aType) {
  switch (aType) {
    case win::REG_NONE: return "REG_NONE";
    case win::REG_SZ: return "REG_SZ";
    case win::REG_EXPAND_SZ: return "REG_EXPAND_SZ";
    case win::REG_BINARY: return "REG_BINARY";
    case win::REG_DWORD: return "REG_DWORD";
    case win::REG_MULTI_SZ: return "REG_MULTI_SZ";
    case win::REG_QWORD: return "REG_QWORD";
    default: return "REG_" + std::to_string(aType);
  }
}

Text TextOf(const std::string& aData) {
  Text t(aData.size() / 2, u'\0');
  if (!t.empty()) std::memcpy(t.data(), aData.data(), t.size() * 2);
  while (!t.empty() && t.back() == 0) t.pop_back();
  return t;
}

std::string Hex(const std::string& aData) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : aData) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

// The value's printed fields after NAME and TYPE: a REG_MULTI_SZ gives one field per string.
std::vector<std::string> ValueFields(const sim::RegValue& aValue) {
  const std::string& d = aValue.Data;
  switch (aValue.Type) {
    case win::REG_SZ:
    case win::REG_EXPAND_SZ: return {TextToUtf8(TextOf(d))};
    case win::REG_MULTI_SZ: {
      std::vector<std::string> out;
      for (const Text& t : sim::MultiSzDecode(d)) out.push_back(TextToUtf8(t));
      return out;
    }
    case win::REG_DWORD:
      if (d.size() == 4) {
        std::uint32_t v;
        std::memcpy(&v, d.data(), 4);
        return {std::to_string(v)};
      }
      break;
    case win::REG_QWORD:
      if (d.size() == 8) {
        std::uint64_t v;
        std::memcpy(&v, d.data(), 8);
        return {std::to_string(v)};
      }
      break;
    default: break;
  }
  return {Hex(d)};
}

std::string TextData(const Text& aText) {
  std::string d((aText.size() + 1) * 2, '\0');
  std::memcpy(d.data(), aText.data(), aText.size() * 2);
  return d;
}

std::uint64_t Number(const std::string& aText, std::uint64_t aMax, const std::string& aAssignment) {
  try {
    size_t used = 0;
    // Decimal, or hex after 0x; a leading zero is not octal.
    bool hex = aText.size() > 2 && aText[0] == '0' && (aText[1] == 'x' || aText[1] == 'X');
    std::string digits = hex ? aText.substr(2) : aText;
    if (digits.empty() || !std::isxdigit(static_cast<unsigned char>(digits[0])) ||
        digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") != std::string::npos)
      throw std::invalid_argument("digits");
    unsigned long long v = std::stoull(digits, &used, hex ? 16 : 10);
    used += hex ? 2 : 0;
    if (used != aText.size() || v > aMax) throw std::out_of_range("range");
    return v;
  } catch (const std::exception&) {
    throw Failure("not a number in range (decimal or 0x hex): " + aAssignment);
  }
}

sim::RegValue Parse(const std::string& aAssignment) {
  size_t eq = aAssignment.find('=');
  size_t colon = eq == std::string::npos ? std::string::npos : aAssignment.find(':', eq);
  if (colon == std::string::npos) throw Failure("a value is NAME=TYPE:VALUE, not: " + aAssignment);
  sim::RegValue v;
  v.Name = Utf8ToText(aAssignment.substr(0, eq));
  std::string type = aAssignment.substr(eq + 1, colon - eq - 1);
  std::string value = aAssignment.substr(colon + 1);
  if (type == "REG_SZ" || type == "REG_EXPAND_SZ") {
    v.Type = type == "REG_SZ" ? win::REG_SZ : win::REG_EXPAND_SZ;
    v.Data = TextData(Utf8ToText(value));
  } else if (type == "REG_MULTI_SZ") {
    // The strings are separated by '|'; an empty string cannot be stored (it ends the list).
    std::vector<Text> parts;
    size_t start = 0;
    while (!value.empty()) {
      size_t bar = value.find('|', start);
      std::string part = value.substr(start, bar == std::string::npos ? std::string::npos : bar - start);
      if (part.empty()) throw Failure("empty string in REG_MULTI_SZ: " + aAssignment);
      parts.push_back(Utf8ToText(part));
      if (bar == std::string::npos) break;
      start = bar + 1;
    }
    v.Type = win::REG_MULTI_SZ;
    v.Data = sim::MultiSzEncode(parts);
  } else if (type == "REG_DWORD") {
    auto n = static_cast<std::uint32_t>(Number(value, 0xFFFFFFFFull, aAssignment));
    v.Type = win::REG_DWORD;
    v.Data.assign(4, '\0');
    std::memcpy(v.Data.data(), &n, 4);
  } else if (type == "REG_QWORD") {
    std::uint64_t n = Number(value, ~0ull, aAssignment);
    v.Type = win::REG_QWORD;
    v.Data.assign(8, '\0');
    std::memcpy(v.Data.data(), &n, 8);
  } else if (type == "REG_BINARY") {
    if (value.size() % 2) throw Failure("REG_BINARY is pairs of hex digits: " + aAssignment);
    for (size_t i = 0; i < value.size(); i += 2) {
      auto nibble = [&](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        throw Failure("REG_BINARY is pairs of hex digits: " + aAssignment);
      };
      v.Data += static_cast<char>(nibble(value[i]) * 16 + nibble(value[i + 1]));
    }
    v.Type = win::REG_BINARY;
  } else {
    throw Failure("TYPE is one of REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD, REG_BINARY: " +
                  aAssignment);
  }
  return v;
}

}  // namespace

void RegPrint(const std::string& aMachine, const std::string& aKey, int aView, std::ostream& out) {
  const bool view32 = View32(aView, aMachine);
  const Text logical = Logical(aKey);
  std::optional<sim::RegKey> key;
  std::vector<Text> subkeys;
  sim::RegistryTransact(aMachine, [&](sim::RegStore& s) {
    Text storage = sim::RegistryStoragePath(s, logical, view32);
    if (sim::RegKey* k = s.Find(storage)) {
      key = *k;
      subkeys = sim::RegistrySubkeys(s, logical, view32);
    }
    return false;
  });
  if (!key) throw Failure("no such key in the machine: " + aKey);
  for (const sim::RegValue& v : key->Values) {
    out << sim::TableFieldEscape(TextToUtf8(v.Name)) << '\t' << TypeName(v.Type);
    for (const std::string& f : ValueFields(v)) out << '\t' << sim::TableFieldEscape(f);
    out << '\n';
  }
  for (const Text& k : subkeys) out << sim::TableFieldEscape(TextToUtf8(k)) << "\\\n";
}

void RegSet(const std::string& aMachine, const std::string& aKey, const std::vector<std::string>& aAssignments,
            int aView) {
  const bool view32 = View32(aView, aMachine);
  const Text logical = Logical(aKey);
  if (logical == u"HKLM" || logical == u"HKU" || logical == u"HKCR") throw Failure("KEY names a key below its root");
  std::vector<sim::RegValue> values;
  for (const std::string& a : aAssignments) values.push_back(Parse(a));
  sim::RegistryTransact(aMachine, [&](sim::RegStore& s) {
    sim::RegKey& k = s.Create(sim::RegistryStoragePath(s, logical, view32));
    for (const sim::RegValue& v : values) {
      auto it = k.Values.begin();
      while (it != k.Values.end() && sim::UpcaseText(it->Name) != sim::UpcaseText(v.Name)) ++it;
      if (it == k.Values.end())
        k.Values.push_back(v);
      else
        *it = v;
    }
    return true;
  });
}

}  // namespace winsimreg
