#include "rtl/Registry.h"

#include <cstring>

#include "platform/utf.h"

namespace {

constexpr win::REGSAM kViewFlags = win::KEY_WOW64_32KEY | win::KEY_WOW64_64KEY;

Text Trimmed(const Text& aKey) {
  size_t a = 0, b = aKey.size();
  while (a < b && aKey[a] == u'\\') ++a;
  while (b > a && aKey[b - 1] == u'\\') --b;
  return aKey.substr(a, b - a);
}

}  // namespace

Text RootKeyName(win::HKEY aRootKey) {
  const auto v = reinterpret_cast<win::ULONG_PTR>(aRootKey);
  switch (static_cast<std::uint32_t>(v)) {
    case 0x80000000u: return u"HKEY_CLASSES_ROOT";
    case 0x80000001u: return u"HKEY_CURRENT_USER";
    case 0x80000002u: return u"HKEY_LOCAL_MACHINE";
    case 0x80000003u: return u"HKEY_USERS";
    case 0x80000004u: return u"HKEY_PERFORMANCE_DATA";
    case 0x80000005u: return u"HKEY_CURRENT_CONFIG";
    case 0x80000006u: return u"HKEY_DYN_DATA";
    default: return Text();
  }
}

TRegistry::TRegistry() = default;

TRegistry::TRegistry(win::REGSAM aAccess) : FAccess(aAccess) {}

TRegistry::~TRegistry() { CloseKey(); }

void TRegistry::RootKeySet(win::HKEY aRootKey) {
  CloseKey();
  FRootKey = aRootKey;
}

bool TRegistry::CheckResult(win::LSTATUS aStatus) {
  FLastError = static_cast<win::DWORD>(aStatus);
  return aStatus == win::ERROR_SUCCESS;
}

win::HKEY TRegistry::BaseKeyFor(const Text& aKey, Text& aRelative, Text& aFullPath) const {
  bool absolute = !aKey.empty() && aKey[0] == u'\\';
  aRelative = Trimmed(aKey);
  if (absolute || !FCurrentKey) {
    aFullPath = aRelative;
    return FRootKey;
  }
  aFullPath = FCurrentPath.empty() ? aRelative : aRelative.empty() ? FCurrentPath : FCurrentPath + u"\\" + aRelative;
  return FCurrentKey;
}

bool TRegistry::OpenKey(const Text& aKey, bool aCanCreate) {
  Text relative, full;
  win::HKEY base = BaseKeyFor(aKey, relative, full);
  win::HKEY key = nullptr;
  win::LSTATUS status;
  if (aCanCreate)
    status = win::RegCreateKeyExW(base, relative.c_str(), 0, nullptr, win::REG_OPTION_NON_VOLATILE, FAccess, nullptr,
                                  &key, nullptr);
  else
    status = win::RegOpenKeyExW(base, relative.c_str(), 0, FAccess, &key);
  if (!CheckResult(status)) return false;
  CloseKey();
  FCurrentKey = key;
  FCurrentPath = full;
  return true;
}

bool TRegistry::OpenKeyReadOnly(const Text& aKey) {
  win::REGSAM saved = FAccess;
  FAccess = win::KEY_READ | (saved & kViewFlags);
  bool result = OpenKey(aKey, false);
  FAccess = saved;
  return result;
}

void TRegistry::CloseKey() {
  if (FCurrentKey) win::RegCloseKey(FCurrentKey);
  FCurrentKey = nullptr;
  FCurrentPath.clear();
}

bool TRegistry::CreateKey(const Text& aKey) {
  Text relative, full;
  win::HKEY base = BaseKeyFor(aKey, relative, full);
  win::HKEY key = nullptr;
  if (!CheckResult(win::RegCreateKeyExW(base, relative.c_str(), 0, nullptr, win::REG_OPTION_NON_VOLATILE, FAccess,
                                        nullptr, &key, nullptr)))
    return false;
  win::RegCloseKey(key);
  return true;
}

bool TRegistry::KeyExists(const Text& aKey) {
  Text relative, full;
  win::HKEY base = BaseKeyFor(aKey, relative, full);
  win::HKEY key = nullptr;
  // Existence needs no more than the right to read.
  if (!CheckResult(win::RegOpenKeyExW(base, relative.c_str(), 0, win::KEY_READ | (FAccess & kViewFlags), &key)))
    return false;
  win::RegCloseKey(key);
  return true;
}

