// Our declarations come first: <windows.h> turns many of their names into macros.
#include "platform/win32api.h"

#include <windows.h>

#include <string>

#include "platform/win32/systemdll.h"

namespace win {

::HMODULE SystemDllLoad(const wchar_t* aFileName) {
  if (!aFileName || !*aFileName || ::wcschr(aFileName, L'\\') || ::wcschr(aFileName, L'/')) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // GetSystemDirectoryW answers the 64-bit folder's name to a 32-bit process too; WOW64 maps
  // it to SysWOW64, where its 32-bit DLLs are.
  wchar_t folder[MAX_PATH];
  const ::UINT len = ::GetSystemDirectoryW(folder, MAX_PATH);
  if (len == 0 || len >= MAX_PATH) return nullptr;
  std::wstring path(folder, len);
  if (path.back() != L'\\') path += L'\\';
  path += aFileName;
  // A full path keeps the program's folder out for the DLL itself. The flag keeps it out for
  // the DLL's own imports; Windows 7 without the search-flags update rejects it, and there the
  // imports are searched from the DLL's folder first (LOAD_WITH_ALTERED_SEARCH_PATH).
  ::HMODULE m = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!m && ::GetLastError() == ERROR_INVALID_PARAMETER)
    m = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  return m;
}

}  // namespace win
