// The registry of the simulated machine: the store, the predefined roots, the 32-bit view
// (Wow6432Node), access checks by integrity level, and the Reg* functions.
#include "platform/sim/registry.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "platform/sim/handles.h"
#include "platform/sim/machine.h"
#include "platform/sim/statefiles.h"
#include "platform/utf.h"
#include "platform/win32api.h"

namespace sim {

namespace {

std::string StorePath(const std::string& aMachine) { return aMachine + "/registry.txt"; }

std::string Hex(const std::string& d) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : d) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

// Lower-case hex pairs -> bytes; nullopt for anything else.
std::optional<std::string> Unhex(const std::string& h) {
  if (h.size() % 2) return std::nullopt;
  auto v = [](char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1; };
  std::string out;
  for (size_t i = 0; i < h.size(); i += 2) {
    int hi = v(h[i]), lo = v(h[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out += static_cast<char>(hi * 16 + lo);
  }
  return out;
}

// A decimal DWORD as the store writes it: digits only, no sign, no leading zero.
std::optional<win::DWORD> DecimalDword(const std::string& t) {
  if (t.empty() || t.size() > 10 || (t.size() > 1 && t[0] == '0')) return std::nullopt;
  unsigned long long v = 0;
  for (char c : t) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + static_cast<unsigned>(c - '0');
  }
  if (v > 0xFFFFFFFFull) return std::nullopt;
  return static_cast<win::DWORD>(v);
}

// UTF-8 that converts to UTF-16 and back unchanged.
std::optional<Text> ExactText(const std::string& u) {
  Text t = Utf8ToText(u);
  if (TextToUtf8(t) != u) return std::nullopt;
  return t;
}

RegStore Load(const std::string& aMachine) {
  const std::string path = StorePath(aMachine);
  return RegistryParse(MachineFileBytesRead(path), path);
}

void Save(const std::string& aMachine, const RegStore& s) {
  FileReplaceAtomically(StorePath(aMachine), RegistryFormat(s));
}

Text ParentOf(const Text& p) {
  size_t i = p.rfind(u'\\');
  return i == Text::npos ? Text() : p.substr(0, i);
}

}  // namespace

std::string RegistryFormat(const RegStore& s) {
  std::ostringstream out;
  for (const auto& k : s.FKeys) {
    out << "K\t" << TableFieldEscape(TextToUtf8(k.Path)) << "\n";
    for (const auto& v : k.Values)
      out << "V\t" << TableFieldEscape(TextToUtf8(k.Path)) << "\t" << TableFieldEscape(TextToUtf8(v.Name)) << "\t"
          << v.Type << "\t" << Hex(v.Data) << "\n";
  }
  out << "E\n";
  return out.str();
}

RegStore RegistryParse(const std::string& aText, const std::string& aWhere) {
  RegStore s;
  size_t lineNo = 0;
  auto damaged = [&](const std::string& why) {
    return MachineError("damaged registry " + aWhere + (lineNo ? " (line " + std::to_string(lineNo) + ")" : "") +
                        ": " + why);
  };
  if (aText.empty()) throw damaged("the file is empty");
  if (aText.back() != '\n') throw damaged("the last line has no line end (the file is cut short)");
  RegKey* current = nullptr;
  bool ended = false;
  size_t pos = 0;
  while (pos < aText.size()) {
    size_t end = aText.find('\n', pos);
    std::string line = aText.substr(pos, end - pos);
    pos = end + 1;
    ++lineNo;
    if (ended) throw damaged("text after the end line");
    auto f = TableFieldsSplit(line);
    if (line == "E") {
      ended = true;
    } else if (f[0] == "K" && f.size() == 2) {
      auto path = ExactText(f[1]);
      if (!path) throw damaged("a key path that is not UTF-8");
      Text u = UpcaseText(*path);
      if (lineNo == 1 && u != u"HKLM") throw damaged("the first key is not HKLM");
      if (u != u"HKLM" && u != u"HKU" && u.rfind(u"HKLM\\", 0) != 0 && u.rfind(u"HKU\\", 0) != 0)
        throw damaged("a key outside HKLM and HKU");
      size_t start = 0;
      for (;;) {
        size_t slash = path->find(u'\\', start);
        size_t len = (slash == Text::npos ? path->size() : slash) - start;
        if (len == 0 || len > 255) throw damaged("a key name that is empty or longer than 255 characters");
        if (slash == Text::npos) break;
        start = slash + 1;
      }
      if (s.Find(*path)) throw damaged("a key listed twice");
      Text parent = ParentOf(*path);
      if (!parent.empty() && !s.Find(parent)) throw damaged("a key before its parent");
      s.FKeys.push_back(RegKey{*path, {}});
      current = &s.FKeys.back();
    } else if (f[0] == "V" && f.size() == 5) {
      if (!current || f[1] != TextToUtf8(current->Path)) throw damaged("a value away from its key");
      auto name = ExactText(f[2]);
      if (!name) throw damaged("a value name that is not UTF-8");
      for (const auto& v : current->Values)
        if (UpcaseText(v.Name) == UpcaseText(*name)) throw damaged("a value listed twice");
      auto type = DecimalDword(f[3]);
      if (!type) throw damaged("a value type that is not a decimal DWORD");
      auto data = Unhex(f[4]);
      if (!data) throw damaged("value data that is not pairs of lower-case hex digits");
      current->Values.push_back({*name, *type, *data});
    } else {
      throw damaged("not a K, V or E line");
    }
  }
  if (!ended) throw damaged("no end line (the file is cut short)");
  if (s.FKeys.empty()) throw damaged("no keys");
  return s;
}

RegKey* RegStore::Find(const Text& aPath) {
  Text u = UpcaseText(aPath);
  for (auto& k : FKeys) {
    if (UpcaseText(k.Path) == u) return &k;
  }
  return nullptr;
}

RegKey& RegStore::Create(const Text& aPath) {
  if (RegKey* k = Find(aPath)) return *k;
  Text parent = ParentOf(aPath);
  if (!parent.empty()) Create(parent);
  FKeys.push_back(RegKey{aPath, {}});
  return FKeys.back();
}

bool RegStore::Remove(const Text& aPath) {
  Text u = UpcaseText(aPath);
  auto it = std::find_if(FKeys.begin(), FKeys.end(), [&](const RegKey& k) { return UpcaseText(k.Path) == u; });
  if (it == FKeys.end()) return false;
  FKeys.erase(it);
  return true;
}

std::vector<Text> RegStore::Subkeys(const Text& aPath) const {
  Text prefix = UpcaseText(aPath) + u"\\";
  std::vector<std::pair<Text, Text>> names;
  for (const auto& k : FKeys) {
    Text u = UpcaseText(k.Path);
    if (u.size() > prefix.size() && u.compare(0, prefix.size(), prefix) == 0 && u.find(u'\\', prefix.size()) == Text::npos)
      names.emplace_back(u.substr(prefix.size()), k.Path.substr(prefix.size()));
  }
  std::sort(names.begin(), names.end());
  std::vector<Text> out;
  for (auto& n : names) out.push_back(n.second);
  return out;
}

void RegistryTransact(const std::string& aMachine, const std::function<bool(RegStore&)>& aChange) {
  MachineLock lock(aMachine);
  RegStore s = Load(aMachine);
  if (aChange(s)) Save(aMachine, s);
}

std::string MultiSzEncode(const std::vector<Text>& aTexts) {
  std::string out;
  auto put = [&](char16_t c) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  };
  for (const auto& t : aTexts) {
    for (char16_t c : t) put(c);
    put(0);
  }
  put(0);
  return out;
}

