#include "winsys/uRegistry.h"

#include "diag/uDebug.h"
#include "diag/uMisc.h"
#include "platform/utf.h"

TRegistryDriverWriteHandler RegistryDriverWriteHandler;

namespace {

bool SameName(const Text& a, const Text& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i], y = b[i];
    if (x >= u'a' && x <= u'z') x = static_cast<char16_t>(x - 32);
    if (y >= u'a' && y <= u'z') y = static_cast<char16_t>(y - 32);
    if (x != y) return false;
  }
  return true;
}

// aPath has aPrefix's parts at its start (aAllowSame: or is aPrefix).
bool StartsWithParts(const TPath& aPath, const std::vector<Text>& aPrefix, bool aAllowSame) {
  int n = static_cast<int>(aPrefix.size());
  if (aPath.Count < n || (!aAllowSame && aPath.Count == n)) return false;
  for (int i = 0; i < n; ++i)
    if (!SameName(aPath.PartGet(i), aPrefix[static_cast<size_t>(i)])) return false;
  return true;
}

}  // namespace

TRegistryFor64OS::TRegistryFor64OS(win::REGSAM aAccess, bool aForce32bit)
    : TRegistry(aForce32bit ? aAccess : aAccess | win::KEY_WOW64_64KEY), Force32Bit(aForce32bit) {}

Text TRegistryFor64OS::KeyFromRoot(const Text& aKey) const {
  Text relative, full;
  BaseKeyFor(aKey, relative, full);
  return full;
}

bool TRegistryFor64OS::WriteString(const Text& aName, const Text& aValue) {
  bool result = true;
  try {
    if (WriteViaDriverPossible())
      result = WriteViaDriver(TPath(CurrentPath()), aName, Variant(aValue));
    else
      TRegistry::WriteString(aName, aValue);
  } catch (...) {
    result = false;
  }
  LogIgnoreError(u"Value - Write string: \"" + aName + u"\" = \"" + aValue + u"\"");
  return result;
}

bool TRegistryFor64OS::WriteInteger(const Text& aName, std::int32_t aValue) {
  bool result = true;
  try {
    if (WriteViaDriverPossible())
      result = WriteViaDriver(TPath(CurrentPath()), aName, Variant(aValue));
    else
      TRegistry::WriteInteger(aName, aValue);
  } catch (...) {
    result = false;
  }
  LogIgnoreError(u"Value - Write integer: \"" + aName + u"\" = \"" + T(std::to_string(aValue)) + u"\"");
  return result;
}

bool TRegistryFor64OS::OpenKey(const Text& aKey, bool aCanCreate) {
  if (aCanCreate && WriteViaDriverPossible()) {
    if (OpenExistingTry(aKey)) return true;
    // The handler creates keys given an empty name and no value. The key is named from the
    // root from here on: a relative name would be taken relative to another key otherwise.
    Text fromRoot = u"\\" + KeyFromRoot(aKey);
    if (!WriteViaDriver(TPath(fromRoot.substr(1)), Text(), Variant())) return false;
    return OpenExistingTry(fromRoot);
  }
  bool result = TRegistry::OpenKey(aKey, aCanCreate);
  Log(u"Key - Open: \"" + KeyToLogString(aKey) + u"\" Can create:" + (aCanCreate ? u"True" : u"False"), false);
  return result;
}

bool TRegistryFor64OS::OpenExistingTry(const Text& aKey) {
  bool result = TRegistry::OpenKey(aKey, false);
  LogIgnoreError(u"Key - Open Existing Try: \"" + KeyToLogString(aKey) + u"\"");
  return result;
}