bool TRegistry::DeleteTree(win::HKEY aParent, const Text& aKey) {
  win::HKEY key = nullptr;
  if (!CheckResult(win::RegOpenKeyExW(aParent, aKey.c_str(), 0,
                                      win::KEY_READ | win::DELETE | (FAccess & kViewFlags), &key)))
    return false;
  // Names first, deletions after: deleting while enumerating would skip keys.
  std::vector<Text> names;
  for (win::DWORD i = 0;; ++i) {
    win::WCHAR name[256];
    win::DWORD n = 256;
    if (win::RegEnumKeyExW(key, i, name, &n, nullptr, nullptr, nullptr, nullptr) != win::ERROR_SUCCESS) break;
    names.emplace_back(name, n);
  }
  bool ok = true;
  for (const Text& n : names) ok = DeleteTree(key, n) && ok;
  win::RegCloseKey(key);
  if (!ok) return false;
  return CheckResult(win::RegDeleteKeyExW(aParent, aKey.c_str(), FAccess & kViewFlags, 0));
}

bool TRegistry::DeleteKey(const Text& aKey) {
  Text relative, full;
  win::HKEY base = BaseKeyFor(aKey, relative, full);
  if (relative.empty()) {
    FLastError = win::ERROR_INVALID_PARAMETER;
    return false;
  }
  return DeleteTree(base, relative);
}

std::vector<Text> TRegistry::GetKeyNames() {
  std::vector<Text> names;
  if (!FCurrentKey) return names;
  for (win::DWORD i = 0;; ++i) {
    win::WCHAR name[256];
    win::DWORD n = 256;
    win::LSTATUS s = win::RegEnumKeyExW(FCurrentKey, i, name, &n, nullptr, nullptr, nullptr, nullptr);
    if (s != win::ERROR_SUCCESS) {
      CheckResult(s == static_cast<win::LSTATUS>(win::ERROR_NO_MORE_ITEMS) ? win::ERROR_SUCCESS : s);
      break;
    }
    names.emplace_back(name, n);
  }
  return names;
}

bool TRegistry::HasSubKeys() { return !GetKeyNames().empty(); }

std::vector<Text> TRegistry::GetValueNames() {
  std::vector<Text> names;
  if (!FCurrentKey) return names;
  for (win::DWORD i = 0;; ++i) {
    // Value names may be up to 16383 characters.
    std::vector<win::WCHAR> name(16384);
    win::DWORD n = static_cast<win::DWORD>(name.size());
    win::LSTATUS s = win::RegEnumValueW(FCurrentKey, i, name.data(), &n, nullptr, nullptr, nullptr, nullptr);
    if (s != win::ERROR_SUCCESS) {
      CheckResult(s == static_cast<win::LSTATUS>(win::ERROR_NO_MORE_ITEMS) ? win::ERROR_SUCCESS : s);
      break;
    }
    names.emplace_back(name.data(), n);
  }
  return names;
}

bool TRegistry::ValueRead(const Text& aName, win::DWORD& aType, std::string& aData) {
  aData.clear();
  aType = win::REG_NONE;
  if (!FCurrentKey) {
    FLastError = win::ERROR_INVALID_HANDLE;
    return false;
  }
  for (int attempt = 0; attempt < 4; ++attempt) {
    win::DWORD size = 0;
    if (!CheckResult(win::RegQueryValueExW(FCurrentKey, aName.c_str(), nullptr, &aType, nullptr, &size))) return false;
    aData.resize(size);
    win::LSTATUS s = win::RegQueryValueExW(FCurrentKey, aName.c_str(), nullptr, &aType,
                                           reinterpret_cast<win::BYTE*>(aData.data()), &size);
    if (s == static_cast<win::LSTATUS>(win::ERROR_MORE_DATA)) continue;  // it grew meanwhile
    if (!CheckResult(s)) return false;
    aData.resize(size);
    return true;
  }
  return CheckResult(win::ERROR_MORE_DATA);
}

bool TRegistry::ValueExists(const Text& aName) {
  win::DWORD type;
  std::string data;
  return ValueRead(aName, type, data);
}

bool TRegistry::GetDataInfo(const Text& aName, TRegDataInfo& aInfo) {
  aInfo = TRegDataInfo();
  win::DWORD type;
  std::string data;
  if (!ValueRead(aName, type, data)) return false;
  switch (type) {
    case win::REG_SZ: aInfo.RegData = TRegDataType::String; break;
    case win::REG_EXPAND_SZ: aInfo.RegData = TRegDataType::ExpandString; break;
    case win::REG_MULTI_SZ: aInfo.RegData = TRegDataType::MultiString; break;
    case win::REG_DWORD: aInfo.RegData = TRegDataType::Integer; break;
    case win::REG_QWORD: aInfo.RegData = TRegDataType::Int64; break;
    case win::REG_BINARY: aInfo.RegData = TRegDataType::Binary; break;
    default: break;
  }
  aInfo.DataSize = static_cast<win::DWORD>(data.size());
  return true;
}