std::vector<Text> MultiSzDecode(const std::string& aData) {
  std::vector<Text> out;
  Text cur;
  for (size_t i = 0; i + 1 < aData.size(); i += 2) {
    char16_t c = static_cast<char16_t>(static_cast<unsigned char>(aData[i]) | (static_cast<unsigned char>(aData[i + 1]) << 8));
    if (c == 0) {
      if (cur.empty()) break;  // the final empty string
      out.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) out.push_back(cur);
  return out;
}

std::string PendingPairsEncode(const std::vector<Text>& aStrings) {
  std::string out;
  auto put = [&](char16_t c) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  };
  for (const auto& t : aStrings) {
    for (char16_t c : t) put(c);
    put(0);
  }
  put(0);
  return out;
}

std::vector<Text> PendingPairsDecode(const std::string& aData) {
  std::vector<Text> out;
  Text cur;
  for (size_t i = 0; i + 1 < aData.size(); i += 2) {
    char16_t c = static_cast<char16_t>(static_cast<unsigned char>(aData[i]) | (static_cast<unsigned char>(aData[i + 1]) << 8));
    if (c == 0) {
      out.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) out.push_back(cur);
  if (!out.empty() && out.back().empty()) out.pop_back();  // the list's own terminator
  if (out.size() % 2) out.push_back(Text());
  return out;
}

namespace {

bool StartsWithKey(const Text& aUpper, const Text& aPrefixUpper) {
  return aUpper == aPrefixUpper ||
         (aUpper.size() > aPrefixUpper.size() && aUpper.compare(0, aPrefixUpper.size(), aPrefixUpper) == 0 &&
          aUpper[aPrefixUpper.size()] == u'\\');
}

// Applies the 32-bit view to a machine path: SOFTWARE goes to SOFTWARE\Wow6432Node, except
// SOFTWARE\Classes, which is shared but for a few of its keys.
Text ApplyView(const Text& aPath, bool bView32) {
  if (!bView32) return aPath;
  Text u = UpcaseText(aPath);
  const Text software = u"HKLM\\SOFTWARE";
  if (!StartsWithKey(u, software)) return aPath;
  if (u == software) return aPath + u"\\Wow6432Node";  // the key itself is redirected too
  if (StartsWithKey(u, software + u"\\WOW6432NODE")) return aPath;
  const Text classes = software + u"\\CLASSES";
  if (StartsWithKey(u, classes)) {
    if (u == classes) return aPath;
    Text rest = u.substr(classes.size() + 1);
    Text first = rest.substr(0, rest.find(u'\\'));
    for (const Text& k : {Text(u"CLSID"), Text(u"DIRECTSHOW"), Text(u"INTERFACE"), Text(u"MEDIA TYPE"), Text(u"MEDIAFOUNDATION")}) {
      if (first == k) return aPath.substr(0, classes.size()) + u"\\Wow6432Node" + aPath.substr(classes.size());
    }
    return aPath;
  }
  return aPath.substr(0, software.size()) + u"\\Wow6432Node" + aPath.substr(software.size());
}

}  // namespace

// The stored path of a logical one. HKCR merges the user's classes over the machine's:
// a key that exists for the user is the user's.
Text RegistryStoragePath(const RegStore& s, const Text& aLogical, bool bView32) {
  Text u = UpcaseText(aLogical);
  if (StartsWithKey(u, u"HKCR")) {
    Text rest = aLogical.size() > 4 ? aLogical.substr(4) : Text();
    Text user = Text(u"HKU\\") + kUserSid + u"\\Software\\Classes" + rest;
    Text machine = ApplyView(u"HKLM\\SOFTWARE\\Classes" + rest, bView32);
    if (!rest.empty() && const_cast<RegStore&>(s).Find(user)) return user;
    return machine;
  }
  return ApplyView(aLogical, bView32);
}

std::vector<Text> RegistrySubkeys(const RegStore& s, const Text& aLogical, bool bView32) {
  Text storage = RegistryStoragePath(s, aLogical, bView32);
  std::vector<Text> names = s.Subkeys(storage);
  // A 32-bit process sees SOFTWARE\Wow6432Node as SOFTWARE, and the shared Classes in it.
  if (bView32 && UpcaseText(aLogical) == u"HKLM\\SOFTWARE" && const_cast<RegStore&>(s).Find(u"HKLM\\SOFTWARE\\Classes")) {
    auto upper = [](const Text& a, const Text& b) { return UpcaseText(a) < UpcaseText(b); };
    auto at = std::lower_bound(names.begin(), names.end(), Text(u"Classes"), upper);
    if (at == names.end() || UpcaseText(*at) != u"CLASSES") names.insert(at, u"Classes");
  }
  return names;
}

}  // namespace sim