bool TRegistryFor64OS::KeyDeleteTree(const Text& aKey) {
  if (!Verify(!aKey.empty())) return false;
  // Named from the root throughout: the probe below makes aKey the current key.
  Text fromRoot = u"\\" + KeyFromRoot(aKey);
  if (fromRoot == u"\\") {
    LastErrorSet(win::ERROR_INVALID_PARAMETER);
    return false;
  }
  if (!OpenExistingTry(fromRoot)) return true;
  CloseKey();
  if (TRegistry::DeleteKey(fromRoot)) return true;
  AlertIfUsed();
  if (OpenKey(fromRoot, false) && HasSubKeys()) {
    for (const Text& name : GetValueNames()) DeleteValue(name);
    for (const Text& name : GetKeyNames()) KeyDeleteTree(fromRoot + u"\\" + name);
    return true;
  }
  return false;
}

bool TRegistryFor64OS::KeyPermissionsSetAdminFullAccess(const Text& aKey) {
  AlertIfUsed();
  return false;
}

bool TRegistryFor64OS::KeyOwnerSetToAdministratorsGroup(const Text& aKey) {
  AlertIfUsed();
  return false;
}

void TRegistryFor64OS::Log(const Text& aString, bool aDoNotReportError) {
  Text line = aString + u" (" + WindowsErrorText(LastError()) + u")";
  DebugLog(u"[Registry] " + line);
  if (LastError() != 0 && !aDoNotReportError) Alert(u"Registry operation failed: " + line);
}

void TRegistryFor64OS::LogIgnoreError(const Text& aString) { Log(aString, true); }

Text TRegistryFor64OS::KeyToLogString(const Text& aKey) const { return RootKeyName(RootKey()) + u"\\" + aKey; }

TPath TRegistryFor64OS::PathToNtPath(const TPath& aPath) const {
  TPath result(u"\\Registry");
  if (RootKey() == win::HKEY_LOCAL_MACHINE) {
    result.Add(TPath(u"Machine"));
  } else if (RootKey() == win::HKEY_CLASSES_ROOT) {
    result.Add(TPath(u"Machine\\SOFTWARE\\Classes"));
  } else {
    Alert(Text());
  }
  result.Add(aPath);
  const std::vector<Text> software = {u"Registry", u"Machine", u"SOFTWARE"};
  const std::vector<Text> classes = {u"Registry", u"Machine", u"SOFTWARE", u"Classes"};
  const std::vector<Text> clsid = {u"Registry", u"Machine", u"SOFTWARE", u"Classes", u"CLSID"};
  if (Force32Bit && WindowsIs64Bit() && StartsWithParts(result, software, false) &&
      // A path already in the 32-bit part stays as it is.
      !SameName(result.PartGet(3), u"Wow6432Node") &&
      (StartsWithParts(result, clsid, true) || !StartsWithParts(result, classes, true)))
    result.Insert(3, u"Wow6432Node");
  result.TrailingSeparatorSet(false);
  return result;
}

bool TRegistryFor64OS::WriteViaDriverPossible() const {
  return static_cast<bool>(RegistryDriverWriteHandler) &&
         (RootKey() == win::HKEY_CLASSES_ROOT || RootKey() == win::HKEY_LOCAL_MACHINE);
}

bool TRegistryFor64OS::WriteViaDriver(const TPath& aWin32Path, const Text& aName, const Variant& aValue) {
  // A key path relative to the root is expected, not an NT path; writing elsewhere than the
  // caller meant is worse than not writing.
  if (!Verify(aWin32Path.IsNotEmpty() && !SameName(aWin32Path.First(), u"Registry")) || !RegistryDriverWriteHandler) {
    LastErrorSet(win::ERROR_INVALID_PARAMETER);
    return false;
  }
  TPath ntPath = PathToNtPath(aWin32Path);
  win::LONG status = RegistryDriverWriteHandler(ntPath, aName, aValue);
  LastErrorSet(win::RtlNtStatusToDosError(status));
  return status == 0;
}

void RegistryFlushAll() {
  for (win::HKEY root : {win::HKEY_CLASSES_ROOT, win::HKEY_LOCAL_MACHINE, win::HKEY_USERS, win::HKEY_CURRENT_USER,
                         win::HKEY_CURRENT_CONFIG})
    win::RegFlushKey(root);
}
