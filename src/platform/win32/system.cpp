// Our declarations come first: <windows.h> turns many of their names into macros.
#include "platform/win32api.h"

#include <windows.h>
#include <shlobj.h>

#include "platform/win32/convert.h"
#include "platform/win32/systemdll.h"

namespace win {

HMODULE LoadLibraryW(LPCWSTR lpLibFileName) { return ::LoadLibraryW(W(lpLibFileName)); }
BOOL FreeLibrary(HMODULE hLibModule) { return ::FreeLibrary(static_cast<::HMODULE>(hLibModule)); }
FARPROC GetProcAddress(HMODULE hModule, const char* lpProcName) {
  return reinterpret_cast<FARPROC>(::GetProcAddress(static_cast<::HMODULE>(hModule), lpProcName));
}
BOOL IsWow64Process(HANDLE hProcess, BOOL* Wow64Process) { return ::IsWow64Process(hProcess, Wow64Process); }
int ProgramPointerBits() { return static_cast<int>(sizeof(void*) * 8); }

BOOL Wow64DisableWow64FsRedirection(LPVOID* OldValue) { return ::Wow64DisableWow64FsRedirection(OldValue); }
BOOL Wow64RevertWow64FsRedirection(LPVOID OlValue) { return ::Wow64RevertWow64FsRedirection(OlValue); }
UINT GetSystemDirectoryW(LPWSTR lpBuffer, UINT uSize) { return ::GetSystemDirectoryW(W(lpBuffer), uSize); }
UINT GetWindowsDirectoryW(LPWSTR lpBuffer, UINT uSize) { return ::GetWindowsDirectoryW(W(lpBuffer), uSize); }
BOOL SHGetSpecialFolderPathW(HWND hwnd, LPWSTR lpszPath, int csidl, BOOL fCreate) {
  return ::SHGetSpecialFolderPathW(static_cast<::HWND>(hwnd), W(lpszPath), csidl, fCreate);
}

HRSRC FindResourceW(HMODULE hModule, LPCWSTR lpName, LPCWSTR lpType) {
  return ::FindResourceW(static_cast<::HMODULE>(hModule), W(lpName), W(lpType));
}
HGLOBAL LoadResource(HMODULE hModule, HRSRC hResInfo) {
  return ::LoadResource(static_cast<::HMODULE>(hModule), static_cast<::HRSRC>(hResInfo));
}
DWORD SizeofResource(HMODULE hModule, HRSRC hResInfo) {
  return ::SizeofResource(static_cast<::HMODULE>(hModule), static_cast<::HRSRC>(hResInfo));
}
LPVOID LockResource(HGLOBAL hResData) { return ::LockResource(hResData); }

HMODULE LoadLibraryExW(LPCWSTR f, HANDLE h, DWORD flags) { return ::LoadLibraryExW(W(f), h, flags); }
HANDLE BeginUpdateResourceW(LPCWSTR f, BOOL bDelete) { return ::BeginUpdateResourceW(W(f), bDelete); }
BOOL UpdateResourceW(HANDLE h, LPCWSTR t, LPCWSTR n, WORD l, LPVOID d, DWORD cb) {
  return ::UpdateResourceW(h, W(t), W(n), l, d, cb);
}
BOOL EndUpdateResourceW(HANDLE h, BOOL fDiscard) { return ::EndUpdateResourceW(h, fDiscard); }

// version.dll is no known DLL: the program does not import it (systemdll.h).
namespace {
using TGetFileVersionInfoSizeW = ::DWORD(WINAPI*)(::LPCWSTR, ::LPDWORD);
using TGetFileVersionInfoW = ::BOOL(WINAPI*)(::LPCWSTR, ::DWORD, ::DWORD, ::LPVOID);
using TVerQueryValueW = ::BOOL(WINAPI*)(::LPCVOID, ::LPCWSTR, ::LPVOID*, ::PUINT);

template <class Fn>
Fn VersionProc(const char* aName) {
  return SystemDllProc<Fn>(L"version.dll", aName);
}
}  // namespace

DWORD GetFileVersionInfoSizeW(LPCWSTR f, DWORD* h) {
  static const auto fn = VersionProc<TGetFileVersionInfoSizeW>("GetFileVersionInfoSizeW");
  if (!fn) return 0;  // the loader's last error says why
  return fn(W(f), reinterpret_cast<::LPDWORD>(h));
}
BOOL GetFileVersionInfoW(LPCWSTR f, DWORD h, DWORD n, LPVOID d) {
  static const auto fn = VersionProc<TGetFileVersionInfoW>("GetFileVersionInfoW");
  if (!fn) return FALSE;
  return fn(W(f), h, n, d);
}
BOOL VerQueryValueW(LPCVOID b, LPCWSTR s, LPVOID* p, UINT* n) {
  static const auto fn = VersionProc<TVerQueryValueW>("VerQueryValueW");
  if (!fn) return FALSE;
  return fn(b, W(s), p, reinterpret_cast<::PUINT>(n));
}

}  // namespace win