namespace win {

namespace {

using sim::RegKey;
using sim::RegStore;
using sim::StartsWithKey;

// An open key: its logical path (before the view is applied) and how it was opened.
class KeyObject : public sim::KernelObject {
 public:
  Text Logical;  // HKLM\..., HKU\..., HKCR\...
  REGSAM Access = 0;
  bool View32 = false;
};

std::optional<Text> RootName(HKEY h) {
  if (h == HKEY_LOCAL_MACHINE) return Text(u"HKLM");
  if (h == HKEY_USERS) return Text(u"HKU");
  if (h == HKEY_CURRENT_USER) return Text(u"HKU\\") + sim::kUserSid;
  if (h == HKEY_CLASSES_ROOT) return Text(u"HKCR");
  if (h == HKEY_CURRENT_CONFIG) return Text(u"HKLM\\SYSTEM\\CurrentControlSet\\Hardware Profiles\\Current");
  return std::nullopt;
}


struct Caller {
  std::string Machine;
  DWORD Integrity = sim::kIntegrityMedium;
  bool Wow64 = false;
  bool Machine64 = true;
};

std::optional<Caller> CallerGet() {
  const sim::ProcessRecord* p = sim::CurrentProcess();
  if (!p) return std::nullopt;
  Caller c;
  c.Machine = sim::MachineFolderHost();
  c.Integrity = p->Integrity;
  try {
    c.Machine64 = sim::CurrentPathContext().MachineBits == 64;
    c.Wow64 = p->Bits == 32 && c.Machine64;
  } catch (const sim::MachineError&) {
    return std::nullopt;
  }
  return c;
}

bool View32For(const Caller& c, REGSAM sam) {
  if (!c.Machine64) return false;  // 32-bit Windows has one view and ignores the flags
  if (sam & KEY_WOW64_64KEY) return false;
  if (sam & KEY_WOW64_32KEY) return true;
  return c.Wow64;
}


bool MachineWide(const Text& aStorage) {
  Text u = sim::UpcaseText(aStorage);
  if (StartsWithKey(u, u"HKLM")) return true;
  if (StartsWithKey(u, u"HKU")) return !StartsWithKey(u, sim::UpcaseText(Text(u"HKU\\") + sim::kUserSid)) &&
                                       !StartsWithKey(u, sim::UpcaseText(Text(u"HKU\\") + sim::kUserSid + u"_Classes"));
  return false;
}

bool WantsWrite(REGSAM sam) {
  return (sam & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE | WRITE_DAC | WRITE_OWNER |
                 GENERIC_WRITE | GENERIC_ALL)) != 0;
}

// Machine-wide keys grant users read access only.
bool AccessAllowed(const Caller& c, const Text& aStorage, REGSAM sam) {
  return !(WantsWrite(sam) && c.Integrity < sim::kIntegrityHigh && MachineWide(aStorage));
}

// The logical path of hKey + lpSubKey; nullopt for a bad handle.
std::optional<std::pair<Text, std::shared_ptr<KeyObject>>> Locate(HKEY hKey, LPCWSTR lpSubKey) {
  Text base;
  std::shared_ptr<KeyObject> obj;
  if (auto root = RootName(hKey)) {
    base = *root;
  } else {
    obj = sim::HandleGetAs<KeyObject>(hKey);
    if (!obj) return std::nullopt;
    base = obj->Logical;
  }
  Text sub = lpSubKey ? Text(lpSubKey) : Text();
  while (!sub.empty() && sub.front() == u'\\') sub.erase(0, 1);
  while (!sub.empty() && sub.back() == u'\\') sub.pop_back();
  return std::make_pair(sub.empty() ? base : base + u"\\" + sub, obj);
}

bool IsRootLogical(const Text& aLogical) {
  Text u = sim::UpcaseText(aLogical);
  return u == u"HKLM" || u == u"HKU" || u == u"HKCR";
}

LSTATUS OpenOrCreate(HKEY hKey, LPCWSTR lpSubKey, REGSAM sam, HKEY* phkResult, DWORD* disposition, bool bCreate) {
  if (!phkResult) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  auto caller = CallerGet();
  if (!caller) return 21;  // ERROR_NOT_READY
  auto located = Locate(hKey, lpSubKey);
  if (!located) return ERROR_INVALID_HANDLE;
  bool view32 = View32For(*caller, sam);
  if (located->second && !(sam & (KEY_WOW64_32KEY | KEY_WOW64_64KEY))) view32 = located->second->View32;
  Text logical = located->first;
  LSTATUS status = ERROR_SUCCESS;
  try {
    sim::RegistryTransact(caller->Machine, [&](RegStore& s) {
      Text storage = sim::RegistryStoragePath(s, logical, view32);
      bool exists = IsRootLogical(logical) || s.Find(storage) != nullptr;
      if (!exists && !bCreate) {
        status = ERROR_FILE_NOT_FOUND;
        return false;
      }
      if (!AccessAllowed(*caller, storage, sam | (exists ? 0 : KEY_CREATE_SUB_KEY))) {
        status = ERROR_ACCESS_DENIED;
        return false;
      }
      if (disposition) *disposition = exists ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
      if (!exists) s.Create(storage);
      return !exists;
    });
  } catch (const sim::MachineError&) {
    return ERROR_GEN_FAILURE;
  }
  if (status != ERROR_SUCCESS) return status;
  auto obj = std::make_shared<KeyObject>();
  obj->Logical = logical;
  obj->Access = sam;
  obj->View32 = view32;
  *phkResult = sim::HandleInsert(obj);
  return ERROR_SUCCESS;
}

// Runs aWork on the key an open handle stands for.
template <class F>
LSTATUS OnKey(HKEY hKey, REGSAM aNeeded, bool bChanges, F aWork) {
  auto caller = CallerGet();
  if (!caller) return 21;
  auto located = Locate(hKey, nullptr);
  if (!located) return ERROR_INVALID_HANDLE;
  auto obj = located->second;
  bool view32 = obj ? obj->View32 : caller->Wow64;
  if (obj && (obj->Access & aNeeded) != aNeeded && !(obj->Access & (GENERIC_ALL))) return ERROR_ACCESS_DENIED;
  LSTATUS status = ERROR_SUCCESS;
  try {
    sim::RegistryTransact(caller->Machine, [&](RegStore& s) {
      Text storage = sim::RegistryStoragePath(s, located->first, view32);
      if (!obj && bChanges && !AccessAllowed(*caller, storage, aNeeded)) {
        status = ERROR_ACCESS_DENIED;
        return false;
      }
      RegKey* k = s.Find(storage);
      if (!k) {
        if (!IsRootLogical(located->first)) {
          status = ERROR_KEY_DELETED;
          return false;
        }
        k = &s.Create(storage);
      }
      status = aWork(s, *k);
      return bChanges && status == ERROR_SUCCESS;
    });
  } catch (const sim::MachineError&) {
    return ERROR_GEN_FAILURE;
  }
  return status;
}

}  // namespace

LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM samDesired, HKEY* phkResult) {
  return OpenOrCreate(hKey, lpSubKey, samDesired, phkResult, nullptr, false);
}

LSTATUS RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR, DWORD, REGSAM samDesired, LPSECURITY_ATTRIBUTES,
                        HKEY* phkResult, DWORD* lpdwDisposition) {
  if (!lpSubKey) return ERROR_INVALID_PARAMETER;
  return OpenOrCreate(hKey, lpSubKey, samDesired, phkResult, lpdwDisposition, true);
}

LSTATUS RegCloseKey(HKEY hKey) {
  if (RootName(hKey)) return ERROR_SUCCESS;
  if (!sim::HandleGetAs<KeyObject>(hKey)) return ERROR_INVALID_HANDLE;
  sim::HandleClose(hKey);
  return ERROR_SUCCESS;
}

LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD*, DWORD* lpType, BYTE* lpData, DWORD* lpcbData) {
  if (lpData && !lpcbData) return ERROR_INVALID_PARAMETER;
  Text name = lpValueName ? Text(lpValueName) : Text();
  return OnKey(hKey, KEY_QUERY_VALUE, false, [&](RegStore&, RegKey& k) -> LSTATUS {
    for (const auto& v : k.Values) {
      if (sim::UpcaseText(v.Name) != sim::UpcaseText(name)) continue;
      if (lpType) *lpType = v.Type;
      if (!lpcbData) return ERROR_SUCCESS;
      DWORD size = static_cast<DWORD>(v.Data.size());
      if (lpData && *lpcbData < size) {
        *lpcbData = size;
        return ERROR_MORE_DATA;
      }
      if (lpData) std::memcpy(lpData, v.Data.data(), size);
      *lpcbData = size;
      return ERROR_SUCCESS;
    }
    return ERROR_FILE_NOT_FOUND;
  });
}

LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData, DWORD cbData) {
  if (!lpData && cbData) return ERROR_INVALID_PARAMETER;
  Text name = lpValueName ? Text(lpValueName) : Text();
  std::string data(reinterpret_cast<const char*>(lpData), lpData ? cbData : 0);
  return OnKey(hKey, KEY_SET_VALUE, true, [&](RegStore&, RegKey& k) -> LSTATUS {
    for (auto& v : k.Values) {
      if (sim::UpcaseText(v.Name) == sim::UpcaseText(name)) {
        v.Type = dwType;
        v.Data = data;
        return ERROR_SUCCESS;
      }
    }
    k.Values.push_back({name, dwType, data});
    return ERROR_SUCCESS;
  });
}

LSTATUS RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
  Text name = lpValueName ? Text(lpValueName) : Text();
  return OnKey(hKey, KEY_SET_VALUE, true, [&](RegStore&, RegKey& k) -> LSTATUS {
    auto it = std::find_if(k.Values.begin(), k.Values.end(),
                           [&](const sim::RegValue& v) { return sim::UpcaseText(v.Name) == sim::UpcaseText(name); });
    if (it == k.Values.end()) return ERROR_FILE_NOT_FOUND;
    k.Values.erase(it);
    return ERROR_SUCCESS;
  });
}

