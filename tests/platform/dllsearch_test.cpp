// DLLs come from the system folder only, never from the current or the program's folder.
// Windows build only: the simulated machine loads no DLLs, so it has no search to restrict.
#ifdef _WIN32

#include <algorithm>

#include "TestSupport.h"

using namespace win;

namespace {

Text Lower(Text s) {
  std::transform(s.begin(), s.end(), s.begin(), [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; });
  return s;
}

Text SystemFolder() {
  char16_t buffer[MAX_PATH];
  const UINT n = GetSystemDirectoryW(buffer, MAX_PATH);
  return Text(buffer, n);
}

}  // namespace

// A file named like a DLL in the current folder is not looked at: without the start-up
// restriction, loading it by name would find it there and fail with 193 (not a program).
TEST(DllSearch, CurrentFolderIsNotSearched) {
  const Text folder = testsupport::ScratchFolder();
  ASSERT_TRUE(testsupport::FileWrite(folder + u"\\orvplanted.dll", "not a program"));
  char16_t previous[MAX_PATH];
  const DWORD n = GetCurrentDirectoryW(MAX_PATH, previous);
  ASSERT_GT(n, 0u);
  ASSERT_TRUE(SetCurrentDirectoryW(folder.c_str()));
  SetLastError(0);
  HMODULE m = LoadLibraryW(u"orvplanted.dll");
  const DWORD error = GetLastError();
  SetCurrentDirectoryW(previous);
  EXPECT_EQ(m, nullptr);
  EXPECT_EQ(error, 126u) << "126: not found; 193 would mean the current folder was searched";
}

// The version functions bring in version.dll on first use, and it is the system folder's.
TEST(DllSearch, VersionDllComesFromTheSystemFolder) {
  const Text kernel = SystemFolder() + u"\\kernel32.dll";
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeW(kernel.c_str(), &handle);
  ASSERT_GT(size, 0u);
  std::string block(size, '\0');
  ASSERT_TRUE(GetFileVersionInfoW(kernel.c_str(), handle, size, block.data()));
  LPVOID fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), u"\\", &fixed, &length));
  ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
  EXPECT_EQ(static_cast<VS_FIXEDFILEINFO*>(fixed)->dwSignature, 0xFEEF04BDu);

  HMODULE version = GetModuleHandleW(u"version.dll");
  ASSERT_NE(version, nullptr);
  char16_t path[MAX_PATH];
  const DWORD len = GetModuleFileNameW(version, path, MAX_PATH);
  ASSERT_GT(len, 0u);
  EXPECT_EQ(Lower(Text(path, len)), Lower(SystemFolder() + u"\\version.dll"));
}

#endif  // _WIN32
