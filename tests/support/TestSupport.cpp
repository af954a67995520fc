#include "TestSupport.h"

#ifndef _WIN32
#include <sys/stat.h>

#include <filesystem>

#include "platform/sim/machine.h"
#endif

#include <atomic>
#include <string>

namespace testsupport {

Text ScratchFolder() {
  static std::atomic<int> counter{0};
  win::WCHAR buf[win::MAX_PATH + 1];
  win::DWORD n = win::GetTempPathW(win::MAX_PATH + 1, buf);
  Text base(buf, n);
  if (!base.empty() && base.back() == u'\\') base.pop_back();
  // A folder nobody used before: an earlier run may have left one of the same name.
  for (;;) {
    Text folder = base + u"\\orvanta-test-" + T(std::to_string(win::GetCurrentProcessId())) + u"-" +
                  T(std::to_string(++counter));
    if (win::CreateDirectoryW(folder.c_str(), nullptr)) return folder;
    if (win::GetLastError() != win::ERROR_ALREADY_EXISTS) return folder;
  }
}

}  // namespace testsupport

namespace testsupport {

bool FileWrite(const Text& aPath, const std::string& aData) {
  win::HANDLE h = win::CreateFileW(aPath.c_str(), win::GENERIC_WRITE, 0, nullptr, win::CREATE_ALWAYS,
                                   win::FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == win::INVALID_HANDLE_VALUE) return false;
  win::DWORD written = 0;
  bool ok = win::WriteFile(h, aData.data(), static_cast<win::DWORD>(aData.size()), &written, nullptr) &&
            written == aData.size();
  win::CloseHandle(h);
  return ok;
}

std::optional<std::string> FileRead(const Text& aPath) {
  win::HANDLE h = win::CreateFileW(aPath.c_str(), win::GENERIC_READ, win::FILE_SHARE_READ, nullptr, win::OPEN_EXISTING,
                                   win::FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == win::INVALID_HANDLE_VALUE) return std::nullopt;
  std::string out;
  char buf[65536];
  for (;;) {
    win::DWORD n = 0;
    if (!win::ReadFile(h, buf, sizeof buf, &n, nullptr) || n == 0) break;
    out.append(buf, n);
  }
  win::CloseHandle(h);
  return out;
}

}  // namespace testsupport

namespace testsupport {

Text HelperProgram(const std::string& aName) {
#ifdef _WIN32
  win::WCHAR self[win::MAX_PATH];
  win::DWORD n = win::GetModuleFileNameW(nullptr, self, win::MAX_PATH);
  Text path(self, n);
  return path.substr(0, path.find_last_of(u'\\') + 1) + T(aName) + u".exe";
#else
  Text target = u"C:\\Users\\User\\Downloads\\" + T(aName) + u".exe";
  sim::PathContext c = sim::CurrentPathContext();
  sim::ResolvedPath r = sim::ResolvePath(c, target);
  std::string host = std::string(ORV_TEST_BINARY_DIR) + "/" + aName;
  std::error_code ec;
  std::filesystem::copy_file(host, r.Host, std::filesystem::copy_options::overwrite_existing, ec);
  ::chmod(r.Host.c_str(), 0755);
  return target;
#endif
}

AsAdministrator::AsAdministrator() {
#ifndef _WIN32
  FPrevious = sim::CurrentProcess() ? sim::CurrentProcess()->Integrity : 0;
  sim::CurrentProcessIntegritySet(sim::kIntegrityHigh);
#endif
}

AsAdministrator::~AsAdministrator() {
#ifndef _WIN32
  if (FPrevious) sim::CurrentProcessIntegritySet(FPrevious);
#endif
}

std::optional<std::string> RegistryValueRead(win::HKEY aRoot, const Text& aKey, const Text& aName, win::REGSAM aView,
                                             win::DWORD* aType) {
  win::HKEY key = nullptr;
  if (win::RegOpenKeyExW(aRoot, aKey.c_str(), 0, win::KEY_READ | aView, &key) != win::ERROR_SUCCESS) return std::nullopt;
  win::DWORD size = 0, type = 0;
  std::optional<std::string> out;
  if (win::RegQueryValueExW(key, aName.c_str(), nullptr, &type, nullptr, &size) == win::ERROR_SUCCESS) {
    std::string data(size, '\0');
    if (win::RegQueryValueExW(key, aName.c_str(), nullptr, &type, reinterpret_cast<win::BYTE*>(data.data()), &size) ==
        win::ERROR_SUCCESS) {
      data.resize(size);
      out = data;
      if (aType) *aType = type;
    }
  }
  win::RegCloseKey(key);
  return out;
}

}  // namespace testsupport
