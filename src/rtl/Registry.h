// The runtime's registry class: a root key, one open key at a time with its path relative to
// the root, the access mask keys are opened with, and the error code of the last call.
//
// Opening and querying report failure by result; reading a value of the wrong type and
// failing writes raise ERegistryException, as callers expect of the runtime's class.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32api.h"
#include "rtl/Exception.h"

class ERegistryException : public Exception {
 public:
  using Exception::Exception;
};

enum class TRegDataType { Unknown, String, ExpandString, MultiString, Integer, Int64, Binary };

struct TRegDataInfo {
  TRegDataType RegData = TRegDataType::Unknown;
  win::DWORD DataSize = 0;
};

class TRegistry {
 public:
  // Root HKEY_CURRENT_USER, access KEY_ALL_ACCESS unless given.
  TRegistry();
  explicit TRegistry(win::REGSAM aAccess);
  virtual ~TRegistry();
  TRegistry(const TRegistry&) = delete;
  TRegistry& operator=(const TRegistry&) = delete;

  win::HKEY RootKey() const { return FRootKey; }
  // Closes the current key first.
  void RootKeySet(win::HKEY aRootKey);
  win::HKEY CurrentKey() const { return FCurrentKey; }
  // The current key's path relative to the root, without a leading backslash.
  const Text& CurrentPath() const { return FCurrentPath; }
  win::REGSAM Access() const { return FAccess; }
  void AccessSet(win::REGSAM aAccess) { FAccess = aAccess; }
  // The result of the last registry call: 0 when it succeeded.
  win::DWORD LastErrorGet() const { return FLastError; }
  void LastErrorSet(win::DWORD aError) { FLastError = aError; }

  // aKey is relative to the current key, or to the root when it begins with '\'. On success
  // the key becomes the current key.
  virtual bool OpenKey(const Text& aKey, bool aCanCreate);
  bool OpenKeyReadOnly(const Text& aKey);
  void CloseKey();
  bool CreateKey(const Text& aKey);
  bool KeyExists(const Text& aKey);
  // Deletes the key with every key below it.
  bool DeleteKey(const Text& aKey);
  bool HasSubKeys();
  std::vector<Text> GetKeyNames();
  std::vector<Text> GetValueNames();

  bool ValueExists(const Text& aName);
  bool GetDataInfo(const Text& aName, TRegDataInfo& aInfo);
  bool DeleteValue(const Text& aName);

  // Reads raise ERegistryException for a value of another type; an absent text reads as
  // empty, an absent integer raises.
  Text ReadString(const Text& aName);
  std::int32_t ReadInteger(const Text& aName);
  std::int64_t ReadInt64(const Text& aName);
  std::vector<Text> ReadMultiString(const Text& aName);
  std::string ReadBinaryData(const Text& aName);

  // Writes raise ERegistryException when the value cannot be written.
  void WriteString(const Text& aName, const Text& aValue);
  void WriteExpandString(const Text& aName, const Text& aValue);
  void WriteMultiString(const Text& aName, const std::vector<Text>& aValues);
  void WriteInteger(const Text& aName, std::int32_t aValue);
  void WriteInt64(const Text& aName, std::int64_t aValue);
  void WriteBinaryData(const Text& aName, const std::string& aData);

 protected:
  // The key aKey names (see OpenKey) and its path relative to the root.
  win::HKEY BaseKeyFor(const Text& aKey, Text& aRelative, Text& aFullPath) const;
  bool CheckResult(win::LSTATUS aStatus);

 private:
  void ValueWrite(const Text& aName, win::DWORD aType, const void* aData, win::DWORD aSize);
  bool ValueRead(const Text& aName, win::DWORD& aType, std::string& aData);
  bool DeleteTree(win::HKEY aParent, const Text& aKey);

  win::HKEY FRootKey = win::HKEY_CURRENT_USER;
  win::HKEY FCurrentKey = nullptr;
  Text FCurrentPath;
  win::REGSAM FAccess = win::KEY_ALL_ACCESS;
  win::DWORD FLastError = 0;
};

// "HKEY_LOCAL_MACHINE" and the like; empty for another key.
Text RootKeyName(win::HKEY aRootKey);