bool TRegistry::DeleteValue(const Text& aName) {
  if (!FCurrentKey) {
    FLastError = win::ERROR_INVALID_HANDLE;
    return false;
  }
  return CheckResult(win::RegDeleteValueW(FCurrentKey, aName.c_str()));
}

namespace {

Text TextOfData(const std::string& aData) {
  Text t(aData.size() / 2, u'\0');
  if (!t.empty()) std::memcpy(t.data(), aData.data(), t.size() * 2);
  size_t zero = t.find(u'\0');
  if (zero != Text::npos) t.resize(zero);
  return t;
}

[[noreturn]] void WrongType(const Text& aName) {
  throw ERegistryException(u"Invalid data type for '" + aName + u"'");
}

}  // namespace

Text TRegistry::ReadString(const Text& aName) {
  win::DWORD type;
  std::string data;
  if (!ValueRead(aName, type, data)) return Text();
  if (type != win::REG_SZ && type != win::REG_EXPAND_SZ) WrongType(aName);
  return TextOfData(data);
}

std::int32_t TRegistry::ReadInteger(const Text& aName) {
  win::DWORD type;
  std::string data;
  if (!ValueRead(aName, type, data)) throw ERegistryException(u"Value '" + aName + u"' not found");
  if (type != win::REG_DWORD || data.size() != 4) WrongType(aName);
  std::int32_t v;
  std::memcpy(&v, data.data(), 4);
  return v;
}

std::int64_t TRegistry::ReadInt64(const Text& aName) {
  win::DWORD type;
  std::string data;
  if (!ValueRead(aName, type, data)) throw ERegistryException(u"Value '" + aName + u"' not found");
  if (type != win::REG_QWORD || data.size() != 8) WrongType(aName);
  std::int64_t v;
  std::memcpy(&v, data.data(), 8);
  return v;
}

std::vector<Text> TRegistry::ReadMultiString(const Text& aName) {
  win::DWORD type;
  std::string data;
  std::vector<Text> out;
  if (!ValueRead(aName, type, data)) return out;
  if (type != win::REG_MULTI_SZ) WrongType(aName);
  Text all(data.size() / 2, u'\0');
  if (!all.empty()) std::memcpy(all.data(), data.data(), all.size() * 2);
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find(u'\0', start);
    if (end == Text::npos) end = all.size();
    if (end == start) break;  // the empty string ends the list
    out.push_back(all.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

std::string TRegistry::ReadBinaryData(const Text& aName) {
  win::DWORD type;
  std::string data;
  if (!ValueRead(aName, type, data)) return std::string();
  if (type != win::REG_BINARY) WrongType(aName);
  return data;
}

void TRegistry::ValueWrite(const Text& aName, win::DWORD aType, const void* aData, win::DWORD aSize) {
  if (!FCurrentKey) {
    FLastError = win::ERROR_INVALID_HANDLE;
    throw ERegistryException(u"Failed to set data for '" + aName + u"'");
  }
  if (!CheckResult(win::RegSetValueExW(FCurrentKey, aName.c_str(), 0, aType, static_cast<const win::BYTE*>(aData),
                                       aSize)))
    throw ERegistryException(u"Failed to set data for '" + aName + u"'");
}

void TRegistry::WriteString(const Text& aName, const Text& aValue) {
  ValueWrite(aName, win::REG_SZ, aValue.c_str(), static_cast<win::DWORD>((aValue.size() + 1) * 2));
}

void TRegistry::WriteExpandString(const Text& aName, const Text& aValue) {
  ValueWrite(aName, win::REG_EXPAND_SZ, aValue.c_str(), static_cast<win::DWORD>((aValue.size() + 1) * 2));
}

void TRegistry::WriteMultiString(const Text& aName, const std::vector<Text>& aValues) {
  Text all;
  for (const Text& v : aValues) {
    // An empty string would end the list early: it cannot be stored.
    if (v.empty() || v.find(u'\0') != Text::npos)
      throw ERegistryException(u"Failed to set data for '" + aName + u"': empty or embedded zero string");
    all += v;
    all += u'\0';
  }
  all += u'\0';
  ValueWrite(aName, win::REG_MULTI_SZ, all.data(), static_cast<win::DWORD>(all.size() * 2));
}

void TRegistry::WriteInteger(const Text& aName, std::int32_t aValue) {
  ValueWrite(aName, win::REG_DWORD, &aValue, 4);
}

void TRegistry::WriteInt64(const Text& aName, std::int64_t aValue) { ValueWrite(aName, win::REG_QWORD, &aValue, 8); }

void TRegistry::WriteBinaryData(const Text& aName, const std::string& aData) {
  ValueWrite(aName, win::REG_BINARY, aData.data(), static_cast<win::DWORD>(aData.size()));
}
