// The registry as 64-bit programs see it, for a 32-bit program: keys are opened in the
// 64-bit view unless Force32Bit, every operation is logged, probes of keys that may be
// absent are quiet, and writes can go through an external handler that addresses keys by
// their NT names.
#pragma once

#include <functional>

#include "paths/uPaths.h"
#include "platform/win32api.h"
#include "rtl/Registry.h"
#include "rtl/Variant.h"

// Writes a value (or, for an empty name and an empty value, creates the key) given the key's
// NT path; returns an NT status, 0 for success. Empty unless a component provides one.
using TRegistryDriverWriteHandler = std::function<win::LONG(const TPath& aNtKeyPath, const Text& aName, const Variant& aValue)>;
extern TRegistryDriverWriteHandler RegistryDriverWriteHandler;

class TRegistryFor64OS : public TRegistry {
 public:
  // aForce32bit false: keys are opened with aAccess | KEY_WOW64_64KEY.
  explicit TRegistryFor64OS(win::REGSAM aAccess = win::KEY_ALL_ACCESS, bool aForce32bit = false);

  bool Force32Bit = false;

  // Into the current key; false (and logged) when the value cannot be written.
  bool WriteString(const Text& aName, const Text& aValue);
  bool WriteInteger(const Text& aName, std::int32_t aValue);
  // Logged; a failure is reported as a problem.
  bool OpenKey(const Text& aKey, bool aCanCreate) override;
  // Opens the key if it exists; its absence is expected and not reported.
  bool OpenExistingTry(const Text& aKey);
  // Deletes the key with everything below it; true when it does not exist; false for an
  // empty name.
  bool KeyDeleteTree(const Text& aKey);
  // Not available: report their use and return false.
  bool KeyPermissionsSetAdminFullAccess(const Text& aKey);
  bool KeyOwnerSetToAdministratorsGroup(const Text& aKey);
  // aString + " (" + WindowsErrorText(LastError) + ")" to RegistryLogHook; a failure is
  // reported unless aDoNotReportError.
  void Log(const Text& aString, bool aDoNotReportError);
  void LogIgnoreError(const Text& aString);
  // The root's name, "\", aKey.
  Text KeyToLogString(const Text& aKey) const;
  win::DWORD LastError() const { return LastErrorGet(); }
  // The NT form of a key path relative to the root ('\Registry\Machine\...'), with the 32-bit
  // view's redirection to Wow6432Node when Force32Bit on 64-bit Windows.
  TPath PathToNtPath(const TPath& aPath) const;
  void LastErrorReset() { LastErrorSet(0); }
  // A handler is assigned and the root is HKEY_CLASSES_ROOT or HKEY_LOCAL_MACHINE.
  bool WriteViaDriverPossible() const;
  bool WriteViaDriver(const TPath& aWin32Path, const Text& aName, const Variant& aValue);

 private:
  // aKey as a path from the root (it may be relative to the current key).
  Text KeyFromRoot(const Text& aKey) const;
};

// Writes every predefined root to disk (RegFlushKey); failures are ignored.
void RegistryFlushAll();