LSTATUS RegDeleteKeyExW(HKEY hKey, LPCWSTR lpSubKey, REGSAM samDesired, DWORD) {
  if (!lpSubKey || !*lpSubKey) return ERROR_INVALID_PARAMETER;  // never the key itself
  auto caller = CallerGet();
  if (!caller) return 21;
  auto located = Locate(hKey, lpSubKey);
  if (!located) return ERROR_INVALID_HANDLE;
  bool view32 = View32For(*caller, samDesired);
  LSTATUS status = ERROR_SUCCESS;
  try {
    sim::RegistryTransact(caller->Machine, [&](RegStore& s) {
      Text storage = sim::RegistryStoragePath(s, located->first, view32);
      if (!s.Find(storage)) {
        status = ERROR_FILE_NOT_FOUND;
        return false;
      }
      if (!AccessAllowed(*caller, storage, DELETE)) {
        status = ERROR_ACCESS_DENIED;
        return false;
      }
      if (!s.Subkeys(storage).empty()) {
        status = ERROR_ACCESS_DENIED;  // a key with subkeys is not deleted
        return false;
      }
      s.Remove(storage);
      return true;
    });
  } catch (const sim::MachineError&) {
    return ERROR_GEN_FAILURE;
  }
  return status;
}

LSTATUS RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, DWORD* lpcchName, DWORD*, LPWSTR, DWORD*, FILETIME* ft) {
  if (!lpName || !lpcchName) return ERROR_INVALID_PARAMETER;
  // The view the key was opened in, as OnKey takes it.
  auto located = Locate(hKey, nullptr);
  auto caller = CallerGet();
  bool view32 = located && located->second ? located->second->View32 : caller && caller->Wow64;
  return OnKey(hKey, KEY_ENUMERATE_SUB_KEYS, false, [&](RegStore& s, RegKey& k) -> LSTATUS {
    auto names = located ? sim::RegistrySubkeys(s, located->first, view32) : s.Subkeys(k.Path);
    if (dwIndex >= names.size()) return ERROR_NO_MORE_ITEMS;
    const Text& n = names[dwIndex];
    if (*lpcchName < n.size() + 1) return ERROR_MORE_DATA;
    std::memcpy(lpName, n.c_str(), (n.size() + 1) * sizeof(WCHAR));
    *lpcchName = static_cast<DWORD>(n.size());
    if (ft) *ft = FILETIME{0, 0};
    return ERROR_SUCCESS;
  });
}

LSTATUS RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, DWORD* lpcchValueName, DWORD*, DWORD* lpType,
                      BYTE* lpData, DWORD* lpcbData) {
  if (!lpValueName || !lpcchValueName) return ERROR_INVALID_PARAMETER;
  return OnKey(hKey, KEY_QUERY_VALUE, false, [&](RegStore&, RegKey& k) -> LSTATUS {
    if (dwIndex >= k.Values.size()) return ERROR_NO_MORE_ITEMS;
    const auto& v = k.Values[dwIndex];
    if (*lpcchValueName < v.Name.size() + 1) return ERROR_MORE_DATA;
    std::memcpy(lpValueName, v.Name.c_str(), (v.Name.size() + 1) * sizeof(WCHAR));
    *lpcchValueName = static_cast<DWORD>(v.Name.size());
    if (lpType) *lpType = v.Type;
    if (lpcbData) {
      DWORD size = static_cast<DWORD>(v.Data.size());
      if (lpData && *lpcbData < size) {
        *lpcbData = size;
        return ERROR_MORE_DATA;
      }
      if (lpData) std::memcpy(lpData, v.Data.data(), size);
      *lpcbData = size;
    }
    return ERROR_SUCCESS;
  });
}

LSTATUS RegFlushKey(HKEY hKey) {
  // Every change is already in the machine folder when its call returns.
  return OnKey(hKey, 0, false, [](RegStore&, RegKey&) -> LSTATUS { return ERROR_SUCCESS; });
}

}  // namespace win
