#include "TestSupport.h"

#include <atomic>
#include <string>

namespace testsupport {

Text ScratchFolder() {
  static std::atomic<int> counter{0};
  win::WCHAR buf[win::MAX_PATH + 1];
  win::DWORD n = win::GetTempPathW(win::MAX_PATH + 1, buf);
  Text base(buf, n);
  if (!base.empty() && base.back() == u'\\') base.pop_back();
  Text folder = base + u"\\orvanta-test-" + T(std::to_string(win::GetCurrentProcessId())) + u"-" +
                T(std::to_string(++counter));
  win::CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
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
