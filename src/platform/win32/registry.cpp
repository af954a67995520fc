// Our declarations come first: <windows.h> turns many of their names into macros.
#include "platform/win32api.h"

#include <windows.h>

#include "platform/win32/convert.h"

namespace win {

namespace {
::HKEY K(HKEY h) { return static_cast<::HKEY>(h); }
}  // namespace

LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, HKEY* phkResult) {
  return ::RegOpenKeyExW(K(hKey), W(lpSubKey), ulOptions, samDesired, reinterpret_cast<::HKEY*>(phkResult));
}
LSTATUS RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass, DWORD dwOptions, REGSAM samDesired,
                        LPSECURITY_ATTRIBUTES sa, HKEY* phkResult, DWORD* lpdwDisposition) {
  return ::RegCreateKeyExW(K(hKey), W(lpSubKey), Reserved, W(lpClass), dwOptions, samDesired,
                           Same<SECURITY_ATTRIBUTES, ::SECURITY_ATTRIBUTES>(sa), reinterpret_cast<::HKEY*>(phkResult),
                           lpdwDisposition);
}
LSTATUS RegCloseKey(HKEY hKey) { return ::RegCloseKey(K(hKey)); }
LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR n, DWORD* r, DWORD* t, BYTE* d, DWORD* c) {
  return ::RegQueryValueExW(K(hKey), W(n), r, t, d, c);
}
LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR n, DWORD r, DWORD t, const BYTE* d, DWORD c) {
  return ::RegSetValueExW(K(hKey), W(n), r, t, d, c);
}
LSTATUS RegDeleteValueW(HKEY hKey, LPCWSTR n) { return ::RegDeleteValueW(K(hKey), W(n)); }
LSTATUS RegDeleteKeyExW(HKEY hKey, LPCWSTR s, REGSAM sam, DWORD r) { return ::RegDeleteKeyExW(K(hKey), W(s), sam, r); }
LSTATUS RegEnumKeyExW(HKEY hKey, DWORD i, LPWSTR n, DWORD* cn, DWORD* r, LPWSTR c, DWORD* cc, FILETIME* ft) {
  return ::RegEnumKeyExW(K(hKey), i, W(n), cn, r, W(c), cc, Same<FILETIME, ::FILETIME>(ft));
}
LSTATUS RegEnumValueW(HKEY hKey, DWORD i, LPWSTR n, DWORD* cn, DWORD* r, DWORD* t, BYTE* d, DWORD* cd) {
  return ::RegEnumValueW(K(hKey), i, W(n), cn, r, t, d, cd);
}
LSTATUS RegFlushKey(HKEY hKey) { return ::RegFlushKey(K(hKey)); }

}  // namespace win
